// The monitor as installed people run it: on the simulated receiver, without a display and
// without Qt, ended by SIGTERM in the middle of a recording.

#include "monitor_test_support.h"

#include <cmath>
#include <cstdio>
#include <cstring>

TEST_F(MonitorTest, RunsOnTheSimulatedReceiverAndEndsARecordingWholeOnSigterm)
{
    Start({"--out", Out.string(), "--record-all", "--frame-rate", "0", "--stats-interval-s", "1",
           "--band", "b=9.5:10.5"},
          {{"QUILLEX_RECEIVER_LIBRARY", QX_SIMULATOR}}, QX_MONITOR);
    ASSERT_TRUE(AwaitLog("info: simulated receiver: " + fs::canonical(QX_SIMULATOR).string(), 5));
    Sleep(2.5);
    Signal(SIGTERM);
    const auto stop = std::chrono::steady_clock::now();
    ASSERT_EQ(Wait(5), 0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - stop).count(), 2.0);
    EXPECT_GE(StatsRows().size(), 2u);
    EXPECT_FALSE(fs::is_empty(Out / "waterfall"));
    for (const std::string& line : Log()) // every output written: nothing to complain of
        EXPECT_EQ(line.find("error"), std::string::npos) << line;

    // The recording: whole records after the offsets header, a stamp on about a frame a second.
    const fs::path file = *fs::directory_iterator(Out / "recordings");
    const auto bytes = fs::file_size(file);
    ASSERT_EQ(bytes % 16392, 0u);
    std::ifstream in(file, std::ios::binary);
    std::vector<char> record(16392);
    in.read(record.data(), 16392);
    EXPECT_EQ(std::string(record.data(), 8), "Offsets:");
    std::vector<double> stamps;
    while (in.read(record.data(), 16392)) {
        double stamp;
        std::memcpy(&stamp, record.data(), 8);
        if (stamp != 0)
            stamps.push_back(stamp);
    }
    const double frames = double(bytes / 16392 - 1);
    EXPECT_NEAR(frames / 150, 2.5, 0.6);
    ASSERT_GE(stamps.size(), 2u);
    for (size_t i = 1; i < stamps.size(); ++i)
        EXPECT_NEAR((stamps[i] - stamps[i - 1]) * 86400, 1.0, 0.1);
}

// The window's debug signal: a sine of 327.68 every 7.6543 samples at 80 MHz, whose level is
// 20 log10(327.68 / 16384) dBm; no receiver library is looked for. The default frame rate, 40
// frames a second, paces it.
TEST_F(MonitorTest, DebugRunsOnTheSyntheticSignalWithoutAReceiver)
{
    ASSERT_EQ(Run({"--out", Out.string(), "--debug", "--duration-s", "3.2", "--stats-interval-s",
                   "1", "--band", "b=9:11"},
                  {{"QUILLEX_RECEIVER_LIBRARY", "/nonexistent/libperseususb.so"}}, 10, QX_MONITOR),
              0);
    EXPECT_EQ(LogCount("receiver"), 0);
    const auto rows = StatsRows();
    ASSERT_GE(rows.size(), 3u);
    EXPECT_NEAR(double(std::stoll(rows[2][2]) - std::stoll(rows[1][2])), 40, 4);
    for (const auto& row : rows) {
        EXPECT_NEAR(std::stod(row[10]), 80 / 7.6543, 40.0 / 2048 / 10);
        EXPECT_NEAR(std::stod(row[11]), 20 * std::log10(327.68 / 16384), 0.1);
    }
}

TEST(MonitorProgram, LinksNoQt)
{
    std::FILE* in = ::popen("readelf -d " QX_MONITOR, "r");
    ASSERT_NE(in, nullptr);
    std::string text;
    for (char buffer[256]; std::fgets(buffer, sizeof buffer, in);)
        text += buffer;
    ASSERT_EQ(::pclose(in), 0);
    EXPECT_NE(text.find("NEEDED"), std::string::npos);
    EXPECT_EQ(text.find("Qt"), std::string::npos) << text;
}
