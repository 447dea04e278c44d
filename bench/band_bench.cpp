#include "AllocCounter.h"
#include "BandStats.h"
#include "ChannelMeter.h"
#include "FrameProcessor.h"
#include "FrameSpectrum.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace quillex;
using quillex::bench::AllocationCount;

namespace {

constexpr int Exponent = 12;
constexpr int Bins = 1 << Exponent;
constexpr int BandCount = 10;

// Unaveraged magnitudes of frames through the program's transform: receiver noise under 40
// carriers 10 to 70 dB above it, each frame with its own noise and phases.
std::vector<std::vector<float>> Frames(TDXLeakType Window, int Count)
{
    TDXFFT fft;
    fft.setExponent(Exponent);
    fft.setLeakFunction(Window);
    TDXVector* in = fft.CreateVector(2 * Bins);
    TDXComplexVector* out = fft.CreateComplexVector(Bins);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> bin(20, Bins - 20), level(10, 70), phase(0, 6.28);
    std::normal_distribution<double> noise(0, 3);
    std::vector<double> bins, amplitudes;
    for (int c = 0; c < 40; ++c) {
        bins.push_back(bin(rng));
        amplitudes.push_back(0.1 * std::pow(10, level(rng) / 20));
    }
    std::vector<std::vector<float>> frames;
    std::vector<int16_t> block(8192);
    for (int f = 0; f < Count; ++f) {
        std::vector<double> phases;
        for (size_t c = 0; c < bins.size(); ++c)
            phases.push_back(phase(rng));
        for (int n = 0; n < 2 * Bins; ++n) {
            double v = noise(rng);
            for (size_t c = 0; c < bins.size(); ++c)
                v += amplitudes[c] * std::cos(std::numbers::pi * bins[c] * n / Bins + phases[c]);
            block[size_t(n)] = int16_t(std::lround(std::clamp(v, -32768.0, 32767.0)));
        }
        TransformBlock(block.data(), fft, in, out);
        frames.emplace_back(out->Real->Values, out->Real->Values + Bins);
    }
    return frames;
}

// Ten bands side by side over the whole spectrum, as displayed.
std::vector<TBand> Bands()
{
    std::vector<TBand> bands;
    for (int b = 0; b < BandCount; ++b)
        bands.push_back({40.0 * b / BandCount, 40.0 * (b + 1) / BandCount});
    return bands;
}

// Groups of G frames: each frame added, the statistics of all bands computed at the group's end
// (with or without each band's strongest peak) and a new group started. Time per iteration is
// per frame.
void BM_BandStats(benchmark::State& state)
{
    const auto window = TDXLeakType(state.range(0));
    const int group = int(state.range(1));
    const auto frames = Frames(window, 16);
    TBandStats stats;
    stats.FindPeaks = state.range(2) != 0;
    const auto bands = Bands();
    stats.Configure({Bins, window, 1.5, 0.0, false}, bands);
    for (const auto& f : frames) // the peak search sizes its storage on first use
        stats.Add(f);
    stats.Compute();
    stats.Clear();
    size_t f = 0;
    double sum = 0;
    const long long before = AllocationCount();
    for (auto _ : state) {
        stats.Add(frames[f++ % frames.size()]);
        if (stats.Frames() == group) {
            for (const TBandResult& r : stats.Compute())
                sum += r.NoiseDbmHz;
            stats.Clear();
        }
    }
    benchmark::DoNotOptimize(sum);
    state.counters["allocs"] = double(AllocationCount() - before);
}

void Arguments(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"window", "group", "peaks"});
    for (int w = wnRectangle; w <= wnBlackman; ++w)
        for (int g : {1, 10, 1000})
            b->Args({w, g, 1});
    b->Args({wnHanning, 1, 0});
    b->Args({wnHanning, 10, 0});
}

BENCHMARK(BM_BandStats)->Apply(Arguments)->Unit(benchmark::kMicrosecond);

// The window's channel meter, as a frame drives it: the frame into the power average and the
// noise group of a 20 MHz span, then the channel read (a 100 kHz band that moves by a bin every
// other frame, as a marker following its carrier does). Time per iteration is per frame.
void BM_ChannelMeter(benchmark::State& state)
{
    const auto frames = Frames(wnHanning, 16);
    TChannelMeter meter;
    meter.Configure({Bins, wnHanning, 1.5, 0.0, false}, int(state.range(0)));
    meter.SetSpan({10.0, 30.0});
    meter.SetChannel(TBand{20.0, 20.1}); // a first channel sizes its statistics' storage
    meter.Channel();
    size_t f = 0;
    double sum = 0;
    const long long before = AllocationCount();
    for (auto _ : state) {
        const double shift = f % 2 ? 40.0 / Bins : 0.0;
        meter.SetChannel(TBand{20.0 + shift, 20.1 + shift});
        meter.Add(frames[f++ % frames.size()]);
        sum += meter.Channel().PowerDbm + meter.NoiseDbmHz();
    }
    benchmark::DoNotOptimize(sum);
    state.counters["allocs"] = double(AllocationCount() - before);
}

BENCHMARK(BM_ChannelMeter)
    ->ArgName("averaging")
    ->Arg(1)
    ->Arg(8)
    ->Arg(64)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
