#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

// The message of the exception of type E that Body throws; a test failure and "" when it
// throws none.
template <class E, class F> std::string Thrown(F Body)
{
    try {
        Body();
    } catch (const E& e) {
        return e.what();
    }
    ADD_FAILURE() << "no exception";
    return "";
}

// Imitates a full disk while it lives: files cannot grow past Bytes.
class TFullDisk
{
public:
    explicit TFullDisk(rlim_t Bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN); // a failing write, not a killed test program
        getrlimit(RLIMIT_FSIZE, &Old);
        const rlimit limit{Bytes, Old.rlim_max};
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    ~TFullDisk() { setrlimit(RLIMIT_FSIZE, &Old); }

private:
    rlimit Old{};
};

// A fresh folder per test and one file in it, read and written whole.
class TempFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillex-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Dir = pattern;
        Path = (Dir / "file").string();
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }

    std::string Content() const
    {
        std::ifstream in(Path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void Put(const std::string& content) const { std::ofstream(Path, std::ios::binary) << content; }

    std::filesystem::path Dir;
    std::string Path;
};
