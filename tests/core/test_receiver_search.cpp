// Where the receiver library is found, tried on a scratch install: a copy of a program
// that binds the library as the window does lies in <prefix>/bin, and libraries of the
// same name lie where the search looks (the program's folder, a folder of the system's
// search, the private folder <prefix>/lib/.../quillex) and where it must not (the working
// folder). The real receiver's library is played by a build of the simulator without
// its mark.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class ReceiverSearch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Root = fs::path(::testing::TempDir()) / ("quillex_search_" + std::to_string(getpid()));
        fs::remove_all(Root);
        for (const fs::path& folder : {Bin, Private, System, Work})
            fs::create_directories(Root / folder);
        fs::copy_file(QUILLEX_RECEIVER_PROBE, Root / Bin / "quillex");
    }
    void TearDown() override { fs::remove_all(Root); }

    void Place(const char* Library, const fs::path& Folder)
    {
        fs::copy_file(Library, Root / Folder / "libperseususb.so",
                      fs::copy_options::overwrite_existing);
    }
    void Remove(const fs::path& Folder) { fs::remove(Root / Folder / "libperseususb.so"); }

    // Runs the program from the working folder with only the given variables of the
    // search set, and answers "<folder> simulated|receiver" relative to the scratch root.
    std::string Found(const std::string& Variables, const fs::path& Program = Bin / "quillex")
    {
        const std::string command = "cd '" + (Root / Work).string() +
                                    "' && env -u QUILLEX_RECEIVER_LIBRARY -u LD_LIBRARY_PATH " +
                                    Variables + " '" + (Root / Program).string() + "' 2>&1";
        std::string output;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char chunk[512];
            while (const size_t n = fread(chunk, 1, sizeof chunk, pipe))
                output.append(chunk, n);
            pclose(pipe);
        }
        const auto space = output.rfind(' ');
        if (space == std::string::npos)
            return output;
        const fs::path file = fs::weakly_canonical(output.substr(0, space));
        const std::string kind = output.substr(space + 1, output.find('\n', space) - space - 1);
        return fs::relative(file.parent_path(), fs::canonical(Root)).string() + " " + kind;
    }

    std::string SystemSearch() const { return "LD_LIBRARY_PATH=" + (Root / System).string(); }

    fs::path Root;
    inline static const fs::path Bin = "prefix/bin",
                                 Private = fs::path("prefix") / QUILLEX_PRIVATE_LIBRARY_DIR,
                                 System = "system", Work = "work";
};

TEST_F(ReceiverSearch, ProgramFolderThenSystemThenPrivateFolderNeverTheWorkingFolder)
{
    Place(QUILLEX_UNMARKED, Work);
    EXPECT_EQ(Found(""), "none\n");
    Place(QUILLEX_SIMULATOR, Private);
    Place(QUILLEX_UNMARKED, System);
    Place(QUILLEX_UNMARKED, Bin);
    EXPECT_EQ(Found(SystemSearch()), "prefix/bin receiver");
    Remove(Bin);
    // An installed receiver library wins over the simulator in the private folder.
    EXPECT_EQ(Found(SystemSearch()), "system receiver");
    EXPECT_EQ(Found(""), Private.string() + " simulated");
    // The private folder belongs to where the program really lies, not to a link to it.
    fs::create_directories(Root / "links");
    fs::create_symlink(Root / Bin / "quillex", Root / "links" / "quillex");
    Place(QUILLEX_UNMARKED, "links");
    EXPECT_EQ(Found("", "links/quillex"), Private.string() + " simulated");
    // A simulator beside the program, as in the build folder, still says what it is.
    Place(QUILLEX_SIMULATOR, Bin);
    EXPECT_EQ(Found(SystemSearch()), "prefix/bin simulated");
}

} // namespace
