// Per-frame transform cost: RealFFT (which includes the magnitudes) against FFTW's r2c plus a
// plain float magnitude loop scaled the same way, on the same input, for 2^8..2^12 bins; each
// build of RealFFT's loops (baseline x86-64, AVX2 + FMA, AVX-512); and a frame from raw
// samples with the Hann window, scaled into a vector first or fused into the transform.
// Run with
//   fft_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// (add --benchmark_enable_random_interleaving=true to compare builds under changing load).
#include "AllocCounter.h"
#include "FrameProcessor.h"
#include "dxFFT.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using quillex::bench::AllocationCount;

std::vector<int16_t> RawSamples(size_t count)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<int16_t> v(count);
    for (auto& s : v)
        s = int16_t(dist(rng));
    return v;
}

std::vector<float> Samples(size_t count)
{
    const auto raw = RawSamples(count);
    std::vector<float> v(count);
    for (size_t i = 0; i < count; ++i)
        v[i] = 2.0f * float(raw[i]);
    return v;
}

// Selects build state.range(1) (0 baseline, 1 AVX2 + FMA, 2 AVX-512); false, with the
// benchmark skipped, where the processor lacks it.
bool SelectBuild(benchmark::State& state, TDXFFT& fft)
{
    const auto build = TDXLoopBuild(state.range(1));
    if (!TDXFFT::LoopBuildSupported(build)) {
        state.SkipWithError("loop build not supported here");
        return false;
    }
    fft.setLoopBuild(build);
    return true;
}

// FFTW's unscaled r2c with the same scaling and magnitudes as RealFFT's output.
class FftwReference
{
public:
    explicit FftwReference(int n)
        : n(n), in(fftwf_alloc_real(size_t(2 * n))), out(fftwf_alloc_complex(size_t(n + 1))),
          mags(size_t(n))
    {
        plan = fftwf_plan_dft_r2c_1d(2 * n, in, out, FFTW_MEASURE);
    }
    ~FftwReference()
    {
        fftwf_destroy_plan(plan);
        fftwf_free(in);
        fftwf_free(out);
    }
    void Run()
    {
        fftwf_execute(plan);
        const float scale = 1.0f / float(n);
        mags[0] = out[0][0] * 0.5f * scale;
        for (int k = 1; k < n; ++k) {
            const float re = out[k][0] * scale, im = out[k][1] * scale;
            mags[size_t(k)] = std::sqrt(re * re + im * im);
        }
    }
    int n;
    float* in;
    fftwf_complex* out;
    std::vector<float> mags;
    fftwf_plan plan;
};

// The build the program picks for this processor or, with a second argument, the given one.
void BM_RealFFT(benchmark::State& state)
{
    TDXFFT fft;
    if (state.range(1) >= 0 && !SelectBuild(state, fft))
        return;
    fft.setExponent(int(state.range(0)));
    const int n = int(fft.Size());
    TDXVector* in = fft.CreateVector(2 * n);
    TDXComplexVector* out = fft.CreateComplexVector(n);
    const auto samples = Samples(size_t(2 * n));
    std::copy(samples.begin(), samples.end(), in->Values);

    // Same numbers as FFTW within float tolerance, or the timing means nothing.
    FftwReference ref(n);
    std::copy(samples.begin(), samples.end(), ref.in);
    ref.Run();
    fft.RealFFT(in, out, false);
    double err = 0, norm = 0;
    for (int k = 0; k < n; ++k) {
        const double d = double(out->Real->Values[k]) - ref.mags[size_t(k)];
        err += d * d;
        norm += double(ref.mags[size_t(k)]) * ref.mags[size_t(k)];
    }
    if (std::sqrt(err / norm) > 1e-5) {
        state.SkipWithError("RealFFT differs from FFTW");
        return;
    }

    const long long before = AllocationCount();
    for (auto _ : state) {
        fft.RealFFT(in, out, false);
        benchmark::DoNotOptimize(out->Real->Values);
        benchmark::ClobberMemory();
    }
    state.counters["allocs"] = double(AllocationCount() - before);
}

void BM_Fftw(benchmark::State& state)
{
    const int n = 1 << state.range(0);
    FftwReference ref(n);
    const auto samples = Samples(size_t(2 * n));
    std::copy(samples.begin(), samples.end(), ref.in);
    for (auto _ : state) {
        ref.Run();
        benchmark::DoNotOptimize(ref.mags.data());
        benchmark::ClobberMemory();
    }
}

// A frame as the program gets it, 2N raw samples, to magnitudes with the Hann window: either
// scaled into a float vector (ScaleSamples) that RealFFT windows in place, as before the fused
// path, or through RealFFTOfSamples, which scales and windows while packing.
void HannFrame(benchmark::State& state, bool Fused)
{
    TDXFFT fft;
    if (!SelectBuild(state, fft))
        return;
    fft.setExponent(int(state.range(0)));
    fft.setLeakFunction(wnHanning);
    const int n = int(fft.Size());
    TDXVector* in = fft.CreateVector(2 * n);
    TDXComplexVector* out = fft.CreateComplexVector(n);
    const auto samples = RawSamples(size_t(2 * n));
    const auto frame = [&] {
        if (Fused) {
            fft.RealFFTOfSamples(samples.data(), out, false);
        } else {
            quillex::ScaleSamples(samples.data(), in->Values, 2 * n);
            fft.RealFFT(in, out, false);
        }
    };
    frame(); // the first call fits the window to the 2N samples
    const long long before = AllocationCount();
    for (auto _ : state) {
        frame();
        benchmark::DoNotOptimize(out->Real->Values);
        benchmark::ClobberMemory();
    }
    state.counters["allocs"] = double(AllocationCount() - before);
}

void BM_HannScaledVector(benchmark::State& state)
{
    HannFrame(state, false);
}

void BM_HannFused(benchmark::State& state)
{
    HannFrame(state, true);
}

void ExponentAndBuilds(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"exp", "build"});
    for (int build = 0; build <= 2; ++build)
        b->Args({12, build});
}

BENCHMARK(BM_RealFFT)
    ->ArgNames({"exp", "build"})
    ->ArgsProduct({benchmark::CreateDenseRange(8, 12, 1), {-1}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Fftw)->DenseRange(8, 12)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RealFFT)->Apply(ExponentAndBuilds)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HannScaledVector)->Apply(ExponentAndBuilds)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HannFused)->Apply(ExponentAndBuilds)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
