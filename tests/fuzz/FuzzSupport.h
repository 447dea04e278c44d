#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

// A check inside a fuzz target: a failure prints its reason and aborts, which the fuzzer
// and the replay runner both count as a found fault.
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, #condition, \
                         what);                                                                    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// A folder of its own (in memory where the system offers one) for the files of one input,
// emptied between inputs.
class TScratchFolder
{
public:
    TScratchFolder()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                          : base && *base                 ? base
                                                                          : "/tmp") +
                              "/quillex-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
        FPath = pattern;
    }
    ~TScratchFolder() { std::filesystem::remove_all(FPath); }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    std::string PathOf(const std::string& Name) const { return FPath + "/" + Name; }

    // The names of the files in it, sorted.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(FPath))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    void Clear() const
    {
        for (const std::string& name : Files())
            std::filesystem::remove(PathOf(name));
    }
    // Writes Name afresh, for the units under test to open exactly as they open the user's
    // files; returns its path.
    std::string Put(const std::string& Name, const void* Data, size_t Size) const
    {
        const std::string path = PathOf(Name);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        FUZZ_CHECK(f != nullptr, "create a scratch file");
        FUZZ_CHECK(Size == 0 || std::fwrite(Data, 1, Size, f) == Size, "write a scratch file");
        FUZZ_CHECK(std::fclose(f) == 0, "close a scratch file");
        return path;
    }

private:
    std::string FPath;
};

// A CSV line split at commas (the exporter's tables quote nothing).
inline std::vector<std::string> SplitCsv(const std::string& Line)
{
    std::vector<std::string> cells;
    for (size_t from = 0;;) {
        const size_t comma = Line.find(',', from);
        cells.push_back(Line.substr(from, comma - from));
        if (comma == std::string::npos)
            return cells;
        from = comma + 1;
    }
}

// The lines of a CSV file, each split at its commas; none when it cannot be read.
inline std::vector<std::vector<std::string>> ReadCsvFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::vector<std::vector<std::string>> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(SplitCsv(line));
    return lines;
}

// Deterministic choices drawn from the input itself (splitmix64 seeded with an FNV-1a
// hash of its 8-byte words), so that every input is a plain file and still drives its own
// sequence of calls. Word by word, since the fuzzer traces every comparison of a loop.
class TChoices
{
public:
    TChoices(const uint8_t* Data, size_t Size)
    {
        FState = 1469598103934665603ull ^ Size;
        for (size_t i = 0; i < Size; i += 8) {
            uint64_t word = 0;
            std::memcpy(&word, Data + i, std::min<size_t>(8, Size - i));
            FState = (FState ^ word) * 1099511628211ull;
        }
    }
    explicit TChoices(uint64_t Seed) : FState(Seed) {}
    uint64_t Next()
    {
        uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. Bound - 1 (Bound > 0).
    uint64_t Below(uint64_t Bound) { return Next() % Bound; }

private:
    uint64_t FState;
};
