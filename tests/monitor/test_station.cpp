// The station view against a stand-in monitor (station_host) that feeds a known tone: the
// endpoints against what it published and wrote, the live rows against the tone, the limits
// and tokens, MQTT with a real broker, and the page in headless Chromium.
#include "station_client.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>

#include <cmath>

using namespace quillex::station::test;
using namespace std::chrono_literals;

namespace {

// The host's signal (see station_host.cpp), shown mirrored, 0.5 MHz up and 10 dB up.
constexpr double ToneMHz = 10.00371, ToneDbm = -30, BurstMHz = 25;
constexpr double OffsetMHz = 0.5, LevelOffsetDb = 10;
constexpr int N = 4096;
// Displayed frequency of a physical one: mirrored about the spectrum's last bin.
double Shown(double MHz)
{
    return OffsetMHz + 40.0 * (N - 1) / N - MHz;
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

struct THost
{
    std::string Dir;
    std::unique_ptr<TProcess> Process;
    int Port = 0;

    explicit THost(const std::string& Name, const std::string& Args = "--listen 127.0.0.1:0")
        : Dir(ScratchDir(Name))
    {
        setenv("TZ", "UTC", 1); // local times are UTC times, for since= with a zone
        Process = std::make_unique<TProcess>(
            Split(std::string(QUILLEX_STATION_HOST) + " --out " + Dir + " " + Args, ' '),
            Dir + "/host");
        Port = std::atoi(Process->Await("port ").value_or("0").c_str());
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
};

THost& Shared()
{
    static THost host("shared");
    return host;
}

} // namespace

TEST(Station, ApiAnswersWithWhatTheMonitorPublished)
{
    THost& host = Shared();
    ASSERT_GT(host.Port, 0) << host.Process->Stderr();
    std::this_thread::sleep_for(5500ms); // statistics, an upper and a lower episode
    const json status = host.Get("/api/status");
    EXPECT_EQ(status["receiver"], "tone host");
    EXPECT_EQ(status["simulated"], true);
    EXPECT_EQ(status["state"], "running");
    EXPECT_EQ(status["settings"]["window"], "hann");
    EXPECT_EQ(status["dropped_frames_total"], 3);
    EXPECT_EQ(status["bins"], N);

    // The latest statistics line per band, field by field as the stats file has it.
    const json bands = host.Get("/api/bands")["bands"];
    const auto fields = Split(Split(ReadFile(host.Dir + "/stats.csv"), '\n').back(), ',');
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
    const auto last = Split(log.back(), ',');
    const json all = host.Get("/api/events")["events"];
    ASSERT_EQ(all.size(), log.size());
    EXPECT_EQ(all.back()["start"], last[0]);
    EXPECT_EQ(all.back()["end"], last[1]);
    EXPECT_EQ(all.back()["last_frame"], std::stoll(last[3]));
    EXPECT_EQ(all.back()["kind"], last[4]);
    EXPECT_NEAR(all.back()["excess_db"].get<double>(), std::stod(last[7]), 0.005);
    EXPECT_EQ(host.Get("/api/events?since=" + last[0])["events"].size(), 1u);
    EXPECT_EQ(host.Get("/api/events?since=" + last[0] + "Z")["events"].size(), 1u); // TZ=UTC
    // A time within the second after the last end, to the millisecond.
    EXPECT_EQ(
        host.Get("/api/events?since=" + last[1].substr(0, 19) + ".9995%2B00:00")["events"].size(),
        0u);
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
                                                  {"/api/events?since=2026-13-01", 400},
                                                  {"/api/peaks?n=0", 400},
                                                  {"/api/peaks?n=101", 400},
                                                  {"/ws", 426}})
        EXPECT_EQ(Request(host.Port, target).Status, code) << target;
    EXPECT_EQ(Request(host.Port, "/api/status", "", "DELETE").Status, 405);

    // Metrics: the exposition format as Prometheus checks it, and the numbers published.
    if (!Have("promtool"))
        GTEST_SKIP() << "promtool (Debian's prometheus) is missing: cannot check /metrics";
    std::ofstream(host.Dir + "/metrics.txt") << Request(host.Port, "/metrics").Body;
    EXPECT_EQ(std::system(("promtool check metrics < " + host.Dir + "/metrics.txt").c_str()), 0);
    EXPECT_EQ(host.Metric("quillex_band_power_dbm{band=\"tone\"}"),
              host.Get("/api/bands")["bands"][0]["power_dbm"].get<double>());
    EXPECT_EQ(host.Metric("quillex_dropped_frames_total"), 3);
    EXPECT_EQ(host.Metric("quillex_receiver_up"), 1);
    for (const std::string kind : {"upper", "lower"}) { // started: ended, or open
        const double ended = double(Count(ReadFile(host.Dir + "/events.csv"), "," + kind + ","));
        const double started = host.Metric("quillex_limit_episodes_total{kind=\"" + kind + "\"}");
        EXPECT_EQ(started - ended, host.Metric("quillex_limit_active{kind=\"" + kind + "\"}"))
            << kind;
    }
    EXPECT_TRUE(std::isnan(host.Metric("quillex_mqtt_connected"))); // no broker, no MQTT lines
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
    EXPECT_NEAR(loudest - row.Levels.begin(),
                int((Shown(ToneMHz) - row.LowMHz) / (row.HighMHz - row.LowMHz) * 1024), 1);
    // 333 columns of 12.3 bins: the tone's column reads its loudest bin, which lies inside it
    // and on none of its edges. The tone is 0.38 bin off that bin, where Hann's kernel
    // |sin(pi d) / (pi d (1 - d^2))| takes 0.81 dB.
    whole.Send(R"({"columns": 333})");
    while (whole.Next(row) && row.Columns != 333)
        ;
    const double d = ToneMHz * N / 40 - std::round(ToneMHz * N / 40);
    EXPECT_NEAR(*std::max_element(row.Levels.begin(), row.Levels.end()),
                ToneDbm + LevelOffsetDb +
                    20 * std::log10(std::sin(M_PI * d) / (M_PI * d * (1 - d * d))),
                0.05);

    // A span around the burst at 100 columns: every burst frame in exactly one row, none lost
    // between rows, at the rate asked for.
    TViewerClient narrow(host.Port);
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
    // One burst each 300 frames at 150 frames a second.
    EXPECT_NEAR(bursts, double(rows.back().Total - rows.front().Total) / 300, 1);
    EXPECT_GE(bursts, 2);
}

TEST(Station, TokensGuardEveryRequest)
{
    const std::string token = "s3cret-token_42", bearer = "Authorization: Bearer " + token + "\r\n";
    std::ofstream(ScratchDir("token") + "/token") << token << "\r\n";
    THost host("token", "--listen 127.0.0.1:0 --token-file " + ScratchDir("token") + "/token");
    ASSERT_GT(host.Port, 0) << host.Process->Stderr();
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
        EXPECT_EQ(Request(host.Port, target, headers).Status, code) << target << headers;
    TRow row;
    EXPECT_TRUE(TViewerClient(host.Port, "quillex, quillex-token." + token).Next(row));
    EXPECT_ANY_THROW(TViewerClient(host.Port, "quillex, quillex-token.wrong"));
    EXPECT_ANY_THROW(TViewerClient(host.Port));
    // Another site's page cannot open a viewer in the owner's browser.
    EXPECT_TRUE(Starts(RawExchange(host.Port, "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                              "Origin: http://evil\r\nConnection: Upgrade\r\n"
                                              "Upgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
                                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" +
                                                  bearer + "\r\n"),
                       "HTTP/1.1 403"));
    // Beyond loopback only with a token, refused before anything starts.
    TProcess open({QUILLEX_STATION_HOST, "--listen", "0.0.0.0:0"}, host.Dir + "/open");
    EXPECT_EQ(open.Wait(), 2);
    EXPECT_EQ(Count(open.Stderr(), "needs --token"), 1u) << open.Stderr();
}

TEST(Station, LimitsHoldAndNobodyWaitsForASlowViewer)
{
    THost host("limits", "--listen 127.0.0.1:0 --idle-s 1 --web-clients 3 --web-fps 20");
    ASSERT_GT(host.Port, 0) << host.Process->Stderr();
    // Oversized headers, a body, junk (three times: a peer gets one log line a minute).
    for (const auto& [request, answer] : std::vector<std::pair<std::string, std::string>>{
             {"GET / HTTP/1.1\r\nX-Pad: " + std::string(9000, 'a') + "\r\n\r\n", "HTTP/1.1 431"},
             {"POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", "HTTP/1.1 413"},
             {"GET / HTTP/1.1\r\nHost x\r\n\r\n", "HTTP/1.1 400"},
             {"GET / HTTP/1.1\r\nHost x\r\n\r\n", "HTTP/1.1 400"},
             {"\x16\x03\x01 TLS", "HTTP/1.1 400"}})
        EXPECT_TRUE(Starts(RawExchange(host.Port, request), answer)) << answer;
    EXPECT_EQ(Count(host.Process->Stderr(), "warning"), 1u) << host.Process->Stderr();
    // A viewer's message over 1 KiB ends that viewer.
    {
        TViewerClient chatty(host.Port);
        chatty.Send("{\"columns\": 100, \"pad\": \"" + std::string(2000, ' ') + "\"}");
        TRow row;
        int rows = 0;
        while (chatty.Next(row) && rows < 100)
            ++rows;
        EXPECT_LT(rows, 100);
    }
    // A fourth viewer beyond --web-clients 3 gets 503 while three are open.
    {
        TViewerClient a(host.Port), b(host.Port), c(host.Port);
        EXPECT_ANY_THROW(TViewerClient(host.Port));
    }
    std::this_thread::sleep_for(200ms);

    // 100 idle connections: 64 are held (the 65th is closed at once), all closed after the
    // idle time, after which requests are served again.
    net::io_context io;
    std::vector<tcp::socket> idle;
    for (int i = 0; i < 100; ++i)
        idle.emplace_back(io).connect(Loopback(host.Port));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Request(host.Port, "/api/status").Status, 0);
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
    EXPECT_EQ(Request(host.Port, "/api/status").Status, 200);
    idle.clear();

    // A viewer that never reads, 4096 columns into a small receive buffer, beside one that
    // reads: the reader gets its rows, the feed takes every frame.
    TViewerClient stuck(host.Port, "quillex", "/ws", 4096), reader(host.Port);
    stuck.Send(R"({"columns": 4096})");
    const double frames = host.Metric("quillex_frames_total");
    TRow row;
    int rows = 0;
    for (const auto end = After(3); Clock::now() < end && reader.Next(row);)
        ++rows;
    EXPECT_NEAR(rows, 60, 6); // --web-fps 20
    EXPECT_NEAR(host.Metric("quillex_frames_total") - frames, 450, 30);
    EXPECT_EQ(host.Metric("quillex_station_refused_frames_total"), 0);
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
    auto server = start("broker", broker);
    auto first = start("sub1", sub);
    THost host("mqtt-host",
               "--listen  --station alpha --mqtt-retry 1 --mqtt 127.0.0.1:" + std::to_string(port));
    EXPECT_TRUE(first->Await("quillex/alpha/status online", 5)) << host.Process->Stderr();
    const json row =
        json::parse(first->Await("quillex/alpha/stats ", 5).value_or(""), nullptr, false);
    EXPECT_EQ(row.value("band", ""), "tone");
    EXPECT_EQ(row.value("station", ""), "alpha");
    EXPECT_EQ(row.value("noise_dbm_per_hz", 0.0), -150.25);
    // An episode's start and then its end, with its worst point.
    std::this_thread::sleep_for(2500ms);
    const auto events = first->Lines("quillex/alpha/event ");
    ASSERT_GE(events.size(), 2u);
    const json begun = json::parse(events[0]), ended = json::parse(events[1]);
    EXPECT_EQ(begun.value("event", ""), "start");
    EXPECT_EQ(ended.value("event", ""), "end");
    EXPECT_EQ(ended["first_frame"], begun["first_frame"]);
    EXPECT_EQ(ended.value("excess_db", 0.0), 6.5);

    // The broker goes away and comes back: the host logs the outage once and says online again.
    server.reset();
    std::this_thread::sleep_for(2s);
    server = start("broker2", broker);
    auto second = start("sub2", sub);
    EXPECT_TRUE(second->Await("quillex/alpha/status online", 8)) << host.Process->Stderr();
    EXPECT_TRUE(second->Await("quillex/alpha/stats ", 5));
    for (const char* once : {"lost the broker", "connected to"})
        EXPECT_EQ(Count(host.Process->Stderr(), once), 1u) << once << host.Process->Stderr();

    // Killed outright: the broker says offline for it.
    host.Process->Kill(SIGKILL);
    host.Process->Wait();
    EXPECT_TRUE(second->Await("quillex/alpha/status offline", 5));
}

TEST(Station, PageShowsTheWaterfallFillingAndTheMarker)
{
    if (!Have("chromium"))
        GTEST_SKIP() << "chromium (Debian's chromium) is missing: cannot load the page";
    THost& host = Shared();
    TBrowser browser("http://127.0.0.1:" + std::to_string(host.Port) + "/", 1280, 800);
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
