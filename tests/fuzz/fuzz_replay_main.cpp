// Runs a fuzz target over files and folders of saved inputs (seed corpora and the inputs
// that once found a fault), so that they are checked by every build, with or without a
// fuzzing engine.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

namespace {

void RunFile(const std::filesystem::path& Path)
{
    std::ifstream in(Path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    std::fprintf(stderr, "%s (%zu bytes)\n", Path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

int main(int argc, char** argv)
{
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
                if (entry.is_regular_file() && entry.path().filename() != "README") {
                    RunFile(entry.path());
                    ++inputs;
                }
        } else if (std::filesystem::is_regular_file(path)) {
            RunFile(path);
            ++inputs;
        } else {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            return 1;
        }
    }
    std::fprintf(stderr, "%d inputs passed\n", inputs);
    return inputs > 0 ? 0 : 1; // a corpus that went missing must not pass silently
}
