#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using Env = std::vector<std::pair<std::string, std::string>>;

inline std::vector<std::string> ReadLines(const fs::path& File)
{
    std::vector<std::string> lines;
    std::ifstream in(File);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline std::vector<std::string> Fields(const std::string& Line)
{
    std::vector<std::string> fields;
    std::stringstream in(Line);
    for (std::string f; std::getline(in, f, ',');)
        fields.push_back(f);
    if (!Line.empty() && Line.back() == ',')
        fields.emplace_back();
    return fields;
}

inline void WriteFile(const fs::path& File, const std::string& Text)
{
    std::ofstream(File) << Text;
}

inline void Sleep(double Seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(Seconds));
}

// A scratch folder of its own for every test.
class MonitorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        Dir = fs::path(::testing::TempDir()) /
              ("qxmon_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        Out = Dir / "out";
    }
    void TearDown() override
    {
        if (Pid > 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
        if (!HasFailure())
            fs::remove_all(Dir);
    }

    // Starts the program (the monitor with seams unless told otherwise) without a display,
    // stderr into Dir/stderr.txt and stdout into Dir/stdout.txt.
    void Start(const std::vector<std::string>& Args, const Env& Variables = {},
               const char* Program = QX_MONITOR_SEAMS)
    {
        Pid = ::fork();
        ASSERT_GE(Pid, 0);
        if (Pid == 0) {
            for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                  "QUILLEX_RECEIVER_LIBRARY", "QUILLEX_SIM_BLOCK_RATE"})
                ::unsetenv(v);
            for (const auto& [name, value] : Variables)
                ::setenv(name.c_str(), value.c_str(), 1);
            const std::string err = (Dir / "stderr.txt").string();
            const std::string out = (Dir / "stdout.txt").string();
            if (!std::freopen(err.c_str(), "w", stderr) || !std::freopen(out.c_str(), "w", stdout))
                ::_exit(126);
            std::vector<const char*> argv{Program};
            for (const std::string& a : Args)
                argv.push_back(a.c_str());
            argv.push_back(nullptr);
            ::execv(Program, const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
    }

    // The exit code, or -1 when it did not end within Seconds (then it is killed).
    int Wait(double Seconds)
    {
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(Seconds);
        int status = 0;
        while (::waitpid(Pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                ::kill(Pid, SIGKILL);
                ::waitpid(Pid, &status, 0);
                Pid = 0;
                return -1;
            }
            Sleep(0.01);
        }
        Pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    int Run(const std::vector<std::string>& Args, const Env& Variables = {}, double Seconds = 30,
            const char* Program = QX_MONITOR_SEAMS)
    {
        Start(Args, Variables, Program);
        return Wait(Seconds);
    }

    void Signal(int Number) { ::kill(Pid, Number); }

    std::vector<std::string> Log() const { return ReadLines(Dir / "stderr.txt"); }
    // Log lines holding Text.
    int LogCount(const std::string& Text) const
    {
        int n = 0;
        for (const std::string& line : Log())
            n += line.find(Text) != std::string::npos;
        return n;
    }
    // Waits until the log has a line holding Text; false after Seconds.
    bool AwaitLog(const std::string& Text, double Seconds)
    {
        for (double t = 0; t < Seconds; t += 0.02, Sleep(0.02))
            if (LogCount(Text) > 0)
                return true;
        return false;
    }

    // The lines of the day's statistics (without the header).
    std::vector<std::vector<std::string>> StatsRows() const
    {
        std::vector<std::vector<std::string>> rows;
        for (const auto& e : fs::directory_iterator(Out / "stats"))
            for (const std::string& line : ReadLines(e.path()))
                if (line.rfind("time,", 0) != 0)
                    rows.push_back(Fields(line));
        return rows;
    }

    fs::path Dir, Out;
    pid_t Pid = 0;
};

// The stand-in receiver with a signal of its own, paced at Rate blocks a second.
inline Env StandIn(const std::string& Tone, const std::string& Noise, double Rate = 150)
{
    return {{"QUILLEX_RECEIVER_LIBRARY", QX_STANDIN},
            {"QX_STANDIN_TONE", Tone},
            {"QX_STANDIN_NOISE", Noise},
            {"QX_STANDIN_RATE", std::to_string(Rate)}};
}
