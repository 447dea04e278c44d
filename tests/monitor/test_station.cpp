// The station view against a stand-in monitor (station_host) that feeds a known tone: the
// endpoints against what it published and wrote, the live rows against the tone, the limits
// and tokens, MQTT with a real broker, and the page in headless Chromium.
#include "station_client.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>

#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

using namespace quillex::station::test;
using namespace std::chrono_literals;

namespace {

constexpr double ToneMHz = 10.00371, ToneDbm = -30, BurstMHz = 25;
// The host shows the spectrum mirrored, 0.5 MHz up and 10 dB up.
constexpr double OffsetMHz = 0.5, LevelOffsetDb = 10;
constexpr int N = 4096;
// Displayed frequency of a physical one: mirrored about the spectrum's last bin.
double Shown(double MHz)
{
    return OffsetMHz + 40.0 * (N - 1) / N - MHz;
}

std::vector<std::string> Split(const std::string& Line, char By = ',')
{
    std::vector<std::string> fields;
    std::istringstream in(Line);
    for (std::string f; std::getline(in, f, By);)
        fields.push_back(f);
    return fields;
}

std::string LastLine(const std::string& Text)
{
    const auto lines = Split(Text, '\n');
    return lines.empty() ? "" : lines.back();
}

bool Have(const char* Tool)
{
    return std::system(("command -v " + std::string(Tool) + " >/dev/null").c_str()) == 0;
}

struct THost
{
    std::string Dir;
    std::unique_ptr<TProcess> Process;
    int Port = 0;

    explicit THost(const std::string& Name, std::vector<std::string> Args = {})
        : Dir(ScratchDir(Name))
    {
        std::vector<std::string> args = {QUILLEX_STATION_HOST,
                                         "--out",
                                         Dir,
                                         "--tone-mhz",
                                         std::to_string(ToneMHz),
                                         "--freq-offset",
                                         "0.5",
                                         "--level-offset",
                                         "10",
                                         "--inverted",
                                         "1"};
        if (std::find(Args.begin(), Args.end(), "--listen") == Args.end())
            Args.insert(Args.end(), {"--listen", "127.0.0.1:0"});
        args.insert(args.end(), Args.begin(), Args.end());
        Process = std::make_unique<TProcess>(args, Dir + "/host");
        Port = std::atoi(Process->Await("port ").value_or("0").c_str());
    }
    json Get(const std::string& Target)
    {
        const TReply reply = Request(Port, Target);
        EXPECT_EQ(reply.Status, 200) << Target << " " << reply.Body;
        return json::parse(reply.Body, nullptr, false);
    }
    double Metric(const std::string& Line)
    {
        for (const std::string& l : Split(Request(Port, "/metrics").Body, '\n'))
            if (l.rfind(Line + " ", 0) == 0)
                return std::stod(l.substr(Line.size() + 1));
        return NAN;
    }
};

THost& Shared()
{
    static THost host("shared");
    return host;
}

// The column of a displayed frequency in a row.
int ColumnOf(const TRow& Row, double MHz)
{
    return int((MHz - Row.LowMHz) / (Row.HighMHz - Row.LowMHz) * Row.Columns);
}

} // namespace

TEST(Station, ApiAnswersWithWhatTheMonitorPublished)
{
    THost& host = Shared();
    ASSERT_GT(host.Port, 0) << host.Process->Stderr();
    std::this_thread::sleep_for(2500ms); // two statistics intervals and an episode
    const json status = host.Get("/api/status");
    EXPECT_EQ(status["receiver"], "tone host");
    EXPECT_EQ(status["simulated"], true);
    EXPECT_EQ(status["state"], "running");
    EXPECT_EQ(status["settings"]["window"], "hann");
    EXPECT_EQ(status["dropped_frames_total"], 3);
    EXPECT_EQ(status["bins"], N);

    // The latest statistics line per band, field by field as the stats file has it.
    const json bands = host.Get("/api/bands")["bands"];
    const auto fields = Split(LastLine(ReadFile(host.Dir + "/stats.csv")));
    ASSERT_EQ(bands.size(), 1u);
    ASSERT_EQ(fields.size(), 12u);
    EXPECT_EQ(bands[0]["time"], fields[0]);
    EXPECT_EQ(bands[0]["frame"], std::stoll(fields[2]));
    EXPECT_EQ(bands[0]["band"], fields[3]);
    const char* names[] = {"low_mhz",       "high_mhz", "power_dbm", "noise_dbm_per_hz",
                           "occupancy_pct", "obw_khz",  "peak_mhz",  "peak_dbm"};
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(bands[0][names[i]].get<double>(), std::stod(fields[4 + i]), 1e-6) << names[i];

    // Events as the event log has them, and since= leaving out those that ended before.
    const auto log = Split(ReadFile(host.Dir + "/events.csv"), '\n');
    ASSERT_GE(log.size(), 1u);
    const auto last = Split(log.back());
    const json all = host.Get("/api/events")["events"];
    ASSERT_EQ(all.size(), log.size());
    EXPECT_EQ(all.back()["start"], last[0]);
    EXPECT_EQ(all.back()["end"], last[1]);
    EXPECT_EQ(all.back()["last_frame"], std::stoll(last[3]));
    EXPECT_EQ(all.back()["kind"], last[4]);
    EXPECT_NEAR(all.back()["excess_db"].get<double>(), std::stod(last[7]), 0.005);
    EXPECT_EQ(host.Get("/api/events?since=" + last[0])["events"].size(), 1u);
    EXPECT_EQ(host.Get("/api/events?since=2999-01-01T00%3A00%3A00Z")["events"].size(), 0u);

    // The tone where the display shows it, interpolated, as the window's read-out.
    const json peak = host.Get("/api/peaks?n=1")["peaks"][0];
    EXPECT_NEAR(peak["freq_mhz"].get<double>(), Shown(ToneMHz), 0.0002);
    EXPECT_NEAR(peak["power_dbm"].get<double>(), ToneDbm + LevelOffsetDb, 0.05);
    char readout[64];
    std::snprintf(readout, sizeof readout, "%.4f MHz  %.2f dBm", peak["freq_mhz"].get<double>(),
                  peak["power_dbm"].get<double>());
    EXPECT_EQ(peak["readout"], readout);

    for (const auto& [target, code] :
         std::vector<std::pair<std::string, int>>{{"/nothing", 404},
                                                  {"/api/events?since=yesterday", 400},
                                                  {"/api/peaks?n=0", 400},
                                                  {"/api/peaks?n=101", 400},
                                                  {"/ws", 426}})
        EXPECT_EQ(Request(host.Port, target).Status, code) << target;
    EXPECT_EQ(Request(host.Port, "/api/status", {}, http::verb::delete_).Status, 405);

    // Metrics: the exposition format as Prometheus checks it, and the numbers published.
    const std::string metrics = Request(host.Port, "/metrics").Body;
    if (!Have("promtool"))
        GTEST_FAIL() << "promtool (Debian's prometheus) is missing: cannot check /metrics";
    std::ofstream(host.Dir + "/metrics.txt") << metrics;
    EXPECT_EQ(std::system(("promtool check metrics < " + host.Dir + "/metrics.txt").c_str()), 0)
        << metrics;
    EXPECT_EQ(host.Metric("quillex_band_power_dbm{band=\"tone\"}"),
              host.Get("/api/bands")["bands"][0]["power_dbm"].get<double>());
    EXPECT_EQ(host.Metric("quillex_dropped_frames_total"), 3);
    EXPECT_EQ(host.Metric("quillex_receiver_up"), 1);
    EXPECT_GE(host.Metric("quillex_limit_episodes_total{kind=\"upper\"}"), double(log.size()));
    const double frames = host.Metric("quillex_frames_total");
    std::this_thread::sleep_for(1s);
    EXPECT_NEAR(host.Metric("quillex_frames_total") - frames, 150, 15);
}

TEST(Station, RowsFollowTheToneAndKeepEveryBurst)
{
    THost& host = Shared();
    TViewerClient whole(host.Port);
    TRow row;
    ASSERT_TRUE(whole.Next(row));
    // Unasked: the whole spectrum as displayed, 1024 columns, the tone's column the loudest.
    EXPECT_EQ(row.Columns, 1024u);
    EXPECT_EQ(row.N, uint32_t(N));
    EXPECT_DOUBLE_EQ(row.LowMHz, OffsetMHz);
    EXPECT_DOUBLE_EQ(row.HighMHz, OffsetMHz + 40.0 * (N - 1) / N);
    const auto loudest = std::max_element(row.Levels.begin(), row.Levels.end());
    EXPECT_NEAR(loudest - row.Levels.begin(), ColumnOf(row, Shown(ToneMHz)), 1);
    // The column's level is its loudest bin's, the tone a little off that bin.
    EXPECT_NEAR(*loudest, ToneDbm + LevelOffsetDb, 1.5);

    // A span around the burst at 100 columns: every burst frame in exactly one row, none lost
    // between rows, at the rate asked for.
    TViewerClient narrow(host.Port);
    const double burst = Shown(BurstMHz);
    narrow.Send(R"({"span": [)" + std::to_string(burst - 0.25) + "," +
                std::to_string(burst + 0.25) + R"(], "columns": 100})");
    std::vector<TRow> rows;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 4500ms && narrow.Next(row))
        if (row.Columns == 100)
            rows.push_back(row);
    ASSERT_GT(rows.size(), 2u);
    EXPECT_NEAR(rows.size(), 45, 5);
    EXPECT_NEAR(rows[0].LowMHz, burst - 0.25, 1e-6);
    int bursts = 0;
    uint64_t folded = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const bool hit = rows[i].Levels[50] > ToneDbm + LevelOffsetDb - 6;
        bursts += hit;
        if (i > 0) {
            folded += rows[i].Frames;
            EXPECT_FALSE(hit && rows[i - 1].Levels[50] > ToneDbm + LevelOffsetDb - 6);
        }
    }
    EXPECT_EQ(folded, rows.back().Total - rows.front().Total);
    // One burst each 300 frames at 150 frames a second.
    EXPECT_NEAR(bursts, double(rows.back().Total - rows.front().Total) / 300, 1);
    EXPECT_GE(bursts, 2);
}

TEST(Station, TokensGuardEveryRequest)
{
    const std::string token = "s3cret-token_42";
    THost host("token", {"--token", token});
    ASSERT_GT(host.Port, 0) << host.Process->Stderr();
    for (const auto& [target, headers, code] :
         std::vector<std::tuple<std::string, std::vector<std::string>, int>>{
             {"/api/status", {}, 401},
             {"/api/status", {"Authorization: Bearer wrong-token-xx"}, 401},
             {"/api/status", {"Authorization: Bearer " + token + "x"}, 401},
             {"/api/status", {"Authorization: Bearer " + token}, 200},
             {"/metrics", {"Authorization: Bearer " + token}, 200},
             {"/?token=" + token, {}, 200},
             {"/?token=wrong", {}, 401},
             {"/api/status?token=" + token, {}, 401}})
        EXPECT_EQ(Request(host.Port, target, headers).Status, code) << target;
    TRow row;
    EXPECT_TRUE(TViewerClient(host.Port, {"quillex", "quillex-token." + token}).Next(row));
    EXPECT_ANY_THROW(TViewerClient(host.Port, {"quillex", "quillex-token.wrong"}));
    EXPECT_ANY_THROW(TViewerClient(host.Port, {"quillex"}));
    // Another site's page cannot open a viewer in the owner's browser.
    EXPECT_EQ(
        RawExchange(host.Port, "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://evil\r\n"
                               "Connection: Upgrade\r\nUpgrade: websocket\r\n"
                               "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: "
                               "dGhlIHNhbXBsZSBub25jZQ==\r\nAuthorization: Bearer " +
                                   token + "\r\n\r\n")
            .rfind("HTTP/1.1 403", 0),
        0u);
    // Beyond loopback only with a token, refused before anything starts.
    TProcess open({QUILLEX_STATION_HOST, "--listen", "0.0.0.0:0"}, host.Dir + "/open");
    EXPECT_EQ(open.Wait(), 2);
    EXPECT_NE(open.Stderr().find("needs --token"), std::string::npos) << open.Stderr();
}

TEST(Station, LimitsHoldAndNobodyWaitsForASlowViewer)
{
    THost host("limits", {"--idle-s", "1", "--web-clients", "3"});
    ASSERT_GT(host.Port, 0) << host.Process->Stderr();
    const std::string big =
        "GET /api/status HTTP/1.1\r\nHost: x\r\nX-Pad: " + std::string(9000, 'a') + "\r\n\r\n";
    EXPECT_EQ(RawExchange(host.Port, big).rfind("HTTP/1.1 431", 0), 0u);
    EXPECT_EQ(RawExchange(host.Port, "POST /api/status HTTP/1.1\r\nHost: x\r\n"
                                     "Content-Length: 5\r\n\r\nhello")
                  .rfind("HTTP/1.1 413", 0),
              0u);
    // Junk gets 400, and a peer one log line a minute however much it sends.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(
            RawExchange(host.Port, "GET / HTTP/1.1\r\nHost x\r\n\r\n").rfind("HTTP/1.1 400", 0),
            0u);
    const auto lines = Split(host.Process->Stderr(), '\n');
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("warning") != l.npos; }),
              1)
        << host.Process->Stderr();
    // A viewer's message over 1 KiB ends that viewer.
    {
        TViewerClient chatty(host.Port);
        chatty.Send("{\"columns\": 100, \"pad\": \"" + std::string(2000, ' ') + "\"}");
        TRow row;
        int rows = 0;
        while (chatty.Next(row, 1) && rows < 100)
            ++rows;
        EXPECT_LT(rows, 100);
    }
    // A fourth viewer beyond --web-clients 3 gets 503 while three are open.
    {
        std::vector<std::unique_ptr<TViewerClient>> viewers;
        for (int i = 0; i < 3; ++i)
            viewers.push_back(std::make_unique<TViewerClient>(host.Port));
        EXPECT_ANY_THROW(TViewerClient(host.Port));
    }
    std::this_thread::sleep_for(200ms);

    // 100 idle connections: 64 are held (the 65th is closed at once), all closed after the
    // idle time, after which requests are served again.
    boost::asio::io_context io;
    std::vector<tcp::socket> idle;
    for (int i = 0; i < 100; ++i) {
        idle.emplace_back(io);
        idle.back().connect({boost::asio::ip::make_address("127.0.0.1"), uint16_t(host.Port)});
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Request(host.Port, "/api/status").Status, 0);
    int closed = 0;
    for (auto& s : idle) {
        s.non_blocking(true);
        char c;
        beast::error_code error;
        s.read_some(boost::asio::buffer(&c, 1), error);
        closed += error == boost::asio::error::eof;
    }
    EXPECT_EQ(closed, 36);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(Request(host.Port, "/api/status").Status, 200);
    idle.clear();

    // A viewer that never reads 4096 columns, beside one that does: the reader gets its rows,
    // the feed takes every frame.
    TViewerClient stuck(host.Port, {"quillex"}, "/ws", 4096), reader(host.Port);
    stuck.Send(R"({"columns": 4096})");
    const double frames = host.Metric("quillex_frames_total");
    TRow row;
    int rows = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < 3s && reader.Next(row))
        ++rows;
    EXPECT_NEAR(rows, 30, 3);
    EXPECT_NEAR(host.Metric("quillex_frames_total") - frames, 450, 30);
    EXPECT_EQ(host.Metric("quillex_station_refused_frames_total"), 0);
}

TEST(Station, MqttSaysOnlineEventsStatsAndOfflineAfterAKill)
{
    if (!Have("mosquitto") || !Have("mosquitto_sub"))
        GTEST_FAIL() << "mosquitto and mosquitto_sub (Debian's mosquitto, mosquitto-clients) "
                        "are missing";
    const std::string dir = ScratchDir("mqtt");
    const int port = FreePort();
    std::ofstream(dir + "/broker.conf") << "listener " << port << " 127.0.0.1\n"
                                        << "allow_anonymous true\n";
    auto broker = std::make_unique<TProcess>(
        std::vector<std::string>{"mosquitto", "-c", dir + "/broker.conf"}, dir + "/broker");
    std::this_thread::sleep_for(500ms);
    const auto subscribe = [&](const std::string& Name) {
        return std::make_unique<TProcess>(
            std::vector<std::string>{"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(port),
                                     "-t", "quillex/#", "-v"},
            dir + "/" + Name);
    };
    auto sub = subscribe("sub1");
    std::this_thread::sleep_for(300ms);
    THost host("mqtt-host", {"--mqtt", "127.0.0.1:" + std::to_string(port), "--station", "alpha",
                             "--mqtt-retry", "1", "--listen", ""});
    EXPECT_TRUE(sub->Await("quillex/alpha/status online", 5)) << sub->Stderr();
    const json row =
        json::parse(sub->Await("quillex/alpha/stats ", 5).value_or(""), nullptr, false);
    EXPECT_EQ(row.value("band", ""), "tone");
    EXPECT_EQ(row.value("station", ""), "alpha");
    EXPECT_EQ(row.value("noise_dbm_per_hz", 0.0), -150.25);
    // An episode's start and then its end, with its worst point.
    std::this_thread::sleep_for(2500ms);
    const auto events = sub->Lines("quillex/alpha/event ");
    ASSERT_GE(events.size(), 2u);
    const json start = json::parse(events[0]), end = json::parse(events[1]);
    EXPECT_EQ(start.value("event", ""), "start");
    EXPECT_EQ(end.value("event", ""), "end");
    EXPECT_EQ(end["first_frame"], start["first_frame"]);
    EXPECT_EQ(end.value("kind", ""), "upper");
    EXPECT_EQ(end.value("excess_db", 0.0), 6.5);

    // The broker goes away and comes back: the host logs the outage once and says online again.
    broker.reset();
    std::this_thread::sleep_for(2500ms);
    broker = std::make_unique<TProcess>(
        std::vector<std::string>{"mosquitto", "-c", dir + "/broker.conf"}, dir + "/broker2");
    std::this_thread::sleep_for(300ms);
    auto again = subscribe("sub2");
    EXPECT_TRUE(again->Await("quillex/alpha/status online", 8)) << host.Process->Stderr();
    EXPECT_TRUE(again->Await("quillex/alpha/stats ", 5));
    const std::string log = host.Process->Stderr();
    for (const std::string once : {"lost the broker", "connected to"}) {
        size_t count = 0;
        for (size_t at = log.find(once); at != std::string::npos; at = log.find(once, at + 1))
            ++count;
        EXPECT_EQ(count, 1u) << once << "\n" << log;
    }

    // Killed outright: the broker says offline for it.
    host.Process->Kill(SIGKILL);
    host.Process->Wait();
    EXPECT_TRUE(again->Await("quillex/alpha/status offline", 5)) << again->Stderr();
}

TEST(Station, PageShowsTheWaterfallFillingAndTheMarker)
{
    if (!Have("chromium"))
        GTEST_FAIL() << "chromium (Debian's chromium) is missing: cannot load the page";
    THost& host = Shared();
    TBrowser browser("http://127.0.0.1:" + std::to_string(host.Port) + "/", 1280, 800);
    const auto rect = [&](const char* Id) {
        return browser.Evaluate(std::string("(r => [r.left, r.top, r.width, r.height])("
                                            "document.getElementById('") +
                                Id + "').getBoundingClientRect())");
    };
    const auto shot = [&] {
        QImage image = QImage::fromData(
            QByteArray::fromBase64(QByteArray::fromStdString(browser.ScreenshotPng())));
        return image.convertToFormat(QImage::Format_RGB32);
    };
    for (int i = 0; i < 100 && browser.Evaluate("window.quillex ? quillex.rows : 0").get<int>() < 5;
         ++i)
        std::this_thread::sleep_for(100ms);
    const json water = rect("water"), trace = rect("trace");
    // The tone's column on the displayed axis, from the whole span's rule.
    const double fraction = (Shown(ToneMHz) - OffsetMHz) / (40.0 * (N - 1) / N);
    const int toneX = int(water[0].get<double>() + fraction * water[2].get<double>());
    const int top = int(water[1].get<double>()), bottom = top + int(water[3].get<double>()) - 1;
    // Rows painted from the bottom up: the tone's pixel white (above the level range), the
    // noise 40 pixels beside it dark.
    const auto filled = [&](const QImage& Image) {
        int rows = 0;
        for (int y = bottom; y >= top; --y) {
            const QColor tone = Image.pixelColor(toneX, y), noise = Image.pixelColor(toneX + 40, y);
            if (tone.red() < 200 || tone.green() < 200 || tone.blue() < 200 || noise.red() > 100)
                break;
            ++rows;
        }
        return rows;
    };
    const int early = filled(shot());
    std::this_thread::sleep_for(1500ms);
    const QImage later = shot();
    EXPECT_GE(early, 3);
    EXPECT_GE(filled(later), early + 10);

    // A click beside the tone on the trace reads the tone: the read-out line and the mark.
    const double x = trace[0].get<double>() + 48 + fraction * (trace[2].get<double>() - 48) + 3;
    browser.Click(x, trace[1].get<double>() + 60);
    std::string readout;
    for (int i = 0; i < 50 && readout.empty(); ++i, std::this_thread::sleep_for(100ms))
        readout = browser.Evaluate("document.getElementById('readout').textContent");
    char expected[64];
    std::snprintf(expected, sizeof expected, "M1 %.4f MHz", Shown(ToneMHz));
    EXPECT_EQ(readout.substr(0, std::strlen(expected)), expected) << readout;
    EXPECT_NEAR(std::stod(readout.substr(readout.find("MHz") + 3)), ToneDbm + LevelOffsetDb, 0.05);
    const QImage marked = shot();
    marked.save(QString::fromStdString(host.Dir + "/page.png"));
    int magenta = 0;
    for (int y = int(trace[1].get<double>());
         y < int(trace[1].get<double>() + trace[3].get<double>()); ++y)
        for (int dx = -8; dx <= 8; ++dx)
            magenta += marked.pixelColor(int(x) - 3 + dx, y) == QColor(255, 64, 255);
    EXPECT_GT(magenta, 10);
}
