#include "FrameProcessor.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

using namespace quillex;

namespace {

constexpr int Bins = 4096;
constexpr int Averaging = 8;

struct TFrameData
{
    std::vector<float> Magnitudes = std::vector<float>(Bins);
    std::vector<float> Avg = std::vector<float>(Bins);
    std::vector<float> Levels = std::vector<float>(Bins);

    TFrameData()
    {
        // Magnitudes of a plausible spectrum: a noise floor with a few carriers.
        std::mt19937 rng(1);
        std::exponential_distribution<float> noise(1.0f / 40.0f);
        for (int k = 0; k < Bins; ++k)
            Magnitudes[k] = noise(rng) + (k % 97 == 0 ? 2e6f : 0.0f);
        Magnitudes[0] = -1234.0f;
    }
};

void ExactLevels(const float* Avg, float* Levels, int N)
{
    for (int k = 0; k < N; ++k)
        Levels[k] = static_cast<float>(20.0 * std::log10(Avg[k] / 16384.0 + 1e-9));
}

// One frame per iteration: Frame averages the magnitudes and converts them to levels.
template <class TFrame> void RunFrames(benchmark::State& state, TFrame Frame)
{
    TFrameData data;
    for (auto _ : state) {
        Frame(data);
        benchmark::DoNotOptimize(data.Levels.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * Bins);
}

void BM_AverageAndExactLog10(benchmark::State& state)
{
    RunFrames(state, [](TFrameData& data) {
        AverageMagnitudes(data.Magnitudes.data(), data.Avg.data(), Bins, Averaging);
        ExactLevels(data.Avg.data(), data.Levels.data(), Bins);
    });
}

void BM_AverageAndFastLevels(benchmark::State& state)
{
    const bool inverted = state.range(0) != 0;
    RunFrames(state, [inverted](TFrameData& data) {
        AverageMagnitudes(data.Magnitudes.data(), data.Avg.data(), Bins, Averaging);
        LevelsFromAverages(data.Avg.data(), data.Levels.data(), Bins, inverted);
    });
}

// The build that runs on processors without AVX2 and FMA.
void BM_AverageAndFastLevelsPortable(benchmark::State& state)
{
    RunFrames(state, [](TFrameData& data) {
        AverageMagnitudesPortable(data.Magnitudes.data(), data.Avg.data(), Bins, Averaging);
        LevelsFromAveragesPortable(data.Avg.data(), data.Levels.data(), Bins, false);
    });
}

void BM_AverageOnly(benchmark::State& state)
{
    TFrameData data;
    for (auto _ : state) {
        AverageMagnitudes(data.Magnitudes.data(), data.Avg.data(), Bins, Averaging);
        benchmark::DoNotOptimize(data.Avg.data());
        benchmark::ClobberMemory();
    }
}

void BM_ScaleSamples(benchmark::State& state)
{
    std::vector<int16_t> block(2 * Bins, -321);
    std::vector<float> input(2 * Bins);
    for (auto _ : state) {
        ScaleSamples(block.data(), input.data(), 2 * Bins);
        benchmark::DoNotOptimize(input.data());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_AverageAndExactLog10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AverageAndFastLevels)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("inverted")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AverageAndFastLevelsPortable)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AverageOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScaleSamples)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
