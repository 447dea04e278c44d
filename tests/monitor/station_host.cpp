// A stand-in for the monitor: drives the station view with a known signal at the simulated
// receiver's default frame rate (150 frames/s, 4096 bins, Hann): a tone of -30 dBm at
// 10.00371 MHz and, every 300th frame, a burst of the same level at 25 MHz; shown 0.5 MHz and
// 10 dB up and mirrored. Once a second it publishes status and a statistics row, and a limit
// episode of one second every three (upper and lower by turns), and writes what it published
// as the monitor writes its stats and event log. Takes the station's options, --out DIR, --idle-s S
// and
// --mqtt-retry S; prints "port P" once it serves.
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
#include <thread>

using namespace quillex;
using namespace quillex::station;

namespace {
volatile std::sig_atomic_t Stop = 0;
constexpr double ToneMHz = 10.00371, ToneDbm = -30, BurstMHz = 25, Rate = 150;
} // namespace

int main(int argc, char** argv)
{
    std::string out = ".";
    TStationOptions options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = std::string(argv[i]).substr(2), value = argv[i + 1];
        if (name == "out")
            out = value;
        else if (name == "idle-s" || name == "mqtt-retry")
            (name == "idle-s" ? options.Limits.IdleSeconds : options.Limits.MqttRetryMaxSeconds) =
                std::stod(value);
        else if (const std::string error = ParseStationOption(name, value, options); !error.empty())
            return std::fprintf(stderr, "%s\n", error.c_str()), 2;
    }
    if (const std::string error = CheckStationOptions(options); !error.empty())
        return std::fprintf(stderr, "%s\n", error.c_str()), 2;
    TStation station;
    station.SetMapping({0.5, 10, true});
    if (!station.Start(options))
        return 1;
    std::printf("port %d\n", station.Port());
    std::fflush(stdout);
    std::signal(SIGTERM, [](int) { Stop = 1; });

    TDXFFT fft;
    fft.setExponent(12);
    fft.setLeakFunction(wnHanning);
    const int n = int(fft.Size());
    TDXVector* input = fft.CreateVector(2 * n);
    TDXComplexVector* output = fft.CreateComplexVector(n);
    std::vector<int16_t> block(8192);
    std::ofstream stats(out + "/stats.csv"), events(out + "/events.csv");
    // The samples are doubled before the transform and Hann halves a tone on its bin, so a
    // sinusoid of amplitude a reads 20 log10(a / 16384) dBm.
    const double tone = 16384 * std::pow(10, ToneDbm / 20);
    uint32_t noise = 1;
    auto due = std::chrono::steady_clock::now();
    TLimitEpisode episode;
    for (int64_t frame = 0; !Stop; ++frame) {
        for (int i = 0; i < 2 * n; ++i) {
            noise = noise * 1664525u + 1013904223u;
            const double burst = frame % 300 == 150 ? std::sin(2 * M_PI * BurstMHz / 80 * i) : 0;
            block[size_t(i)] = int16_t(std::lround(
                tone * (std::sin(2 * M_PI * ToneMHz / 80 * i) + burst) + (noise >> 30) - 1.5));
        }
        TransformBlock(block.data(), fft, input, output);
        for (int k = 0; k < n; ++k)
            output->Real->Values[k] = std::fabs(output->Real->Values[k]);
        const double now = NowDateTime();
        station.PublishFrame(output->Real->Values, n, now);
        if (frame % int64_t(Rate) == 0) {
            const int second = int(frame / int64_t(Rate));
            station.PublishStatus(
                {"tone host", true, true, {{"window", "hann"}}, 3, second * 1.0, {}});
            const TBandRow row{now,
                               true,
                               frame,
                               "tone",
                               ToneMHz - 0.5,
                               ToneMHz + 0.5,
                               ToneDbm + second * 0.01,
                               -150.25,
                               12.5,
                               0.03,
                               ToneMHz,
                               ToneDbm};
            station.PublishBands({row});
            std::string line = IsoStampText(now) + ",1," + std::to_string(frame) + ",tone";
            for (double v : {row.LowMHz, row.HighMHz, row.PowerDbm, row.NoiseDbmPerHz,
                             row.OccupancyPct, row.ObwKHz, row.PeakMHz, row.PeakDbm})
                AppendFixed(line += ",", v, 6);
            stats << line << std::endl;
            const bool lower = second / 3 % 2;
            const char* kind = lower ? "lower" : "upper";
            if (second % 3 == 1) {
                episode = {lower ? TLimitKind::Lower : TLimitKind::Upper,
                           now,
                           now,
                           frame,
                           frame,
                           {ToneMHz, ToneDbm, 6.5}};
                station.PublishEvent({false, now, 0, frame, 0, kind, ToneMHz, ToneDbm, 6.5});
            } else if (second % 3 == 2) {
                episode.End = now;
                episode.LastFrame = frame;
                station.PublishEvent({true, episode.Start, now, episode.FirstFrame, frame, kind,
                                      ToneMHz, ToneDbm, 6.5});
                events << LimitLogLine(episode) << std::flush;
            }
        }
        due += std::chrono::microseconds(int64_t(1e6 / Rate));
        std::this_thread::sleep_until(due);
    }
    station.Stop();
    return 0;
}
