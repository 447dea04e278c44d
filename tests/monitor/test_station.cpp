// The station view of the real monitor on the stand-in receiver: the endpoints against the
// statistics and event files the monitor wrote and against the stand-in's tone, the live rows,
// the limits and tokens, MQTT with a real broker, and the page in headless Chromium.
#include "station_client.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>

#include <cmath>
#include <set>

using namespace quillex::station::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// The stand-in's signal: a tone at 10.00371 MHz and a burst of one frame every half second at
// 25 MHz (on a bin), both -30 dBm, over faint noise; shown mirrored, 0.5 MHz and 10 dB up. The
// limits watch the burst's bin alone: each burst is an upper episode and ends a lower one.
constexpr double ToneMHz = 10.00371, ToneDbm = -30, BurstMHz = 25;
constexpr double OffsetMHz = 0.5, LevelOffsetDb = 10;
constexpr int N = 4096, BurstFrames = 75; // 150 frames a second
// Displayed frequency of a physical one: mirrored about the spectrum's last bin.
double Shown(double MHz)
{
    return OffsetMHz + 40.0 * (N - 1) / N - MHz;
}
// On its bin, a tone of amplitude a reads 20 log10(a / 16384) dBm.
std::string Tone(double MHz)
{
    return std::to_string(MHz) + ":" + std::to_string(16384 * std::pow(10, ToneDbm / 20));
}

bool Have(const char* Tool)
{
    return std::system(("command -v " + std::string(Tool) + " >/dev/null").c_str()) == 0;
}

size_t Count(const std::string& Text, const std::string& What)
{
    size_t count = 0;
    for (size_t at = Text.find(What); at != std::string::npos; at = Text.find(What, at + 1))
        ++count;
    return count;
}

bool Starts(const std::string& Text, const std::string& Prefix)
{
    return Text.rfind(Prefix, 0) == 0;
}

// quillex-monitor (with its seams) on the stand-in, its local time UTC (for since= with a
// zone); Env: more of its environment, "NAME=VALUE ...".
struct TMonitor
{
    std::string Dir;
    std::vector<std::string> Args;
    std::unique_ptr<TProcess> Process;
    int Port = 0;

    TMonitor(const std::string& Name, const std::string& Options, const std::string& Env = "")
        : Dir(ScratchDir(Name))
    {
        const double burst = Shown(BurstMHz);
        std::ofstream(Dir + "/limits.csv") << "MHz,upper_dBm,lower_dBm\n15.48,,\n"
                                           << burst - 0.003 << ",-50,-60\n"
                                           << burst + 0.003 << ",-50,-60\n15.5,,\n";
        const bool paced = Options.find("--frame-rate") != std::string::npos;
        Args = Split("env TZ=UTC QUILLEX_RECEIVER_LIBRARY=" QX_STANDIN " QX_STANDIN_TONE=" +
                         Tone(ToneMHz) + " QX_STANDIN_NOISE=2 QX_STANDIN_BURST=" + Tone(BurstMHz) +
                         ":0.5:0.0066 QX_STANDIN_FAIL=" + Dir + "/fail QX_TEST_RETRY_S=0.5 " + Env +
                         (Env.empty() ? "" : " ") + QX_MONITOR_SEAMS " --out " + Dir +
                         "/out --fft-exponent 12 --stats-interval-s 1 --band tone=30:31 "
                         "--hold-off-s 0 --freq-offset-mhz 0.5 --level-offset-db 10 --inverted "
                         "yes --limits " +
                         Dir + "/limits.csv " + (paced ? "" : "--frame-rate 0 ") + Options,
                     ' ');
        Process = std::make_unique<TProcess>(Args, Dir + "/monitor");
        if (Options.find("--listen") != std::string::npos)
            Port =
                std::atoi(Process->Await("quillex-monitor: info: station view on http://127.0.0.1:")
                              .value_or("0")
                              .c_str());
    }
    json Get(const std::string& Target)
    {
        const TReply reply = Request(Port, Target);
        EXPECT_EQ(reply.Status, 200) << Target << " " << reply.Body;
        return json::parse(reply.Body, nullptr, false);
    }
    double Metric(const std::string& Name)
    {
        for (const std::string& line : Split(Request(Port, "/metrics").Body, '\n'))
            if (Starts(line, Name + " "))
                return std::stod(line.substr(Name.size() + 1));
        return NAN;
    }
    // The lines of an output without its header.
    std::vector<std::string> Lines(const std::string& File)
    {
        std::vector<std::string> lines;
        for (const std::string& line : Split(ReadFile(Dir + "/out/" + File), '\n'))
            if (!line.empty() && !Starts(line, "time,") && !Starts(line, "start,"))
                lines.push_back(line);
        return lines;
    }
    std::vector<std::string> Stats()
    {
        std::string day;
        for (const auto& file : fs::directory_iterator(Dir + "/out/stats"))
            day = file.path().filename().string();
        return Lines("stats/" + day);
    }
};

TMonitor& Shared()
{
    static TMonitor monitor("shared", "--listen 127.0.0.1:0");
    return monitor;
}

// A statistics row or an event of the JSON as the monitor's files have it: its fields in the
// files' order, numbers with the files' decimals (-1: as they are).
const std::vector<std::pair<const char*, int>> StatsFields = {
    {"time", -1},         {"stamped", -1}, {"frame", -1},    {"band", -1},
    {"low_mhz", 6},       {"high_mhz", 6}, {"power_dbm", 2}, {"noise_dbm_per_hz", 2},
    {"occupancy_pct", 3}, {"obw_khz", 3},  {"peak_mhz", 6},  {"peak_dbm", 2}};
const std::vector<std::pair<const char*, int>> EventFields = {
    {"start", -1}, {"end", -1},     {"first_frame", -1}, {"last_frame", -1},
    {"kind", -1},  {"freq_mhz", 6}, {"power_dbm", 2},    {"excess_db", 2}};

std::string Written(const json& Object, const std::vector<std::pair<const char*, int>>& Fields)
{
    std::string line;
    for (const auto& [name, decimals] : Fields) {
        const json& v = Object.value(name, json());
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", decimals, v.is_number() ? v.get<double>() : 0.0);
        line += line.empty() ? "" : ",";
        line += v.is_string()    ? v.get<std::string>()
                : v.is_boolean() ? std::string(v ? "1" : "0")
                : decimals < 0   ? v.dump()
                                 : std::string(text);
    }
    return line;
}

} // namespace

TEST(Station, ApiAnswersWithWhatTheMonitorWrote)
{
    TMonitor& monitor = Shared();
    ASSERT_GT(monitor.Port, 0) << monitor.Process->Stderr();
    std::this_thread::sleep_for(3500ms); // statistics, and episodes of both kinds
    // Running, one episode open at any frame: the lower one, or at a burst the upper one.
    json status = monitor.Get("/api/status");
    EXPECT_EQ(status["state"], "running");
    ASSERT_EQ(status["open_episodes"].size(), 1u) << status.dump();
    EXPECT_NEAR(status["open_episodes"][0]["freq_mhz"].get<double>(), Shown(BurstMHz), 1e-4);
    EXPECT_GT(status["open_episodes"][0]["excess_db"].get<double>(), 0);
    // The tone where the display shows it, interpolated, as the window's read-out.
    const json peak = monitor.Get("/api/peaks?n=1")["peaks"][0];
    EXPECT_NEAR(peak["freq_mhz"].get<double>(), Shown(ToneMHz), 0.0002);
    EXPECT_NEAR(peak["power_dbm"].get<double>(), ToneDbm + LevelOffsetDb, 0.05);
    char readout[64];
    std::snprintf(readout, sizeof readout, "%.4f MHz  %.2f dBm", peak["freq_mhz"].get<double>(),
                  peak["power_dbm"].get<double>());
    EXPECT_EQ(peak["readout"], readout);

    // The receiver fails: the run's episodes end and are logged, and nothing changes until it
    // delivers again.
    std::ofstream(monitor.Dir + "/fail");
    ASSERT_TRUE(monitor.Process->Await("quillex-monitor: error: receiver fault", 5));
    std::this_thread::sleep_for(1500ms);
    status = monitor.Get("/api/status");
    EXPECT_EQ(status["state"], "gap");
    EXPECT_EQ(fs::canonical(status["receiver"].get<std::string>()), fs::canonical(QX_STANDIN));
    EXPECT_EQ(status["simulated"], false);
    EXPECT_EQ(status["dropped_frames_total"], 0);
    EXPECT_EQ(status["bins"], N);
    EXPECT_TRUE(status["open_episodes"].empty());
    // The settings in force, as --check-config prints them.
    std::vector<std::string> check = monitor.Args;
    check.push_back("--check-config");
    TProcess printed(check, monitor.Dir + "/check");
    ASSERT_EQ(printed.Wait(), 0);
    for (const std::string& line : Split(ReadFile(printed.Out), '\n')) {
        if (line == "[Bands]")
            break;
        if (const size_t eq = line.find(" = "); eq != std::string::npos) {
            EXPECT_EQ(status["settings"].value(line.substr(0, eq), "?"), line.substr(eq + 3));
        }
    }

    // The latest statistics line and every episode, as the monitor's files have them.
    const json band = monitor.Get("/api/bands")["bands"][0];
    EXPECT_EQ(Written(band, StatsFields), monitor.Stats().back());
    const auto log = monitor.Lines("events.csv");
    const json events = monitor.Get("/api/events")["events"];
    ASSERT_GE(log.size(), 8u);
    ASSERT_EQ(events.size(), log.size());
    for (size_t i = 0; i < log.size(); ++i)
        EXPECT_EQ(Written(events[i], EventFields), log[i]);
    // since= leaves out the episodes that ended before it.
    const std::string end = Split(log.back(), ',')[1];
    const size_t endedLast = size_t(std::count_if(
        log.begin(), log.end(), [&](const auto& e) { return Split(e, ',')[1] >= end; }));
    EXPECT_EQ(monitor.Get("/api/events?since=" + end)["events"].size(), endedLast);
    EXPECT_EQ(monitor.Get("/api/events?since=" + end + "Z")["events"].size(), endedLast);
    // A time within the second after the last end, to the millisecond.
    EXPECT_EQ(
        monitor.Get("/api/events?since=" + end.substr(0, 19) + ".9995%2B00:00")["events"].size(),
        0u);
    for (const auto& [target, code] :
         std::vector<std::pair<std::string, int>>{{"/nothing", 404},
                                                  {"/api/events?since=yesterday", 400},
                                                  {"/api/events?since=2026-13-01", 400},
                                                  {"/api/peaks?n=0", 400},
                                                  {"/api/peaks?n=101", 400},
                                                  {"/ws", 426}})
        EXPECT_EQ(Request(monitor.Port, target).Status, code) << target;
    EXPECT_EQ(Request(monitor.Port, "/api/status", "", "DELETE").Status, 405);

    // Metrics: the exposition format as Prometheus checks it, and the monitor's numbers.
    if (!Have("promtool"))
        GTEST_SKIP() << "promtool (Debian's prometheus) is missing: cannot check /metrics";
    std::ofstream(monitor.Dir + "/metrics.txt") << Request(monitor.Port, "/metrics").Body;
    EXPECT_EQ(std::system(("promtool check metrics < " + monitor.Dir + "/metrics.txt").c_str()), 0);
    EXPECT_EQ(monitor.Metric("quillex_band_power_dbm{band=\"tone\"}"),
              band["power_dbm"].get<double>());
    EXPECT_EQ(monitor.Metric("quillex_frames_total"), status["frames_total"].get<double>());
    EXPECT_EQ(monitor.Metric("quillex_dropped_frames_total"), 0);
    EXPECT_EQ(monitor.Metric("quillex_receiver_up"), 0);
    EXPECT_TRUE(std::isnan(monitor.Metric("quillex_mqtt_connected"))); // no broker, no lines
    for (const std::string kind : {"upper", "lower"}) {
        const double logged = double(std::count_if(log.begin(), log.end(), [&](const auto& e) {
            return e.find("," + kind + ",") != std::string::npos;
        }));
        EXPECT_GE(logged, 3) << kind;
        EXPECT_EQ(monitor.Metric("quillex_limit_episodes_total{kind=\"" + kind + "\"}"), logged);
        EXPECT_EQ(monitor.Metric("quillex_limit_active{kind=\"" + kind + "\"}"), 0) << kind;
    }

    // A status a second, also in a gap.
    std::this_thread::sleep_for(1100ms);
    EXPECT_GE(monitor.Get("/api/status")["uptime_s"].get<double>(),
              status["uptime_s"].get<double>() + 0.5);

    // Back: the view follows the receiver's frames again.
    fs::remove(monitor.Dir + "/fail");
    for (int i = 0; i < 100 && monitor.Metric("quillex_receiver_up") != 1; ++i)
        std::this_thread::sleep_for(50ms);
    const double frames = monitor.Metric("quillex_frames_total");
    std::this_thread::sleep_for(1s);
    EXPECT_NEAR(monitor.Metric("quillex_frames_total") - frames, 150, 15);
}

TEST(Station, RowsFollowTheToneAndKeepEveryBurst)
{
    TMonitor& monitor = Shared();
    TViewerClient whole(monitor.Port);
    TRow row;
    ASSERT_TRUE(whole.Next(row));
    // Unasked: the whole spectrum as displayed, 1024 columns, the tone's column the loudest.
    EXPECT_EQ(row.Columns, 1024u);
    EXPECT_EQ(row.N, uint32_t(N));
    EXPECT_DOUBLE_EQ(row.LowMHz, OffsetMHz);
    EXPECT_DOUBLE_EQ(row.HighMHz, OffsetMHz + 40.0 * (N - 1) / N);
    const auto column = [&](double MHz) {
        return int((Shown(MHz) - row.LowMHz) / (row.HighMHz - row.LowMHz) * 1024);
    };
    std::vector<float> levels = row.Levels; // a row may hold a burst, louder than the tone
    for (int c = column(BurstMHz) - 2; c <= column(BurstMHz) + 2; ++c)
        levels[size_t(c)] = -1000;
    const auto loudest = std::max_element(levels.begin(), levels.end());
    EXPECT_NEAR(loudest - levels.begin(), column(ToneMHz), 1);
    // 333 columns of 12.3 bins: the tone's column reads its loudest bin, which lies inside it
    // and on none of its edges (the bursts' rows are louder elsewhere). The tone is 0.38 bin
    // off that bin, where Hann's kernel |sin(pi d) / (pi d (1 - d^2))| takes 0.81 dB.
    whole.Send(R"({"columns": 333})");
    while (whole.Next(row) && row.Columns != 333)
        ;
    const double k = std::round(ToneMHz * N / 40), d = ToneMHz * N / 40 - k;
    const double shownBin = OffsetMHz + 40.0 * (N - 1 - k) / N;
    EXPECT_NEAR(row.Levels[size_t((shownBin - row.LowMHz) / (row.HighMHz - row.LowMHz) * 333)],
                ToneDbm + LevelOffsetDb +
                    20 * std::log10(std::sin(M_PI * d) / (M_PI * d * (1 - d * d))),
                0.05);

    // A span around the burst at 100 columns: every burst frame in exactly one row, none lost
    // between rows, at the rate asked for.
    TViewerClient narrow(monitor.Port);
    const double burst = Shown(BurstMHz), loud = ToneDbm + LevelOffsetDb - 6;
    narrow.Send(R"({"span": [)" + std::to_string(burst - 0.25) + "," +
                std::to_string(burst + 0.25) + R"(], "columns": 100})");
    std::vector<TRow> rows;
    for (const auto end = After(4.5); Clock::now() < end && narrow.Next(row);)
        if (row.Columns == 100)
            rows.push_back(row);
    ASSERT_GT(rows.size(), 2u);
    EXPECT_NEAR(rows.size(), 45, 5);
    EXPECT_NEAR(rows[0].LowMHz, burst - 0.25, 1e-6);
    int bursts = rows[0].Levels[50] > loud;
    uint64_t folded = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        bursts += rows[i].Levels[50] > loud;
        folded += rows[i].Frames;
        EXPECT_FALSE(rows[i].Levels[50] > loud && rows[i - 1].Levels[50] > loud);
    }
    EXPECT_EQ(folded, rows.back().Total - rows.front().Total);
    EXPECT_NEAR(bursts, double(rows.back().Total - rows.front().Total) / BurstFrames, 1);
    EXPECT_GE(bursts, 5);
}

TEST(Station, TokensGuardEveryRequest)
{
    const std::string token = "s3cret-token_42", bearer = "Authorization: Bearer " + token + "\r\n";
    std::ofstream(ScratchDir("token") + "/token") << token << "\r\n";
    // A receiver slow to open: the wait for its first block loses no frames.
    TMonitor monitor("token",
                     "--frame-rate 40 --listen 127.0.0.1:0 --token-file " + ScratchDir("token") +
                         "/token",
                     "QX_STANDIN_OPEN_S=0.5");
    ASSERT_GT(monitor.Port, 0) << monitor.Process->Stderr();
    for (const auto& [target, headers, code] :
         std::vector<std::tuple<std::string, std::string, int>>{
             {"/api/status", "", 401},
             {"/api/status", "Authorization: Bearer wrong-token-xx\r\n", 401},
             {"/api/status", "Authorization: Bearer " + token + "x\r\n", 401},
             {"/api/status", bearer, 200},
             {"/metrics", bearer, 200},
             {"/?token=" + token, "", 200},
             {"/?token=wrong", "", 401},
             {"/api/status?token=" + token, "", 401}})
        EXPECT_EQ(Request(monitor.Port, target, headers).Status, code) << target << headers;
    TRow row;
    EXPECT_TRUE(TViewerClient(monitor.Port, "quillex, quillex-token." + token).Next(row));
    EXPECT_ANY_THROW(TViewerClient(monitor.Port, "quillex, quillex-token.wrong"));
    EXPECT_ANY_THROW(TViewerClient(monitor.Port));
    // Another site's page cannot open a viewer in the owner's browser.
    EXPECT_TRUE(
        Starts(RawExchange(monitor.Port, "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                         "Origin: http://evil\r\nConnection: Upgrade\r\n"
                                         "Upgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
                                         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" +
                                             bearer + "\r\n"),
               "HTTP/1.1 403"));

    // A monitor held up for a second has lost that second's frames at its frame rate.
    monitor.Process->Kill(SIGSTOP);
    std::this_thread::sleep_for(1s);
    monitor.Process->Kill(SIGCONT);
    std::this_thread::sleep_for(1500ms);
    const json status = json::parse(Request(monitor.Port, "/api/status", bearer).Body);
    EXPECT_NEAR(status["dropped_frames_total"].get<double>(), 40, 4);
}

TEST(Station, LimitsHoldAndNobodyWaitsForASlowViewer)
{
    TMonitor monitor("limits", "--listen 127.0.0.1:0 --web-clients 3 --web-fps 20",
                     "QX_TEST_IDLE_S=1");
    ASSERT_GT(monitor.Port, 0) << monitor.Process->Stderr();
    // Oversized headers, a body, junk (three times: a peer gets one log line a minute).
    for (const auto& [request, answer] : std::vector<std::pair<std::string, std::string>>{
             {"GET / HTTP/1.1\r\nX-Pad: " + std::string(9000, 'a') + "\r\n\r\n", "HTTP/1.1 431"},
             {"POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", "HTTP/1.1 413"},
             {"GET / HTTP/1.1\r\nHost x\r\n\r\n", "HTTP/1.1 400"},
             {"GET / HTTP/1.1\r\nHost x\r\n\r\n", "HTTP/1.1 400"},
             {"\x16\x03\x01 TLS", "HTTP/1.1 400"}})
        EXPECT_TRUE(Starts(RawExchange(monitor.Port, request), answer)) << answer;
    EXPECT_EQ(Count(monitor.Process->Stderr(), "warning"), 1u) << monitor.Process->Stderr();
    // A viewer's message over 1 KiB ends that viewer.
    {
        TViewerClient chatty(monitor.Port);
        chatty.Send("{\"columns\": 100, \"pad\": \"" + std::string(2000, ' ') + "\"}");
        TRow row;
        int rows = 0;
        while (chatty.Next(row) && rows < 100)
            ++rows;
        EXPECT_LT(rows, 100);
    }
    // A fourth viewer beyond --web-clients 3 gets 503 while three are open.
    {
        TViewerClient a(monitor.Port), b(monitor.Port), c(monitor.Port);
        EXPECT_ANY_THROW(TViewerClient(monitor.Port));
    }
    std::this_thread::sleep_for(200ms);

    // 100 idle connections: 64 are held (the 65th is closed at once), all closed after the
    // idle time, after which requests are served again.
    net::io_context io;
    std::vector<tcp::socket> idle;
    for (int i = 0; i < 100; ++i)
        idle.emplace_back(io).connect(Loopback(monitor.Port));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Request(monitor.Port, "/api/status").Status, 0);
    int closed = 0;
    for (auto& s : idle) {
        char c;
        beast::error_code error;
        s.non_blocking(true);
        s.read_some(net::buffer(&c, 1), error);
        closed += error == net::error::eof;
    }
    EXPECT_EQ(closed, 36);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Request(monitor.Port, "/api/status").Status, 200);
    idle.clear();

    // A viewer that never reads, 4096 columns into a small receive buffer, beside one that
    // reads: the reader gets its rows, the acquisition takes every frame.
    TViewerClient stuck(monitor.Port, "quillex", "/ws", 4096), reader(monitor.Port);
    stuck.Send(R"({"columns": 4096})");
    const double frames = monitor.Metric("quillex_frames_total");
    TRow row;
    int rows = 0;
    for (const auto end = After(3); Clock::now() < end && reader.Next(row);)
        ++rows;
    EXPECT_NEAR(rows, 60, 6); // --web-fps 20
    EXPECT_NEAR(monitor.Metric("quillex_frames_total") - frames, 450, 30);
    EXPECT_EQ(monitor.Metric("quillex_station_refused_frames_total"), 0);
    EXPECT_EQ(monitor.Metric("quillex_dropped_frames_total"), 0);
}

TEST(Station, MqttSaysOnlineEventsStatsAndOfflineAfterAKill)
{
    if (!Have("mosquitto") || !Have("mosquitto_sub"))
        GTEST_SKIP() << "mosquitto, mosquitto_sub (Debian's mosquitto, mosquitto-clients) missing";
    const std::string dir = ScratchDir("mqtt");
    const int port = [] {
        net::io_context io;
        return tcp::acceptor(io, Loopback(0)).local_endpoint().port();
    }();
    std::ofstream(dir + "/broker.conf")
        << "listener " << port << " 127.0.0.1\nallow_anonymous true\n";
    const auto start = [&](const std::string& Name, const std::string& Args) {
        auto process = std::make_unique<TProcess>(Split(Args, ' '), dir + "/" + Name);
        std::this_thread::sleep_for(400ms);
        return process;
    };
    const std::string broker = "mosquitto -c " + dir + "/broker.conf";
    const std::string sub = "mosquitto_sub -h 127.0.0.1 -t quillex/# -v -p " + std::to_string(port);
    const std::string mqtt = "--mqtt 127.0.0.1:" + std::to_string(port);
    auto server = start("broker", broker);
    auto first = start("sub1", sub);
    TMonitor monitor("mqtt-monitor", "--station alpha " + mqtt, "QX_TEST_MQTT_RETRY_S=1");
    EXPECT_TRUE(first->Await("quillex/alpha/status online", 5)) << monitor.Process->Stderr();
    // A statistics message is the line the monitor wrote for its interval.
    const json row =
        json::parse(first->Await("quillex/alpha/stats ", 5).value_or(""), nullptr, false);
    EXPECT_EQ(row.value("station", ""), "alpha");
    std::this_thread::sleep_for(2500ms);
    const auto stats = monitor.Stats();
    EXPECT_NE(std::find(stats.begin(), stats.end(), Written(row, StatsFields)), stats.end());
    // Each episode's start and then its end, the end as the event log has it.
    const auto log = monitor.Lines("events.csv");
    const auto events = first->Lines("quillex/alpha/event ");
    std::set<std::string> started; // kind and first frame
    int ends = 0;
    for (const std::string& line : events) {
        const json e = json::parse(line);
        const std::string episode = e["kind"].dump() + e["first_frame"].dump();
        if (e["event"] == "start") {
            started.insert(episode);
            continue;
        }
        EXPECT_EQ(started.count(episode), 1u) << line;
        ends += std::find(log.begin(), log.end(), Written(e, EventFields)) != log.end();
    }
    EXPECT_GE(ends, 4);

    // The broker goes away and comes back: the outage is logged once, online said again.
    server.reset();
    std::this_thread::sleep_for(2s);
    server = start("broker2", broker);
    auto second = start("sub2", sub);
    EXPECT_TRUE(second->Await("quillex/alpha/status online", 8)) << monitor.Process->Stderr();
    EXPECT_TRUE(second->Await("quillex/alpha/stats ", 5));
    for (const char* once : {"lost the broker", "connected to"})
        EXPECT_EQ(Count(monitor.Process->Stderr(), once), 1u) << once;

    // Stopped: the open episode's end, then offline, said by the monitor itself.
    monitor.Process->Kill(SIGTERM);
    EXPECT_EQ(monitor.Process->Wait(), 0);
    EXPECT_TRUE(second->Await("quillex/alpha/status offline", 5));
    const auto said = second->Lines("quillex/alpha/event ");
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(json::parse(said.back())["event"], "end");
    EXPECT_EQ(Written(json::parse(said.back()), EventFields), monitor.Lines("events.csv").back());
    // Killed outright: the broker says offline for it.
    TMonitor killed("mqtt-killed", "--station beta " + mqtt);
    EXPECT_TRUE(second->Await("quillex/beta/status online", 5)) << killed.Process->Stderr();
    killed.Process->Kill(SIGKILL);
    killed.Process->Wait();
    EXPECT_TRUE(second->Await("quillex/beta/status offline", 5));
}

TEST(Station, PageShowsTheWaterfallFillingAndTheMarker)
{
    if (!Have("chromium"))
        GTEST_SKIP() << "chromium (Debian's chromium) is missing: cannot load the page";
    TMonitor& monitor = Shared();
    TBrowser browser("http://127.0.0.1:" + std::to_string(monitor.Port) + "/", 1280, 800);
    const auto rect = [&](const std::string& Id) {
        const json r = browser.Evaluate("(r => [r.left, r.top, r.width, r.height])(document."
                                        "getElementById('" +
                                        Id + "').getBoundingClientRect())");
        return std::array<double, 4>{r[0], r[1], r[2], r[3]};
    };
    const auto shot = [&] {
        return QImage::fromData(
                   QByteArray::fromBase64(QByteArray::fromStdString(browser.ScreenshotPngBase64())))
            .convertToFormat(QImage::Format_RGB32);
    };
    for (int i = 0; i < 100 && browser.Evaluate("window.quillex ? quillex.rows : 0") < 5; ++i)
        std::this_thread::sleep_for(100ms);
    const auto water = rect("water"), trace = rect("trace");
    // The tone's column on the displayed axis, from the whole span's rule.
    const double fraction = (Shown(ToneMHz) - OffsetMHz) / (40.0 * (N - 1) / N);
    const int toneX = int(water[0] + fraction * water[2]), bottom = int(water[1] + water[3]) - 1;
    // Rows painted from the bottom up: the tone's pixel white (above the level range), the
    // noise 40 pixels beside it dark.
    const auto filled = [&](const QImage& Image) {
        int y = bottom;
        for (; y >= water[1]; --y) {
            const QColor tone = Image.pixelColor(toneX, y), noise = Image.pixelColor(toneX + 40, y);
            if (std::min({tone.red(), tone.green(), tone.blue()}) < 200 || noise.red() > 100)
                break;
        }
        return bottom - y;
    };
    const int early = filled(shot());
    std::this_thread::sleep_for(1500ms);
    EXPECT_GE(early, 3);
    EXPECT_GE(filled(shot()), early + 10);

    // A click beside the tone on the trace reads the tone: the read-out line and the mark.
    const double x = trace[0] + 48 + fraction * (trace[2] - 48);
    browser.Click(x + 3, trace[1] + 60);
    std::string readout;
    for (int i = 0; i < 50 && readout.empty(); ++i, std::this_thread::sleep_for(100ms))
        readout = browser.Evaluate("document.getElementById('readout').textContent");
    char expected[64];
    std::snprintf(expected, sizeof expected, "M1 %.4f MHz  ", Shown(ToneMHz));
    ASSERT_TRUE(Starts(readout, expected)) << readout;
    EXPECT_NEAR(std::stod(readout.substr(std::strlen(expected))), ToneDbm + LevelOffsetDb, 0.05);
    const QImage marked = shot();
    int magenta = 0;
    for (int y = int(trace[1]); y < int(trace[1] + trace[3]); ++y)
        for (int dx = -8; dx <= 8; ++dx)
            magenta += marked.pixelColor(int(x) + dx, y) == QColor(255, 64, 255);
    EXPECT_GT(magenta, 10);
}
