#include "AllocCounter.h"
#include "FrameProcessor.h"
#include "FrameSpectrum.h"
#include "HoldTraces.h"
#include "PeakSearch.h"

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

// Magnitudes of frames through the program's arithmetic: a noise floor (the receiver's own,
// without averaging, the roughest case for the peak rules) under 40 carriers from 10 to 70 dB
// above it, or the floor alone, level or falling by Slope dB across the band (as behind a
// receiver's filter). Each frame has its own noise and carrier phases.
std::vector<std::vector<float>> Frames(TDXLeakType Window, int Count, bool Carriers,
                                       double Slope = 0)
{
    TDXFFT fft;
    fft.setExponent(Exponent);
    fft.setLeakFunction(Window);
    TDXVector* in = fft.CreateVector(2 * Bins);
    TDXComplexVector* out = fft.CreateComplexVector(Bins);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> bin(20, Bins - 20), level(10, 70), phase(0, 6.28);
    std::normal_distribution<double> noise(0, 3);
    std::vector<double> bins, amplitudes;
    for (int c = 0; Carriers && c < 40; ++c) {
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
        frames.emplace_back(size_t(Bins));
        AverageMagnitudes(out->Real->Values, frames.back().data(), Bins, 1);
        for (int k = 0; k < Bins; ++k)
            frames.back()[size_t(k)] *= float(std::pow(10, -Slope / 20 * k / Bins));
    }
    return frames;
}

// Max hold, min hold and the mean of the last K frames, updated once per frame.
void BM_HoldTraces(benchmark::State& state)
{
    const auto frames = Frames(wnHanning, 16, true);
    THoldTraces holds;
    holds.Configure(Bins, int(state.range(0)));
    size_t f = 0;
    for (int i = 0; i < 2 * int(state.range(0)); ++i) // ring full: each frame replaces one
        holds.Add(frames[f++ % frames.size()].data());
    const long long before = AllocationCount();
    for (auto _ : state) {
        holds.Add(frames[f++ % frames.size()].data());
        benchmark::DoNotOptimize(holds.Average());
        benchmark::ClobberMemory();
    }
    state.counters["allocs"] = double(AllocationCount() - before);
}

// The 5 strongest peaks of the whole span, interpolated, as "Peak" and the peak table need them.
void StrongestPeaks(benchmark::State& state, bool Carriers, double Slope = 0)
{
    const auto window = TDXLeakType(state.range(0));
    const auto frames = Frames(window, 8, Carriers, Slope);
    TPeakSearch search;
    TPeak peaks[5];
    size_t f = 0;
    search.Strongest(frames[0].data(), Bins, window, 0, Bins - 1, 0, 5, peaks);
    int found = 0;
    const long long before = AllocationCount();
    for (auto _ : state) {
        found = search.Strongest(frames[f++ % frames.size()].data(), Bins, window, 0, Bins - 1, 0,
                                 5, peaks);
        benchmark::DoNotOptimize(peaks);
    }
    state.counters["allocs"] = double(AllocationCount() - before);
    state.counters["found"] = found;
    // Local maxima of the last frame looked at one by one: the rest were ruled out in bulk.
    state.counters["examined"] = search.Effort().Examined;
}

void BM_StrongestPeaks(benchmark::State& state)
{
    StrongestPeaks(state, true);
}

// Noise alone: no peak stands out, so every local maximum has to be ruled out.
void BM_StrongestPeaksNoiseOnly(benchmark::State& state)
{
    StrongestPeaks(state, false);
}

// Noise falling by 40 dB across the band.
void BM_StrongestPeaksSlopingNoise(benchmark::State& state)
{
    StrongestPeaks(state, false, 40);
}

// A marker following the strongest carrier frame by frame.
void BM_TrackPeak(benchmark::State& state)
{
    const auto window = TDXLeakType(state.range(0));
    const auto frames = Frames(window, 8, true);
    TPeakSearch search;
    TPeak start;
    search.Strongest(frames[0].data(), Bins, window, 0, Bins - 1, 0, 1, &start);
    size_t f = 0;
    bool kept = true;
    const long long before = AllocationCount();
    for (auto _ : state) {
        TPeak p;
        kept &= TrackPeak(frames[f++ % frames.size()].data(), Bins, window, start.Bin, p);
        benchmark::DoNotOptimize(p);
    }
    state.counters["allocs"] = double(AllocationCount() - before);
    if (!kept)
        state.SkipWithError("the marker lost its carrier");
}

void Windows(benchmark::internal::Benchmark* b)
{
    b->ArgName("window");
    for (int w = wnRectangle; w <= wnBlackman; ++w)
        b->Arg(w);
}

BENCHMARK(BM_HoldTraces)->ArgName("K")->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StrongestPeaks)->Apply(Windows)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StrongestPeaksNoiseOnly)->Apply(Windows)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StrongestPeaksSlopingNoise)->Apply(Windows)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TrackPeak)->Apply(Windows)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
