#include "dxFFT.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using cd = std::complex<double>;

// Direct DFT in double precision: X[k] = (1/m) sum_n z[n] e^(+2 pi i n k / len).
std::vector<cd> Dft(const std::vector<cd>& z, size_t bins, double m)
{
    const size_t len = z.size();
    std::vector<cd> unit(len), out(bins);
    for (size_t i = 0; i < len; ++i)
        unit[i] = std::polar(1.0, 2 * std::numbers::pi * double(i) / double(len));
    for (size_t k = 0; k < bins; ++k) {
        for (size_t n = 0; n < len; ++n)
            out[k] += z[n] * unit[n * k % len];
        out[k] /= m;
    }
    return out;
}

double RelativeRms(const std::vector<cd>& got, const std::vector<cd>& want)
{
    double err = 0, ref = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        err += std::norm(got[i] - want[i]);
        ref += std::norm(want[i]);
    }
    return std::sqrt(err / ref);
}

// Each build of the transform loops this processor can run: baseline always, wide and AVX-512
// where the processor has them. Each test runs every build so a fault in any shows.
std::vector<TDXLoopBuild> Builds()
{
    std::vector<TDXLoopBuild> builds;
    for (TDXLoopBuild b : {TDXLoopBuild::Baseline, TDXLoopBuild::Wide, TDXLoopBuild::Avx512})
        if (TDXFFT::LoopBuildSupported(b))
            builds.push_back(b);
    return builds;
}

std::string BuildName(TDXLoopBuild build)
{
    const char* names[] = {"baseline loops", "wide loops", "AVX-512 loops"};
    return names[int(build)];
}

// Rounding in a float FFT grows with log N; a wrong twiddle or index gives 1e-1 and more.
constexpr double FloatTolerance = 5e-6;

TEST(FFTAccuracy, RealAndComplexMatchDirectTransformForEveryExponent)
{
    for (TDXLoopBuild build : Builds())
        for (int e = 1; e <= 13; ++e) {
            SCOPED_TRACE(BuildName(build) + ", exponent " + std::to_string(e));
            TDXFFT fft;
            fft.setLoopBuild(build);
            ASSERT_EQ(fft.LoopBuild(), build);
            fft.setExponent(e);
            const int n = int(fft.Size());
            std::mt19937 rng{unsigned(e)};
            std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
            std::vector<float> samples(size_t(2 * n));
            for (auto& v : samples)
                v = dist(rng);
            const auto want = Dft(std::vector<cd>(samples.begin(), samples.end()), size_t(n), n);
            TDXVector* in = fft.CreateVector(2 * n);
            TDXComplexVector* out = fft.CreateComplexVector(n);
            // Tiny and huge inputs have squared magnitudes outside the float range.
            for (float scale : {1.0f, 1e-30f, 1e30f})
                for (bool phase : {false, true}) {
                    SCOPED_TRACE(std::to_string(scale) + (phase ? " phase" : ""));
                    for (int i = 0; i < 2 * n; ++i)
                        in->Values[i] = samples[size_t(i)] * scale;
                    fft.RealFFT(in, out, phase);
                    // Bin 0 is the signed mean of the 2N samples; bins k >= 1 carry the magnitude
                    // beside the imaginary part or, with Phase, the angle.
                    EXPECT_NEAR(out->Real->Values[0] / scale, want[0].real() / 2, 1e-3);
                    EXPECT_EQ(out->Imag->Values[0], 0.0f);
                    std::vector<cd> got, wanted;
                    for (int k = 1; k < n; ++k) {
                        const cd w = want[size_t(k)] * double(scale);
                        const float re = out->Real->Values[k], im = out->Imag->Values[k];
                        got.push_back(phase ? std::polar<double>(re, im) : cd(re, im));
                        wanted.push_back(phase ? w : cd(std::abs(w), w.imag()));
                    }
                    EXPECT_LT(RelativeRms(got, wanted), FloatTolerance);
                }

            // Complex: the forward transform carries the 1/N, the unscaled inverse restores the
            // input.
            std::vector<cd> input;
            for (int i = 0; i < n; ++i) {
                out->Real->Values[i] = samples[size_t(i)];
                out->Imag->Values[i] = samples[size_t(n + i)];
                input.emplace_back(samples[size_t(i)], samples[size_t(n + i)]);
            }
            const auto read = [&] {
                std::vector<cd> z;
                for (int i = 0; i < n; ++i)
                    z.emplace_back(out->Real->Values[i], out->Imag->Values[i]);
                return z;
            };
            fft.ComplexFFT(out, false);
            EXPECT_LT(RelativeRms(read(), Dft(input, size_t(n), n)), FloatTolerance);
            fft.ComplexFFT(out, true);
            EXPECT_LT(RelativeRms(read(), input), FloatTolerance);
        }
}

// The cosine-sum windows over L points, with x = 2 pi n / (L - 1): Hann 0.5 - 0.5 cos x,
// Hamming 0.54 - 0.46 cos x, Blackman 0.42 - 0.5 cos x + 0.08 cos 2x.
TEST(Windows, CoefficientsAndRebuildForTheInputLengthAtTheFirstTransform)
{
    for (TDXLoopBuild build : Builds())
        for (auto [kind, a0, a1, a2] : {std::tuple{wnHanning, 0.5, 0.5, 0.0},
                                        {wnHamming, 0.54, 0.46, 0.0},
                                        {wnBlackman, 0.42, 0.5, 0.08}}) {
            SCOPED_TRACE(BuildName(build) + ", window " + std::to_string(int(kind)));
            TDXFFT fft;
            fft.setLoopBuild(build);
            fft.setExponent(9);
            fft.setLeakFunction(kind);
            const auto expectCosineSum = [&, a0 = a0, a1 = a1, a2 = a2](const TDXVector& w) {
                for (int i = 0; i < w.Count; ++i) {
                    const double x = 2 * std::numbers::pi * i / (w.Count - 1);
                    ASSERT_NEAR(w.Values[i], a0 - a1 * std::cos(x) + a2 * std::cos(2 * x), 2e-6)
                        << i << " of " << w.Count;
                }
            };
            ASSERT_EQ(fft.Window().Count, 512);
            expectCosineSum(fft.Window());
            // The first transform fits the window to its 2N inputs and applies it in place.
            TDXVector* in = fft.CreateVector(1024);
            TDXComplexVector* out = fft.CreateComplexVector(512);
            for (int i = 0; i < 1024; ++i)
                in->Values[i] = float(i % 17) - 8.0f;
            fft.RealFFT(in, out, false);
            ASSERT_EQ(fft.Window().Count, 1024);
            expectCosineSum(fft.Window());
            for (int i = 0; i < 1024; ++i)
                ASSERT_EQ(in->Values[i], (float(i % 17) - 8.0f) * fft.Window().Values[i]) << i;
            // Later frames, and selecting the same window again, keep the coefficients.
            const float* kept = fft.Window().Values;
            fft.setLeakFunction(kind);
            fft.RealFFT(in, out, false);
            EXPECT_EQ(fft.Window().Values, kept);
        }
}

// The build is chosen once per component and kept, so repeated frames of the same input give
// the same floats.
TEST(FFTBuilds, ChosenOnceKeptAcrossExponentsAndRepeatable)
{
    // The widest build the processor has is the default, and "wide" means any build beyond the
    // baseline.
    const TDXLoopBuild fastest = Builds().back();
    EXPECT_EQ(TDXFFT::FastestLoopBuild(), fastest);
    TDXFFT fft;
    EXPECT_EQ(fft.LoopBuild(), fastest);
    EXPECT_EQ(fft.WideLoops(), TDXFFT::WideLoopsSupported());
    fft.setWideLoops(false);
    EXPECT_EQ(fft.LoopBuild(), TDXLoopBuild::Baseline);
    fft.setWideLoops(true);
    EXPECT_EQ(fft.LoopBuild(), fastest);
    fft.setExponent(11);
    EXPECT_EQ(fft.LoopBuild(), fastest);
    // A build the processor lacks gives the widest one below it.
    fft.setLoopBuild(TDXLoopBuild::Avx512);
    EXPECT_EQ(fft.LoopBuild(), fastest);
    fft.setLoopBuild(TDXLoopBuild::Wide);
    EXPECT_EQ(fft.LoopBuild(),
              TDXFFT::WideLoopsSupported() ? TDXLoopBuild::Wide : TDXLoopBuild::Baseline);
    fft.setExponent(12);
    EXPECT_NE(fft.LoopBuild(), TDXLoopBuild::Avx512);
    // So does a number beyond the known builds, as a benchmark's argument may give.
    EXPECT_FALSE(TDXFFT::LoopBuildSupported(TDXLoopBuild(3)));
    fft.setLoopBuild(TDXLoopBuild(3));
    EXPECT_EQ(fft.LoopBuild(), fastest);

    const int n = 4096;
    std::mt19937 rng{99};
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<float> samples(size_t(2 * n));
    for (auto& v : samples)
        v = 2.0f * float(dist(rng));
    for (TDXLoopBuild build : Builds()) {
        SCOPED_TRACE(BuildName(build));
        TDXFFT one;
        one.setLoopBuild(build);
        one.setExponent(12);
        one.setLeakFunction(wnHanning);
        TDXVector* in = one.CreateVector(2 * n);
        TDXComplexVector* out = one.CreateComplexVector(n);
        std::vector<float> first;
        for (int frame = 0; frame < 3; ++frame) {
            std::copy(samples.begin(), samples.end(), in->Values);
            one.RealFFT(in, out, false);
            std::vector<float> mags(out->Real->Values, out->Real->Values + n);
            if (frame == 0)
                first = mags;
            else
                ASSERT_EQ(mags, first) << "frame " << frame;
        }
    }
}

// Transforming raw samples directly gives exactly the floats of scaling them into a vector
// (x = 2 * s) and transforming that, for every window, size, output form and build.
TEST(SampleTransform, SameFloatsAsTheScaledVector)
{
    for (TDXLoopBuild build : Builds())
        for (int e = 1; e <= 13; ++e) {
            const int n = 1 << e;
            std::mt19937 rng{unsigned(e)};
            std::uniform_int_distribution<int> dist(-32768, 32767);
            // Exactly 2N samples, so a read past the block shows under the address sanitizer;
            // full scale at both ends and where each quarter of the block starts.
            std::vector<int16_t> samples(size_t(2 * n));
            for (auto& v : samples)
                v = int16_t(dist(rng));
            for (int i : {0, n / 2, n, 3 * n / 2})
                samples[size_t(i)] = -32768;
            samples.back() = 32767;
            samples[size_t(n - 1)] = 32767;
            for (TDXLeakType kind : {wnRectangle, wnHanning, wnHamming, wnBlackman})
                for (bool phase : {false, true}) {
                    SCOPED_TRACE(BuildName(build) + ", exponent " + std::to_string(e) +
                                 ", window " + std::to_string(int(kind)) +
                                 (phase ? ", phase" : ""));
                    TDXFFT fft;
                    fft.setLoopBuild(build);
                    fft.setExponent(e);
                    fft.setLeakFunction(kind);
                    TDXComplexVector* fused = fft.CreateComplexVector(n);
                    // The first call also fits the window to the 2N samples.
                    ASSERT_TRUE(fft.RealFFTOfSamples(samples.data(), fused, phase));
                    TDXVector* in = fft.CreateVector(2 * n);
                    for (int i = 0; i < 2 * n; ++i)
                        in->Values[i] = float(2 * int(samples[size_t(i)]));
                    TDXComplexVector* plain = fft.CreateComplexVector(n);
                    fft.RealFFT(in, plain, phase);
                    for (int k = 0; k < n; ++k) {
                        ASSERT_EQ(fused->Real->Values[k], plain->Real->Values[k]) << "bin " << k;
                        ASSERT_EQ(fused->Imag->Values[k], plain->Imag->Values[k]) << "bin " << k;
                    }
                    // Brought to Hann's coherent gain: the L = 2N coefficients a0 - a1 cos x +
                    // a2 cos 2x, x = 2 pi i / (L - 1), sum to a0 L - a1 + a2, and the magnitudes
                    // grow by Hann's sum over the window's; Hann's own floats stay.
                    TDXComplexVector* gained = fft.CreateComplexVector(n);
                    ASSERT_TRUE(fft.RealFFTOfSamples(samples.data(), gained, phase, wnHanning));
                    const double a[4][3] = {
                        {1, 0, 0}, {0.5, 0.5, 0}, {0.54, 0.46, 0}, {0.42, 0.5, 0.08}};
                    const auto sum = [&a, n](int W) { return a[W][0] * 2 * n - a[W][1] + a[W][2]; };
                    const double ratio = sum(wnHanning) / sum(kind);
                    const float* m = plain->Real->Values;
                    const double top = *std::max_element(m + 1, m + n);
                    for (int k = 1; k < n; ++k)
                        ASSERT_NEAR(gained->Real->Values[k], m[k] * ratio,
                                    kind == wnHanning ? 0 : 1e-5 * top)
                            << k;
                }
        }
}

// An owner's window procedure sees the scaled samples in a vector that is kept from frame to
// frame and replaced only when the size changes; the result is that of the vector path.
TEST(SampleTransform, OwnerWindowGoesThroughAKeptVector)
{
    TDXFFT fft;
    fft.setExponent(5);
    std::vector<const float*> seen;
    fft.setOwnerLeakFunction([&](TDXVector& d) {
        seen.push_back(d.Values);
        for (int i = 0; i < d.Count; ++i)
            d.Values[i] *= float(i % 3);
    });
    fft.setLeakFunction(wnOwn);
    std::vector<int16_t> samples(128);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(int(i * 37 % 101) - 50);
    TDXComplexVector* fused = fft.CreateComplexVector(32);
    TDXComplexVector* plain = fft.CreateComplexVector(32);
    TDXVector* in = fft.CreateVector(64);
    for (int i = 0; i < 64; ++i)
        in->Values[i] = float(2 * samples[size_t(i)]) * float(i % 3);
    fft.setLeakFunction(wnRectangle);
    fft.RealFFT(in, plain, true);
    fft.setLeakFunction(wnOwn);
    for (int frame = 0; frame < 2; ++frame)
        ASSERT_TRUE(fft.RealFFTOfSamples(samples.data(), fused, true));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], seen[1]);
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(fused->Real->Values[k], plain->Real->Values[k]) << k;
        EXPECT_EQ(fused->Imag->Values[k], plain->Imag->Values[k]) << k;
    }
    fft.setExponent(6);
    TDXComplexVector* wider = fft.CreateComplexVector(64);
    ASSERT_TRUE(fft.RealFFTOfSamples(samples.data(), wider, false));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NE(seen[2], seen[1]);

    // Bad arguments, or a procedure that reconfigures the component, leave the output alone.
    wider->Real->Values[3] = 7.0f;
    EXPECT_FALSE(fft.RealFFTOfSamples(nullptr, wider, false));
    EXPECT_FALSE(fft.RealFFTOfSamples(samples.data(), fused, false));
    EXPECT_FALSE(fft.RealFFTOfSamples(samples.data(), nullptr, false));
    fft.setOwnerLeakFunction([&](TDXVector&) { fft.setExponent(4); });
    fft.setLeakFunction(wnRectangle);
    fft.setLeakFunction(wnOwn);
    EXPECT_FALSE(fft.RealFFTOfSamples(samples.data(), wider, false));
    EXPECT_EQ(wider->Real->Values[3], 7.0f);
}

TEST(Windows, OwnWindowNeedsAnOwnerProcedureWhenSelected)
{
    TDXFFT fft;
    fft.setExponent(4);
    TDXVector* in = fft.CreateVector(32);
    TDXComplexVector* out = fft.CreateComplexVector(16);
    int first = 0;
    fft.setLeakFunction(wnOwn);
    EXPECT_EQ(fft.LeakFunction(), wnRectangle);
    // Assigning the procedure afterwards does not select it.
    fft.setOwnerLeakFunction([&](TDXVector& d) { d.Values[0] = float(++first * 32); });
    fft.RealFFT(in, out, false);
    EXPECT_EQ(first, 0);
    fft.setLeakFunction(wnOwn);
    EXPECT_EQ(fft.LeakFunction(), wnOwn);
    fft.RealFFT(in, out, false);
    EXPECT_EQ(first, 1);
    EXPECT_FLOAT_EQ(out->Real->Values[0], 1.0f);

    // A procedure that reconfigures the component, or shortens the vector, ends the transform
    // before it writes.
    const TDXLeakFunction foreign[] = {[&](TDXVector&) { fft.setExponent(5); },
                                       [](TDXVector& d) { d.Count /= 2; }};
    for (const TDXLeakFunction& procedure : foreign) {
        fft.setExponent(4);
        fft.setOwnerLeakFunction(procedure);
        fft.setLeakFunction(wnRectangle);
        fft.setLeakFunction(wnOwn);
        out->Real->Values[0] = 9.0f;
        fft.RealFFT(fft.CreateVector(32), out, false);
        EXPECT_EQ(out->Real->Values[0], 9.0f);
    }
}

// The transforms write the bins they have and nothing past them: the vectors borrow their
// storage from buffers that hold a guard value after it.
TEST(Failures, TransformsWriteNothingPastTheirVectors)
{
    for (int e : {1, 2, 3, 4, 9})
        for (TDXLeakType kind : {wnRectangle, wnHanning})
            for (bool phase : {false, true}) {
                TDXFFT fft;
                fft.setExponent(e);
                fft.setLeakFunction(kind);
                const int n = 1 << e;
                std::vector<float> in(size_t(2 * n + 1), 1.0f), re(size_t(n + 1)), im(re);
                const std::vector<int16_t> samples(size_t(2 * n), 9);
                in.back() = re.back() = im.back() = -7.0f;
                TDXVector input(0);
                TDXComplexVector output(0);
                std::tie(input.Values, input.Count) = std::pair{in.data(), 2 * n};
                std::tie(output.Real->Values, output.Real->Count) = std::pair{re.data(), n};
                std::tie(output.Imag->Values, output.Imag->Count) = std::pair{im.data(), n};
                fft.RealFFT(&input, &output, phase);
                EXPECT_TRUE(fft.RealFFTOfSamples(samples.data(), &output, phase));
                fft.ComplexFFT(&output, phase);
                EXPECT_TRUE(in.back() == -7.0f && re.back() == -7.0f && im.back() == -7.0f)
                    << "exponent " << e << " window " << int(kind) << " phase " << phase;
                input.Values = output.Real->Values = output.Imag->Values = nullptr;
            }
}

TEST(Failures, BadVectorsOrExponentsLeaveEverythingUntouched)
{
    TDXFFT fft;
    fft.setExponent(5);
    fft.setLeakFunction(wnHanning);
    for (auto [inCount, outCount] : {std::pair{32, 32}, {64, 16}, {63, 32}, {128, 64}}) {
        SCOPED_TRACE(std::to_string(inCount) + "/" + std::to_string(outCount));
        TDXVector* in = fft.CreateVector(inCount);
        TDXComplexVector* out = fft.CreateComplexVector(outCount);
        std::fill(in->Values, in->Values + inCount, 3.0f);
        std::fill(out->Real->Values, out->Real->Values + outCount, -1.0f);
        fft.RealFFT(in, out, false);
        if (outCount != 32) {
            fft.ComplexFFT(out, false);
            const std::vector<int16_t> samples(64, 5);
            EXPECT_FALSE(fft.RealFFTOfSamples(samples.data(), out, false));
        }
        EXPECT_EQ(std::count(in->Values, in->Values + inCount, 3.0f), inCount);
        EXPECT_EQ(std::count(out->Real->Values, out->Real->Values + outCount, -1.0f), outCount);
    }
    EXPECT_EQ(fft.Window().Count, 32);
    // Complex vectors whose parts came out empty still report the requested Count.
    TDXComplexVector* empty = fft.CreateComplexVector(-1);
    fft.RealFFT(nullptr, nullptr, false);
    fft.RealFFT(fft.CreateVector(64), empty, false);
    fft.ComplexFFT(nullptr, true);
    fft.ComplexFFT(empty, true);
    EXPECT_EQ(empty->Real->Count, 0);

    // Exponents outside 1..31 are ignored; above 26 nothing is allocated and nothing runs.
    for (int bad : {0, -1, 32}) {
        fft.setExponent(bad);
        EXPECT_EQ(fft.Size(), 32);
    }
    for (int e = 27; e <= 31; ++e) {
        SCOPED_TRACE(e);
        fft.setExponent(e);
        EXPECT_EQ(fft.Size(), int64_t(1) << e);
        EXPECT_TRUE(fft.CosTable().Count == 0 && fft.Window().Values == nullptr);
        // At 27 the output vector still fits, but nothing may run on it.
        TDXComplexVector* out = fft.CreateComplexVector(fft.Size());
        fft.RealFFT(fft.CreateVector(2 * fft.Size()), out, true);
        if (out->Real->Count > 0) {
            out->Real->Values[1] = 1.0f;
            fft.ComplexFFT(out, false);
            EXPECT_EQ(out->Real->Values[1], 1.0f);
        }
        fft.FreeComplexVector(out);
    }
}

} // namespace
