#include "AllocCounter.h"
#include "FrameRing.h"
#include "LimitCheck.h"
#include "LimitEpisodes.h"
#include "SpkFile.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

using namespace quillex;
using quillex::bench::AllocationCount;

namespace {

constexpr int Bins = 4096;
constexpr int Frames = 64;

// Magnitudes of a receiver's spectrum: noise near -110 dBm, a carrier of -84 dBm every 97 bins,
// and in every fourth frame one of -38 dBm above the upper limit, so that the worst bin is
// looked for too.
std::vector<std::vector<float>> Spectra()
{
    std::mt19937 rng(5);
    // Rayleigh: the magnitude of complex Gaussian noise.
    std::uniform_real_distribution<float> uniform(1e-12f, 1.0f);
    auto noise = [&](std::mt19937&) { return 0.04f * std::sqrt(-2.0f * std::log(uniform(rng))); };
    std::vector<std::vector<float>> spectra(Frames, std::vector<float>(Bins));
    for (int f = 0; f < Frames; ++f) {
        for (int k = 0; k < Bins; ++k)
            spectra[f][k] = noise(rng) + (k % 97 == 0 ? 1.0f : 0.0f);
        if (f % 4 == 0)
            spectra[f][1000 + f] = 200.0f;
    }
    return spectra;
}

// The worst case for the loop: both limits over every bin, the upper one a curve from a
// trace (a point per bin), the lower one flat.
TLimits Limits()
{
    std::vector<float> trace(Bins);
    for (int d = 0; d < Bins; ++d)
        trace[d] = -80.0f + 3.0f * std::sin(d * 0.01f);
    TLimits limits;
    limits.Upper = CurveFromTrace({Bins, 0, 0, false}, trace.data(), 0, Bins, 6.0);
    limits.Lower = FlatCurve(-160);
    return limits;
}

void BM_LimitCheck(benchmark::State& state)
{
    const auto spectra = Spectra();
    TLimitCheck check;
    check.Set(Limits(), {Bins, 0.0, 0.0, state.range(0) != 0});
    int frame = 0;
    int beyond = 0;
    const long long before = AllocationCount();
    for (auto _ : state) {
        const TLimitFrame& r = check.Check(spectra[frame].data());
        beyond += r.AnyBeyond();
        benchmark::DoNotOptimize(&r);
        frame = (frame + 1) % Frames;
    }
    state.counters["allocs"] = double(AllocationCount() - before);
    state.counters["beyond"] = double(beyond) / double(state.iterations());
}
BENCHMARK(BM_LimitCheck)->ArgName("inverted")->Arg(0)->Arg(1);

// The check and the episodes it feeds, as the window and the exporter run them per frame at
// 100 frames/s: a quarter of the frames are beyond the upper limit, each with its tone
// interpolated for the worst point, and with a hold-off of 20 ms each of them is an episode
// that starts and ends.
void BM_LimitCheckAndEpisodes(benchmark::State& state)
{
    const auto spectra = Spectra();
    TLimitCheck check;
    check.Set(Limits(), {Bins, 0.0, 0.0, false});
    TLimitEpisodes episodes;
    episodes.SetHoldOffSeconds(0.02);
    int64_t frame = 0;
    int ended = 0;
    const long long before = AllocationCount();
    for (auto _ : state) {
        const float* m = spectra[frame % Frames].data();
        const TLimitStep& step =
            episodes.Frame(check, check.Check(m), m, frame, 46000.0 + double(frame) / 8.64e6);
        ended += step.EndedCount;
        benchmark::DoNotOptimize(&step);
        ++frame;
    }
    state.counters["allocs"] = double(AllocationCount() - before);
    state.counters["episodes"] = double(ended) / double(state.iterations());
}
BENCHMARK(BM_LimitCheckAndEpisodes);

// The same check through the build for processors without AVX2.
void BM_LimitCheckPortableLoop(benchmark::State& state)
{
    const auto spectra = Spectra();
    TLimitCheck check;
    check.Set(Limits(), {Bins, 0.0, 0.0, false});
    std::vector<float> a(Bins, 1e-3f), b(Bins, 1e-5f), r(Bins);
    int frame = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(LimitRatiosPortable(a.data(), b.data(), spectra[frame].data(),
                                                     r.data(), 0, Bins - 1, true));
        benchmark::DoNotOptimize(LimitRatiosPortable(a.data(), b.data(), spectra[frame].data(),
                                                     r.data(), 0, Bins - 1, false));
        frame = (frame + 1) % Frames;
    }
}
BENCHMARK(BM_LimitCheckPortableLoop);

void BM_FrameRingPush(benchmark::State& state)
{
    std::vector<int16_t> block(SampleBlockSamples, 7);
    TFrameRing ring;
    ring.SetLength(int(state.range(0)));
    double time = 0;
    const long long before = AllocationCount();
    for (auto _ : state) {
        ring.Push(0.0, time, block.data());
        time += 1e-7;
        benchmark::ClobberMemory();
    }
    state.counters["allocs"] = double(AllocationCount() - before);
}
BENCHMARK(BM_FrameRingPush)->ArgName("frames")->Arg(750);

} // namespace

BENCHMARK_MAIN();
