// A stand-in for the monitor: drives the station view with a known tone at a steady frame rate,
// publishes status, statistics and limit episodes, and writes what it published as the monitor
// writes its stats and event log, so that tests can hold the endpoints against it.
#include "DateTimeU.h"
#include "FrameSpectrum.h"
#include "LimitEventLog.h"
#include "StampText.h"
#include "Station.h"
#include "dxFFT.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <thread>

using namespace quillex;
using namespace quillex::station;

namespace {
volatile std::sig_atomic_t Stop = 0;
}

int main(int argc, char** argv)
{
    std::map<std::string, double> host = {
        {"tone-mhz", 10.0}, {"tone-dbm", -30},    {"burst-mhz", 25},  {"burst-every", 300},
        {"rate", 150},      {"exponent", 12},     {"freq-offset", 0}, {"level-offset", 0},
        {"inverted", 0},    {"duration-s", 3600}, {"idle-s", 30},     {"mqtt-retry", 60}};
    std::string out = ".";
    TStationOptions options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = std::string(argv[i]).substr(2), value = argv[i + 1];
        if (name == "out")
            out = value;
        else if (host.count(name))
            host[name] = std::stod(value);
        else if (const std::string error = ParseStationOption(name, value, options); !error.empty())
            return std::fprintf(stderr, "%s\n", error.c_str()), 2;
    }
    options.Limits.IdleSeconds = host["idle-s"];
    options.Limits.MqttRetryMaxSeconds = host["mqtt-retry"];
    if (const std::string error = CheckStationOptions(options); !error.empty())
        return std::fprintf(stderr, "%s\n", error.c_str()), 2;
    TStation station;
    TDisplayMapping mapping{host["freq-offset"], host["level-offset"], host["inverted"] != 0};
    station.SetMapping(mapping);
    if (!station.Start(options))
        return 1;
    std::printf("port %d\n", station.Port());
    std::fflush(stdout);
    std::signal(SIGTERM, [](int) { Stop = 1; });
    std::signal(SIGINT, [](int) { Stop = 1; });

    TDXFFT fft;
    fft.setExponent(int(host["exponent"]));
    fft.setLeakFunction(wnHanning);
    const int n = int(fft.Size());
    TDXVector* input = fft.CreateVector(2 * n);
    TDXComplexVector* output = fft.CreateComplexVector(n);
    std::vector<int16_t> block(8192);
    std::ofstream stats(out + "/stats.csv"), events(out + "/events.csv");
    // The samples are doubled before the transform and Hann halves a tone on its bin, so a
    // sinusoid of amplitude a reads 20 log10(a / 16384) dBm.
    const double tone = 16384 * std::pow(10, host["tone-dbm"] / 20);
    uint32_t noise = 1;
    const auto start = std::chrono::steady_clock::now();
    auto due = start;
    TLimitEpisode episode;
    for (int64_t frame = 0; !Stop; ++frame) {
        const bool burst = frame % int64_t(host["burst-every"]) == int64_t(host["burst-every"]) / 2;
        for (int i = 0; i < 2 * n; ++i) {
            noise = noise * 1664525u + 1013904223u;
            double s = tone * std::sin(2 * M_PI * host["tone-mhz"] / 80 * i) + (noise >> 30) - 1.5;
            if (burst)
                s += tone * std::sin(2 * M_PI * host["burst-mhz"] / 80 * i);
            block[size_t(i)] = int16_t(std::lround(s));
        }
        TransformBlock(block.data(), fft, input, output);
        for (int k = 0; k < n; ++k)
            output->Real->Values[k] = std::fabs(output->Real->Values[k]);
        const double now = NowDateTime();
        station.PublishFrame(output->Real->Values, n, now);
        const double elapsed = std::chrono::duration<double>(due - start).count();
        if (frame % int64_t(host["rate"]) == 0) {
            const int second = int(frame / int64_t(host["rate"]));
            station.PublishStatus({"tone host",
                                   true,
                                   true,
                                   {{"fft_exponent", "12"}, {"window", "hann"}},
                                   3,
                                   elapsed,
                                   {}});
            TBandRow row{now,
                         true,
                         frame,
                         "tone",
                         host["tone-mhz"] - 0.5,
                         host["tone-mhz"] + 0.5,
                         host["tone-dbm"] + second * 0.01,
                         -150.25,
                         12.5,
                         0.03,
                         host["tone-mhz"],
                         host["tone-dbm"]};
            station.PublishBands({row});
            std::string line = IsoStampText(now) + ",1," + std::to_string(frame) + ",tone";
            for (double v : {row.LowMHz, row.HighMHz, row.PowerDbm, row.NoiseDbmPerHz,
                             row.OccupancyPct, row.ObwKHz, row.PeakMHz, row.PeakDbm})
                AppendFixed(line += ",", v, 6);
            stats << line << std::endl;
            // An upper limit episode of one second every three.
            if (second % 3 == 1) {
                episode = {TLimitKind::Upper,
                           now,
                           now,
                           frame,
                           frame,
                           {host["tone-mhz"], host["tone-dbm"], 6.5}};
                station.PublishEvent(
                    {false, now, 0, frame, 0, "upper", host["tone-mhz"], host["tone-dbm"], 6.5});
            } else if (second % 3 == 2) {
                episode.End = now;
                episode.LastFrame = frame;
                station.PublishEvent({true, episode.Start, now, episode.FirstFrame, frame, "upper",
                                      host["tone-mhz"], host["tone-dbm"], 6.5});
                events << LimitLogLine(episode) << std::flush;
            }
        }
        if (elapsed > host["duration-s"])
            break;
        due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(1 / host["rate"]));
        std::this_thread::sleep_until(due);
    }
    station.Stop();
    return 0;
}
