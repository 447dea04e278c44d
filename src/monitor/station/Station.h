#pragma once

#include "dxFFT.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The station view of the monitor: a read-only web page with a live waterfall, a JSON API,
// Prometheus metrics and MQTT messages. Qt-free.
//
// Feed contract (what the monitor calls, from any thread):
// - PublishFrame, for every processed frame, from the acquisition thread. It never waits for
//   the server, the network or a client: it folds the frame into one of two buffers under a
//   mutex that the server holds only to swap the buffers, and allocates nothing. A frame that
//   finds the mutex held longer than a moment is refused (counted, never waited for).
// - PublishStatus, PublishBands and PublishEvent at their own low rates (a status a second,
//   the bands per statistics interval, an event per episode start and end). They copy their
//   arguments under a short mutex and return; the server and the MQTT thread take it from there.
// - SetMapping when the display's offsets, inversion, window or the monitored span change.
// Start and Stop belong to the monitor's main thread: Start before the acquisition thread
// publishes, Stop after it has ended. Publishing without Start keeps the state for nobody.
namespace quillex::station {

enum class TLogLevel { Info, Warning, Error };
// One line per event, without a newline; the monitor's logger prefixes the level word. Called
// from the station's own threads (server, MQTT), so it must be safe to call from any thread.
using TLogFunction = std::function<void(TLogLevel, const std::string&)>;
// The default logger: "quillex-monitor: <info|warning|error>: <text>" on stderr.
void LogToStderr(TLogLevel Level, const std::string& Text);

struct TStationOptions
{
    std::string ListenHost; // empty: no web server
    int ListenPort = 0;
    double WebFps = 10;   // rows a second per WebSocket client, 0.1 .. 50
    int WebClients = 16;  // WebSocket clients at once, 1 .. 64
    std::string Token;    // required of every request when not empty
    std::string MqttHost; // empty: no MQTT
    int MqttPort = 1883;
    std::string MqttTopic;   // empty: "quillex/<station>"
    std::string StationName; // empty: the host name

    // Fixed limits; settable only so that tests need not wait half a minute.
    struct TLimits
    {
        int MaxConnections = 64;
        int HeaderBytes = 8192;
        double IdleSeconds = 30;
        int ClientMessageBytes = 1024;
        int MqttQueue = 1000;
        double MqttRetryMaxSeconds = 60;
        bool operator==(const TLimits&) const = default;
    } Limits;
    bool operator==(const TStationOptions&) const = default;
};

// One option of the station by its name without dashes ("listen", "web-fps", "web-clients",
// "token", "token-file", "mqtt", "mqtt-topic", "station"). Returns an empty text when it was
// taken, else one line saying what is wrong. An unknown name returns "unknown option".
std::string ParseStationOption(const std::string& Name, const std::string& Value,
                               TStationOptions& Options);
bool IsStationOption(const std::string& Name);
// The options' lines for --help.
std::string StationOptionsHelp();
// Checks the options as a whole (a non-loopback address needs a token; the station name
// resolved); an empty text when they can be used.
std::string CheckStationOptions(TStationOptions& Options);

// How the monitor's display shows the spectrum, as the window's axis: bin k of N lies at
// FreqOffsetMHz + d * 40 / N MHz, d = k, or N-1-k when inverted; levels add LevelOffsetDb.
struct TDisplayMapping
{
    double FreqOffsetMHz = 0;
    double LevelOffsetDb = 0;
    bool Inverted = false;
    TDXLeakType Window = wnHanning; // for the peaks' interpolation
    // The monitored span as displayed (MHz); both 0: the whole spectrum.
    double SpanLowMHz = 0;
    double SpanHighMHz = 0;
};

struct TOpenEpisode
{
    std::string Kind; // "upper" or "lower"
    double Start = 0; // days since 1899-12-30, local time
    int64_t FirstFrame = 0;
    double MHz = 0; // worst point so far, as displayed
    double Dbm = 0;
    double ExcessDb = 0;
};

struct TStationStatus
{
    std::string Receiver; // the receiver library's file or name
    bool Simulated = false;
    bool Running = false; // false: in a gap (no frames from the receiver)
    std::vector<std::pair<std::string, std::string>> Settings;
    int64_t DroppedFrames = 0; // lost to the monitor (behind its frame rate, not recorded)
    double UptimeSeconds = 0;
    std::vector<TOpenEpisode> OpenEpisodes;
};

// One line of the statistics: the stats CSV's columns.
struct TBandRow
{
    double Time = 0; // the interval's start, days since 1899-12-30, local time
    bool Stamped = true;
    int64_t Frame = 0; // the interval's first frame
    std::string Band;
    double LowMHz = 0, HighMHz = 0;
    double PowerDbm = 0;
    double NoiseDbmPerHz = 0;
    double OccupancyPct = 0;
    double ObwKHz = 0;
    double PeakMHz = 0, PeakDbm = 0;
};

// An episode's start (End and LastFrame not yet known) or its end: the event log's columns.
struct TStationEvent
{
    bool Ended = false;
    double Start = 0, End = 0; // days since 1899-12-30, local time
    int64_t FirstFrame = 0, LastFrame = 0;
    std::string Kind; // "upper" or "lower"
    double MHz = 0, Dbm = 0, ExcessDb = 0;
};

class TStation
{
public:
    explicit TStation(TLogFunction Log = LogToStderr);
    ~TStation();
    TStation(const TStation&) = delete;
    TStation& operator=(const TStation&) = delete;

    // Opens the listening socket and connects to the broker (in the background). Options must
    // have passed CheckStationOptions. False, with a logged line, when the address cannot be
    // bound. Call once.
    bool Start(const TStationOptions& Options);
    // Says "offline" on MQTT, closes every connection and joins the threads.
    void Stop();
    // The bound port (useful with port 0), 0 without a server.
    int Port() const;

    // Magnitudes as the transform leaves them (linear, averaged, physical order, N bins,
    // N <= 8192); level 20*log10(m/16384 + 1e-9) dBm. WallClockDays: the frame's time.
    // Returns false when the frame was refused (not folded into the view).
    bool PublishFrame(const float* Magnitudes, int N, double WallClockDays);
    void SetMapping(const TDisplayMapping& Mapping);
    void PublishStatus(const TStationStatus& Status);
    // The rows of one interval, a row per band.
    void PublishBands(const std::vector<TBandRow>& Rows);
    void PublishEvent(const TStationEvent& Event);

    // Frames taken and refused by PublishFrame since the start.
    int64_t FramesTaken() const;
    int64_t FramesRefused() const;

    struct TImpl;

private:
    std::unique_ptr<TImpl> FImpl;
};

} // namespace quillex::station
