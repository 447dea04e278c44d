#pragma once

#include "ReceiverAccess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using Lines = std::vector<std::string>;

// Clears the simulator's settings: it then runs paced, untraced and without faults.
inline void ClearSimulatorVariables()
{
    for (const char* name :
         {"QUILLEX_RECEIVER_LIBRARY", "QUILLEX_SIM_OPEN_FAIL", "QUILLEX_SIM_FIRMWARE_FAIL",
          "QUILLEX_SIM_FPGA_RESULT", "QUILLEX_SIM_TRACE", "QUILLEX_SIM_BLOCK_RATE"})
        unsetenv(name);
}

// Binds the simulated receiver built next to this test program, with a fresh
// call trace and no pacing unless a test asks for it.
class SimulatedReceiverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearSimulatorVariables();
        TracePath = ::testing::TempDir() + "quillex_trace_" + std::to_string(getpid()) + ".txt";
        std::remove(TracePath.c_str());
        setenv("QUILLEX_SIM_TRACE", TracePath.c_str(), 1);
        setenv("QUILLEX_SIM_BLOCK_RATE", "0", 1);
    }

    void TearDown() override
    {
        Receiver.ReleaseReceiverLibrary();
        ClearSimulatorVariables();
        std::remove(TracePath.c_str());
    }

    // Points the binding at a simulator variant built next to this program.
    static void UseBuiltLibrary(const std::string& file)
    {
        char path[4096];
        const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
        const std::string exe(path, length > 0 ? length : 0);
        setenv("QUILLEX_RECEIVER_LIBRARY", (exe.substr(0, exe.rfind('/') + 1) + file).c_str(), 1);
    }

    bool Bind()
    {
        return Receiver.BindReceiverLibrary(
            [this](const std::string& text) { Messages.push_back(text); });
    }

    Lines TraceLines() const
    {
        Lines lines;
        std::ifstream in(TracePath);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    TReceiverAccess Receiver;
    Lines Messages;
    std::string TracePath;
};
