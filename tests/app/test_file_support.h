#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Runs Body in a child process whose files cannot grow past Bytes, as on a full disk;
// returns Body's result, or -1 when the child did not end normally.
inline int WithFileSizeLimit(rlim_t Bytes, const std::function<int()>& Body)
{
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{Bytes, Bytes};
        _exit(setrlimit(RLIMIT_FSIZE, &limit) == 0 ? Body() : 100);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
