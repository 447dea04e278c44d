// The monitor against what goes wrong around it: the receiver, the disk, the clock, the files
// it is given, and the signals of a service.

#include "monitor_test_support.h"

#include <cmath>

namespace {

const std::string Tone = "7.109375:2000";

// Seconds of CPU the process has used so far.
double CpuSeconds(pid_t Pid)
{
    std::ifstream in("/proc/" + std::to_string(Pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::stringstream fields(text.substr(text.rfind(')') + 2));
    std::string f;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i)
        if (i >= 14)
            ticks += std::stod(f);
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

double SecondsOfDay(const std::string& Iso)
{
    return std::stod(Iso.substr(11, 2)) * 3600 + std::stod(Iso.substr(14, 2)) * 60 +
           std::stod(Iso.substr(17));
}

} // namespace

// Missing at first, then failing reads, then a read that never returns: each is one line, the
// receiver is closed and found again, the gaps leave no statistics, nothing spins meanwhile.
TEST_F(MonitorTest, ReceiverFaultsAreLoggedOnceAndTheReceiverIsFoundAgain)
{
    const fs::path absent = Dir / "absent", fail = Dir / "fail", hang = Dir / "hang";
    const fs::path trace = Dir / "trace";
    WriteFile(absent, "");
    Env env = StandIn(Tone, "20");
    env.insert(env.end(), {{"QX_STANDIN_ABSENT", absent.string()},
                           {"QX_STANDIN_FAIL", fail.string()},
                           {"QX_STANDIN_HANG", hang.string()},
                           {"QX_STANDIN_TRACE", trace.string()},
                           {"QX_TEST_RETRY_S", "1"}});
    Start({"--out", Out.string(), "--frame-rate", "0", "--stats-interval-s", "0.5", "--band",
           "b=7:7.3", "--attenuator-db", "30"},
          env);
    ASSERT_TRUE(
        AwaitLog("error: receiver: Perseus not found; receiver closed, trying again every 1 s", 3));
    const double cpu = CpuSeconds(Pid);
    Sleep(2.2);
    EXPECT_LT(CpuSeconds(Pid) - cpu, 0.2); // waiting, not spinning
    fs::remove(absent);
    ASSERT_TRUE(AwaitLog("receiver open", 3));
    Sleep(1.0);
    WriteFile(fail, "");
    ASSERT_TRUE(AwaitLog("receiver fault: its read failed; receiver closed", 3));
    Sleep(1.6);
    fs::remove(fail);
    Sleep(1.5);
    WriteFile(hang, "");
    ASSERT_TRUE(AwaitLog("receiver fault: no block within 2 s; receiver closed", 4));
    fs::remove(hang);
    Sleep(2.5);
    Signal(SIGTERM);
    ASSERT_EQ(Wait(5), 0);

    // Each fault once, however often the receiver was tried meanwhile.
    EXPECT_EQ(LogCount("Perseus not found"), 1);
    EXPECT_EQ(LogCount("its read failed"), 1);
    EXPECT_EQ(LogCount("within 2 s"), 1);
    EXPECT_EQ(LogCount("receiver open"), 3);
    int absentOpens = 0, closes = 0, attenuator = 0;
    for (const std::string& line : ReadLines(trace)) {
        absentOpens += line.find("Open absent") != std::string::npos;
        closes += line.find("Close") != std::string::npos;
        if (line.find("SetAttenuator") != std::string::npos) // 30 dB is the library's step 3
            attenuator += line.ends_with("SetAttenuator 3") ? 1 : -100;
    }
    EXPECT_GE(attenuator, 3); // at each opening
    EXPECT_GE(absentOpens, 2);
    EXPECT_LE(absentOpens, 5);
    // Closed after the failing reads and at the end (a library stuck in a read is left alone).
    EXPECT_GE(closes, 2);
    EXPECT_NE(ReadLines(trace).back().find("Close"), std::string::npos);
    // Statistics only for intervals with frames: a gap between two lines at the faults, the
    // frame numbers going on from the frames received.
    const auto rows = StatsRows();
    ASSERT_GE(rows.size(), 6u);
    int gaps = 0;
    for (size_t r = 1; r < rows.size(); ++r) {
        const double step = SecondsOfDay(rows[r][0]) - SecondsOfDay(rows[r - 1][0]);
        gaps += step > 0.75;
        EXPECT_GT(std::stoll(rows[r][2]), std::stoll(rows[r - 1][2]));
        const double frames = double(std::stoll(rows[r][2]) - std::stoll(rows[r - 1][2]));
        if (step < 0.75 && r + 1 < rows.size()) {
            EXPECT_LE(frames, 0.5 * 150 * 1.2);
        }
    }
    EXPECT_EQ(gaps, 2);
}

// The disk: a budget of 1 MB for the recordings deletes the oldest of the monitor's own, never
// the one being written nor anything else in its folders.
TEST_F(MonitorTest, DiskBudgetDeletesTheOldestOwnRecordingsOnly)
{
    fs::create_directories(Out / "recordings");
    fs::create_directories(Out / "alarms");
    const std::vector<fs::path> foreign = {
        Out / "recordings/notes.txt",        Out / "recordings/2026-01-01_00.spk.part",
        Out / "recordings/2026-01-01_0.spk", Out / "recordings/2026-01-01_00_1.spk",
        Out / "alarms/limit_old.spk",        Out / "alarms/other.spk"};
    for (const fs::path& f : foreign)
        WriteFile(f, std::string(200000, 'x'));
    const std::vector<fs::path> old = {Out / "recordings/2000-01-01_00.spk",
                                       Out / "alarms/limit_2000-01-01_00-00-00.000.spk"};
    for (const fs::path& f : old)
        WriteFile(f, std::string(16392 * 10, '\0'));
    ASSERT_EQ(Run({"--out", Out.string(), "--frame-rate", "0", "--record-all", "--disk-budget-mb",
                   "1", "--duration-s", "3"},
                  StandIn(Tone, "20")),
              0);
    for (const fs::path& f : foreign)
        EXPECT_EQ(fs::file_size(f), 200000u) << f;
    for (const fs::path& f : old)
        EXPECT_FALSE(fs::exists(f)) << f;
    uintmax_t total = 0;
    std::vector<std::string> own;
    for (const auto& e : fs::directory_iterator(Out / "recordings"))
        if (std::find(foreign.begin(), foreign.end(), e.path()) == foreign.end()) {
            own.push_back(e.path().filename());
            total += e.file_size();
            EXPECT_EQ(e.file_size() % 16392, 0u);
        }
    EXPECT_LE(total, 1000000u);
    // Three seconds at 150 frames a second are 7.4 MB: the parts kept are the newest.
    ASSERT_GE(own.size(), 3u);
    std::sort(own.begin(), own.end(), [](const std::string& A, const std::string& B) {
        const auto part = [](const std::string& S) {
            const size_t u = S.find('_', 11);
            return u == std::string::npos ? 1 : std::stoi(S.substr(u + 1));
        };
        return part(A) < part(B);
    });
    const int highest = [&] {
        const size_t u = own.back().find('_', 11);
        return u == std::string::npos ? 1 : std::stoi(own.back().substr(u + 1));
    }();
    EXPECT_GT(highest, 40); // 7.4 MB in parts of 125 kB: the last is kept, the first are gone
    // Parts of an eighth of the budget: the whole records that fit 125 kB, the header's too.
    for (const std::string& name : own)
        if (name != own.back()) {
            EXPECT_EQ(fs::file_size(Out / "recordings" / name), 125000 / 16392 * 16392u) << name;
        }
    EXPECT_EQ(LogCount("disk budget: deleted"), 1); // once, not per file

    // A run again within the hour numbers its parts on from the last: the oldest it deletes
    // are the first run's.
    ASSERT_EQ(Run({"--out", Out.string(), "--frame-rate", "0", "--record-all", "--disk-budget-mb",
                   "1", "--duration-s", "1.5"},
                  StandIn(Tone, "20")),
              0);
    for (const auto& e : fs::directory_iterator(Out / "recordings")) {
        const std::string name = e.path().filename();
        if (name.size() > 14 && name[13] == '_' && name.find(".spk") != std::string::npos &&
            std::find(foreign.begin(), foreign.end(), e.path()) == foreign.end()) {
            EXPECT_GT(std::stoi(name.substr(14)), highest) << name;
        }
    }
}

// A disk below its minimum pauses the recordings (one line) while the statistics go on, and
// they resume when space returns. A statistics file that cannot be written meanwhile is one
// line too, and its lines come with the next interval that can write, none lost.
TEST_F(MonitorTest, RecordingsPauseOnAFullDiskAndResume)
{
    const fs::path free = Dir / "free";
    WriteFile(free, "0");
    Env env = StandIn(Tone, "20");
    env.emplace_back("QX_TEST_FREE_FILE", free.string());
    Start({"--out", Out.string(), "--record-all", "--min-free-mb", "100", "--stats-interval-s", "1",
           "--band", "b=7:7.3"},
          env);
    ASSERT_TRUE(AwaitLog("recordings paused: 0 MB free", 3));
    Sleep(1.5);
    const fs::path stats = *fs::directory_iterator(Out / "stats");
    fs::rename(stats, Dir / "before.csv");
    fs::create_directory(stats); // a folder of the file's name: it cannot be opened
    ASSERT_TRUE(AwaitLog("cannot open " + stats.string(), 3));
    Sleep(1.2);
    fs::remove(stats);
    EXPECT_TRUE(fs::is_empty(Out / "recordings"));
    EXPECT_FALSE(fs::is_empty(Out / "waterfall")); // written while it runs, not only at the end
    WriteFile(free, "500");
    ASSERT_TRUE(AwaitLog("recordings go on", 7));
    Sleep(1);
    Signal(SIGTERM);
    ASSERT_EQ(Wait(5), 0);
    EXPECT_EQ(LogCount("recordings paused"), 1);
    EXPECT_EQ(LogCount("cannot open"), 1);
    EXPECT_EQ(LogCount("the statistics works again"), 1);
    EXPECT_FALSE(fs::is_empty(Out / "recordings"));
    std::vector<std::string> lines = ReadLines(Dir / "before.csv");
    for (const std::string& line : ReadLines(stats))
        if (line.rfind("time,", 0) != 0)
            lines.push_back(line);
    ASSERT_GE(lines.size(), 8u);
    for (size_t i = 3; i < lines.size(); ++i)
        EXPECT_NEAR(SecondsOfDay(lines[i]) - SecondsOfDay(lines[i - 1]), 1.0, 0.01) << lines[i];
}

// The wall clock steps an hour ahead: one line; the intervals and the episode in progress go on
// by the monotonic clock, their times by the wall clock.
TEST_F(MonitorTest, AClockStepNeitherStretchesAnEpisodeNorLosesAnInterval)
{
    const fs::path clock = Dir / "clock";
    WriteFile(clock, "0");
    WriteFile(Dir / "limits.csv", "MHz,upper_dBm,lower_dBm\n1,-15,\n");
    Env env = StandIn(Tone, "20");
    env.insert(env.end(), {{"QX_TEST_CLOCK_FILE", clock.string()},
                           {"QX_STANDIN_BURST", "15.0390625:4000:1:0.5"}});
    Start({"--out", Out.string(), "--frame-rate", "0", "--stats-interval-s", "0.5", "--band",
           "b=7:7.3", "--limits", (Dir / "limits.csv").string(), "--hold-off-s", "0.2"},
          env);
    Sleep(2.5);
    WriteFile(clock, "3600");
    Sleep(2.5);
    Signal(SIGTERM);
    ASSERT_EQ(Wait(5), 0);
    EXPECT_EQ(LogCount("the wall clock stepped by +3600"), 1);
    const auto rows = StatsRows();
    ASSERT_GE(rows.size(), 8u);
    int steps = 0;
    for (size_t r = 2; r + 1 < rows.size(); ++r) {
        double step = SecondsOfDay(rows[r][0]) - SecondsOfDay(rows[r - 1][0]);
        if (step > 3000) {
            ++steps;
            step -= 3600;
        }
        EXPECT_NEAR(step, 0.5, 0.02) << rows[r][0];
    }
    EXPECT_EQ(steps, 1);
    // Every burst is an episode of its own length in frames, the one across the step too (the
    // first may have begun before the receiver delivered, the last is cut by SIGTERM).
    const auto events = ReadLines(Out / "events.csv");
    ASSERT_GE(events.size(), 5u);
    for (size_t i = 2; i + 1 < events.size(); ++i) {
        const auto f = Fields(events[i]);
        EXPECT_NEAR(double(std::stoll(f[3]) - std::stoll(f[2]) + 1), 75, 15) << events[i];
    }
}

// SIGHUP reads the limits again: a limit below the bursts starts episodes; a file that does
// not parse is named in one line and the limit in force stays.
TEST_F(MonitorTest, HangUpReadsTheLimitsAgainAndKeepsThemWhenTheFileIsBroken)
{
    const fs::path limits = Dir / "limits.csv";
    WriteFile(limits, "MHz,upper_dBm,lower_dBm\n1,-5,\n");
    Env env = StandIn(Tone, "20");
    env.emplace_back("QX_STANDIN_BURST", "15.0390625:4000:1:0.4");
    Start({"--out", Out.string(), "--frame-rate", "0", "--limits", limits.string(), "--hold-off-s",
           "0.2"},
          env);
    Sleep(2.5);
    WriteFile(limits, "MHz,upper_dBm,lower_dBm\n1,-15,\n");
    Signal(SIGHUP);
    ASSERT_TRUE(AwaitLog("SIGHUP: N = 2048", 2));
    Sleep(2.5);
    const size_t before = ReadLines(Out / "events.csv").size();
    WriteFile(limits, "MHz,upper_dBm,lower_dBm\n1,-15,\nx,3,\n");
    Signal(SIGHUP);
    ASSERT_TRUE(AwaitLog("limits in force stay", 2));
    Sleep(2.5);
    Signal(SIGTERM);
    ASSERT_EQ(Wait(5), 0);
    EXPECT_EQ(LogCount("Line 3 of"), 1);
    // None under the first limit, about one a second under the second, still with the broken
    // file (the last may be ended by SIGTERM).
    EXPECT_GE(before, 2u);
    EXPECT_LE(before, 5u);
    EXPECT_GE(ReadLines(Out / "events.csv").size(), before + 2);
}

// Bad options and config values: exit code 2 and one line naming them, before any receiver.
TEST_F(MonitorTest, BadOptionsAndConfigValuesAreRefusedBeforeTheReceiver)
{
    WriteFile(Dir / "bad.ini", "[Settings]\nFFT=7\n");
    WriteFile(Dir / "typo.ini", "[Monitor]\nstats-intervall-s=5\n");
    WriteFile(Dir / "limits.csv", "MHz,upper_dBm,lower_dBm\n5,-10,\n4,-10,\n");
    const std::string bad = (Dir / "bad.ini").string(), typo = (Dir / "typo.ini").string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--frobnicate"}, "--frobnicate"},
        {{"--stats-interval-s", "soon"}, "--stats-interval-s"},
        {{"--fft-exponent", "13"}, "--fft-exponent"},
        {{"--window", "kaiser"}, "--window"},
        {{"--band", "a=7:7.3", "--band", "A=8:9"}, "band \"A\" is given twice"},
        {{"--band", "a=39:41"}, "outside the spectrum"},
        {{"--band", "a=7:7.001"}, "narrower than a bin"},
        {{"--out", "/tmp", "--out", "/tmp"}, "given twice"},
        {{"--config", bad}, "[Settings] FFT"},
        {{"--config", typo}, "stats-intervall-s"},
        {{"--limits", (Dir / "limits.csv").string()}, "limits.csv"},
        {{"--web-fps", "60"}, "--web-fps"},
        {{"--token", "short"}, "--token"},
        {{"--listen", "0.0.0.0:8073"}, "needs --token or --token-file"},
        // Not this machine's address: the view cannot listen there.
        {{"--listen", "192.0.2.1:8073", "--token", "0123456789"}, "--listen 192.0.2.1:8073: "},
    };
    const fs::path trace = Dir / "trace";
    Env env = StandIn(Tone, "20");
    env.emplace_back("QX_STANDIN_TRACE", trace.string());
    for (const auto& [args, named] : cases) {
        std::vector<std::string> all = {"--out", Out.string()};
        if (args.front() == "--out")
            all.clear();
        all.insert(all.end(), args.begin(), args.end());
        EXPECT_EQ(Run(all, env, 5), 2) << named;
        const auto log = Log();
        ASSERT_EQ(log.size(), 1u) << named;
        EXPECT_NE(log[0].find("quillex-monitor: error: "), std::string::npos);
        EXPECT_NE(log[0].find(named), std::string::npos) << log[0];
    }
    EXPECT_FALSE(fs::exists(trace)); // the receiver was never opened

    // --check-config prints the settings in force as a config file that reads back the same.
    ASSERT_EQ(Run({"--config", typo, "--check-config"}, {}, 5), 2);
    WriteFile(Dir / "window.ini", "[Settings]\nFFT=12\nFFTWindow=3\nAvg=4\nSpeed=25\nAtt=2\n"
                                  "[Offsets]\nEnabled=1\nFreqMHz=100,5\nInverted=1\n"
                                  "[Monitor]\nlisten=[::1]:8073\nmqtt-topic=a/b\ntoken-file=" +
                                      (Dir / "token").string() + "\n[Bands]\nlow = 100.5:101\n");
    WriteFile(Dir / "token", "0123456789\r\n");
    ASSERT_EQ(Run({"--config", (Dir / "window.ini").string(), "--check-config",
                   "--stats-interval-s", "7"},
                  {}, 5),
              0);
    const auto printed = ReadLines(Dir / "stdout.txt");
    for (const char* line :
         {"fft-exponent = 12", "window = blackman", "averaging = 4", "frame-rate = 25",
          "attenuator-db = 20", "freq-offset-mhz = 100.5", "inverted = yes", "stats-interval-s = 7",
          "low = 100.5:101", "listen = [::1]:8073", "mqtt-topic = a/b", "web-fps = 10"})
        EXPECT_NE(std::find(printed.begin(), printed.end(), line), printed.end()) << line;
    fs::copy_file(Dir / "stdout.txt", Dir / "printed.ini");
    ASSERT_EQ(Run({"--config", (Dir / "printed.ini").string(), "--check-config"}, {}, 5), 0);
    EXPECT_EQ(ReadLines(Dir / "stdout.txt"), printed);
}
