#include "dxFFT.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace {

using cd = std::complex<double>;

// Direct DFT in double precision with the component's scaling:
// X[k] = (1/N) sum_n x[n] e^(+i pi n k / N) over the 2N samples.
std::vector<cd> ReferenceRealSpectrum(const std::vector<float>& x)
{
    const size_t twoN = x.size(), n = twoN / 2;
    std::vector<cd> unit(twoN);
    for (size_t i = 0; i < twoN; ++i)
        unit[i] = std::polar(1.0, std::numbers::pi * double(i) / double(n));
    std::vector<cd> out(n);
    for (size_t k = 0; k < n; ++k) {
        cd sum = 0;
        for (size_t i = 0; i < twoN; ++i)
            sum += double(x[i]) * unit[(i * k) % twoN];
        out[k] = sum / double(n);
    }
    return out;
}

// Forward complex DFT, positive exponent, scaled by 1/N.
std::vector<cd> ReferenceComplexSpectrum(const std::vector<cd>& z)
{
    const size_t n = z.size();
    std::vector<cd> out(n);
    for (size_t k = 0; k < n; ++k) {
        cd sum = 0;
        for (size_t i = 0; i < n; ++i)
            sum += z[i] * std::polar(1.0, 2.0 * std::numbers::pi * double((i * k) % n) / double(n));
        out[k] = sum / double(n);
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

std::vector<float> RandomSamples(size_t count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
    std::vector<float> v(count);
    for (auto& s : v)
        s = dist(rng);
    return v;
}

void Fill(TDXVector* v, const std::vector<float>& values)
{
    ASSERT_EQ(size_t(v->Count), values.size());
    std::copy(values.begin(), values.end(), v->Values);
}

// Rounding error of a float FFT grows with log N; a wrong twiddle or index gives errors of
// order 1e-1 and more.
constexpr double FloatTolerance = 5e-6;

TEST(RealFFTAccuracy, MatchesDirectTransformForEveryExponent)
{
    for (int e = 1; e <= 13; ++e) {
        SCOPED_TRACE("exponent " + std::to_string(e));
        TDXFFT fft;
        fft.setExponent(e);
        const int n = int(fft.Size());
        const auto samples = RandomSamples(size_t(2 * n), unsigned(e));
        const auto want = ReferenceRealSpectrum(samples);

        TDXVector* in = fft.CreateVector(2 * n);
        TDXComplexVector* out = fft.CreateComplexVector(n);
        Fill(in, samples);
        fft.RealFFT(in, out, false);
        TDXVector* inPhase = fft.CreateVector(2 * n);
        TDXComplexVector* outPhase = fft.CreateComplexVector(n);
        Fill(inPhase, samples);
        fft.RealFFT(inPhase, outPhase, true);

        // Bin 0 is the signed mean; the other bins are magnitudes with the imaginary part
        // (or, with Phase, the angle) beside them.
        EXPECT_NEAR(out->Real->Values[0], want[0].real() / 2, 1e-3);
        EXPECT_EQ(out->Imag->Values[0], 0.0f);
        std::vector<cd> parts, partsWanted, fromPhase, wanted;
        for (int k = 1; k < n; ++k) {
            const cd w = want[size_t(k)];
            parts.emplace_back(out->Real->Values[k], out->Imag->Values[k]);
            partsWanted.emplace_back(std::abs(w), w.imag());
            fromPhase.push_back(
                std::polar(double(outPhase->Real->Values[k]), double(outPhase->Imag->Values[k])));
            wanted.push_back(w);
        }
        EXPECT_LT(RelativeRms(parts, partsWanted), FloatTolerance);
        EXPECT_LT(RelativeRms(fromPhase, wanted), FloatTolerance);
    }
}

TEST(ComplexFFTAccuracy, ForwardMatchesDirectTransformAndInverseRestoresInput)
{
    for (int e = 1; e <= 11; ++e) {
        SCOPED_TRACE("exponent " + std::to_string(e));
        TDXFFT fft;
        fft.setExponent(e);
        const int n = int(fft.Size());
        const auto re = RandomSamples(size_t(n), unsigned(100 + e));
        const auto im = RandomSamples(size_t(n), unsigned(200 + e));
        std::vector<cd> z;
        for (size_t i = 0; i < re.size(); ++i)
            z.emplace_back(re[i], im[i]);

        TDXComplexVector* v = fft.CreateComplexVector(n);
        Fill(v->Real, re);
        Fill(v->Imag, im);
        fft.ComplexFFT(v, false);
        const auto read = [&] {
            std::vector<cd> got;
            for (int i = 0; i < n; ++i)
                got.emplace_back(v->Real->Values[i], v->Imag->Values[i]);
            return got;
        };
        EXPECT_LT(RelativeRms(read(), ReferenceComplexSpectrum(z)), FloatTolerance);

        // The forward transform carries the 1/N, the inverse is unscaled: the round trip
        // gives the input back.
        fft.ComplexFFT(v, true);
        EXPECT_LT(RelativeRms(read(), z), FloatTolerance);
    }
}

TEST(RealFFTAccuracy, SinusoidOnABinReadsItsAmplitude)
{
    TDXFFT fft;
    fft.setExponent(12);
    const int n = int(fft.Size());
    const double amplitude = 3000.0;
    for (int bin : {1, 100, 2048, 4095}) {
        SCOPED_TRACE("bin " + std::to_string(bin));
        for (TDXLeakType kind : {wnRectangle, wnHanning}) {
            fft.setLeakFunction(kind);
            TDXVector* in = fft.CreateVector(2 * n);
            TDXComplexVector* out = fft.CreateComplexVector(n);
            for (int i = 0; i < 2 * n; ++i)
                in->Values[i] = float(amplitude * std::cos(std::numbers::pi * bin * i / n + 0.3));
            fft.RealFFT(in, out, false);
            const double expected = kind == wnRectangle ? amplitude : amplitude / 2;
            EXPECT_NEAR(out->Real->Values[bin], expected, expected * 1e-3);
            // Away from the peak (and its Hann neighbours) the spectrum is empty.
            const int other = (bin + n / 2) % n == 0 ? 1 : (bin + n / 2) % n;
            EXPECT_LT(out->Real->Values[other], amplitude * 1e-4);
            fft.FreeVector(in);
            fft.FreeComplexVector(out);
        }
    }
}

TEST(RealFFTAccuracy, ConstantInputIsAllInBinZero)
{
    TDXFFT fft;
    fft.setExponent(8);
    TDXVector* in = fft.CreateVector(512);
    TDXComplexVector* out = fft.CreateComplexVector(256);
    std::fill(in->Values, in->Values + 512, -7.5f);
    fft.RealFFT(in, out, false);
    EXPECT_FLOAT_EQ(out->Real->Values[0], -7.5f);
    for (int k = 1; k < 256; ++k)
        EXPECT_LT(out->Real->Values[k], 1e-5f) << k;
}

TEST(WindowFunctions, CoefficientsHaveTheirEndPointsAndSymmetry)
{
    struct Case
    {
        TDXLeakType kind;
        float end;
        float centre;
    };
    for (const Case& c : {Case{wnHanning, 0.0f, 1.0f}, Case{wnHamming, 0.08f, 1.0f},
                          Case{wnBlackman, 0.0f, 1.0f}}) {
        SCOPED_TRACE(int(c.kind));
        TDXFFT fft;
        fft.setExponent(9);
        fft.setLeakFunction(c.kind);
        const TDXVector& w = fft.Window();
        ASSERT_EQ(w.Count, 512);
        EXPECT_NEAR(w.Values[0], c.end, 1e-6);
        EXPECT_NEAR(w.Values[511], c.end, 1e-6);
        // An even length has no centre sample; its two middle samples are just below 1.
        EXPECT_NEAR(w.Values[255], c.centre, 1e-4);
        for (int i = 0; i < 512; ++i) {
            EXPECT_NEAR(w.Values[i], w.Values[511 - i], 1e-5) << i;
            EXPECT_GE(w.Values[i], -1e-6f) << i;
        }
    }
}

TEST(WindowFunctions, InputComesBackWindowed)
{
    TDXFFT fft;
    fft.setExponent(6);
    fft.setLeakFunction(wnBlackman);
    TDXVector* in = fft.CreateVector(128);
    TDXComplexVector* out = fft.CreateComplexVector(64);
    const auto samples = RandomSamples(128, 7);
    Fill(in, samples);
    fft.RealFFT(in, out, false);
    ASSERT_EQ(fft.Window().Count, 128);
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(in->Values[i], samples[size_t(i)] * fft.Window().Values[i]) << i;
}

TEST(WindowFunctions, WindowFollowsInputLengthAtFirstTransformAfterExponentChange)
{
    TDXFFT fft;
    fft.setLeakFunction(wnHanning);
    fft.setExponent(12);
    EXPECT_EQ(fft.Window().Count, 4096);
    TDXVector* in = fft.CreateVector(8192);
    TDXComplexVector* out = fft.CreateComplexVector(4096);
    fft.RealFFT(in, out, false);
    EXPECT_EQ(fft.Window().Count, 8192);
    EXPECT_EQ(fft.LeakFunction(), wnHanning);
    EXPECT_NEAR(fft.Window().Values[8191], 0.0f, 1e-6);

    // Frames of the same size keep the coefficients.
    const float* coefficients = fft.Window().Values;
    fft.RealFFT(in, out, false);
    EXPECT_EQ(fft.Window().Values, coefficients);
}

TEST(WindowFunctions, RewritingTheSameValuesRebuildsNothing)
{
    TDXFFT fft;
    fft.setLeakFunction(wnHamming);
    const float* window = fft.Window().Values;
    const float* cosines = fft.CosTable().Values;
    fft.setLeakFunction(wnHamming);
    fft.setExponent(10);
    EXPECT_EQ(fft.Window().Values, window);
    EXPECT_EQ(fft.CosTable().Values, cosines);

    fft.setExponent(11);
    EXPECT_NE(fft.CosTable().Values, cosines);
    EXPECT_EQ(fft.CosTable().Count, 2048);
    EXPECT_EQ(fft.SinTable().Count, 2048);
    EXPECT_FLOAT_EQ(fft.SinTable().Values[1024], 1.0f);
    EXPECT_FLOAT_EQ(fft.CosTable().Values[0], 1.0f);
}

TEST(WindowFunctions, OwnWindowNeedsAnOwnerProcedureAtSelection)
{
    TDXFFT fft;
    fft.setExponent(4);
    TDXVector* in = fft.CreateVector(32);
    TDXComplexVector* out = fft.CreateComplexVector(16);
    int firstCalls = 0, secondCalls = 0;

    fft.setLeakFunction(wnOwn);
    EXPECT_EQ(fft.LeakFunction(), wnRectangle);

    // Assigning the procedure later does not select it by itself.
    fft.setOwnerLeakFunction([&](TDXVector& d) {
        ++firstCalls;
        d.Values[0] = 100.0f;
    });
    fft.RealFFT(in, out, false);
    EXPECT_EQ(firstCalls, 0);
    EXPECT_EQ(fft.LeakFunction(), wnRectangle);

    fft.setLeakFunction(wnOwn);
    EXPECT_EQ(fft.LeakFunction(), wnOwn);
    fft.RealFFT(in, out, false);
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(in->Values[0], 100.0f);
    EXPECT_FLOAT_EQ(out->Real->Values[0], 100.0f / 32);

    // A replacement takes effect only at the next selection (here: a new input length).
    fft.setOwnerLeakFunction([&](TDXVector&) { ++secondCalls; });
    fft.RealFFT(in, out, false);
    EXPECT_EQ(firstCalls, 2);
    fft.setExponent(5);
    TDXVector* in64 = fft.CreateVector(64);
    TDXComplexVector* out32 = fft.CreateComplexVector(32);
    fft.RealFFT(in64, out32, false);
    EXPECT_EQ(secondCalls, 1);
    EXPECT_EQ(firstCalls, 2);

    fft.setLeakFunction(wnRectangle);
    fft.RealFFT(in64, out32, false);
    EXPECT_EQ(secondCalls, 1);
}

TEST(SizeChecks, MismatchedVectorsAreLeftUntouched)
{
    TDXFFT fft;
    fft.setExponent(5);
    fft.setLeakFunction(wnHanning);
    const auto samples = RandomSamples(64, 3);

    struct Case
    {
        int inCount, outCount;
    };
    for (const Case& c : {Case{32, 32}, Case{64, 16}, Case{63, 32}, Case{128, 64}}) {
        SCOPED_TRACE(std::to_string(c.inCount) + "/" + std::to_string(c.outCount));
        TDXVector* in = fft.CreateVector(c.inCount);
        TDXComplexVector* out = fft.CreateComplexVector(c.outCount);
        for (int i = 0; i < c.inCount; ++i)
            in->Values[i] = samples[size_t(i) % samples.size()];
        for (int i = 0; i < c.outCount; ++i)
            out->Real->Values[i] = out->Imag->Values[i] = -1.0f;
        fft.RealFFT(in, out, false);
        if (c.outCount != 32)
            fft.ComplexFFT(out, false);
        for (int i = 0; i < c.inCount; ++i)
            ASSERT_EQ(in->Values[i], samples[size_t(i) % samples.size()]);
        for (int i = 0; i < c.outCount; ++i)
            ASSERT_TRUE(out->Real->Values[i] == -1.0f && out->Imag->Values[i] == -1.0f);
    }
    EXPECT_EQ(fft.Window().Count, 32);

    // Null vectors and complex vectors whose parts came out empty are refused too.
    TDXComplexVector* empty = fft.CreateComplexVector(-1);
    fft.RealFFT(nullptr, nullptr, false);
    fft.RealFFT(fft.CreateVector(64), empty, false);
    fft.ComplexFFT(nullptr, true);
    fft.ComplexFFT(empty, true);
    EXPECT_EQ(empty->Real->Count, 0);
}

TEST(Exponent, OutOfRangeValuesAreIgnored)
{
    TDXFFT fft;
    EXPECT_EQ(fft.Exponent(), 10);
    EXPECT_EQ(fft.Size(), 1024);
    EXPECT_EQ(fft.LeakFunction(), wnRectangle);
    EXPECT_EQ(fft.Version(), "7.0");
    EXPECT_FALSE(fft.Copyright().empty());
    for (int bad : {0, -1, 32, 1000}) {
        fft.setExponent(bad);
        EXPECT_EQ(fft.Exponent(), 10);
        EXPECT_EQ(fft.Size(), 1024);
    }
}

TEST(Exponent, BeyondTheVectorLimitNoTransformRuns)
{
    TDXFFT fft;
    for (int e = 27; e <= 31; ++e) {
        SCOPED_TRACE(e);
        fft.setExponent(e);
        EXPECT_EQ(fft.Exponent(), e);
        EXPECT_EQ(fft.Size(), int64_t(1) << e);
        EXPECT_EQ(fft.CosTable().Count, 0);
        EXPECT_EQ(fft.Window().Values, nullptr);
        TDXVector* in = fft.CreateVector(2 * fft.Size());
        ASSERT_NE(in, nullptr);
        EXPECT_EQ(in->Count, 0);
        // At 27 the output vector itself still fits, but the transform must not run.
        TDXComplexVector* out = fft.CreateComplexVector(fft.Size());
        fft.RealFFT(in, out, true);
        if (out->Real->Count > 0) {
            out->Real->Values[1] = 1.0f;
            fft.ComplexFFT(out, false);
            EXPECT_EQ(out->Real->Values[1], 1.0f);
        }
        fft.FreeComplexVector(out);
    }
    // Coming back into range restores a working transform.
    fft.setExponent(3);
    TDXVector* in = fft.CreateVector(16);
    TDXComplexVector* out = fft.CreateComplexVector(8);
    std::fill(in->Values, in->Values + 16, 2.0f);
    fft.RealFFT(in, out, false);
    EXPECT_FLOAT_EQ(out->Real->Values[0], 2.0f);
}

TEST(Factory, FreesOnlyItsOwnVectors)
{
    TDXFFT fft;
    TDXVector foreign(8);
    TDXComplexVector foreignComplex(8);
    fft.FreeVector(&foreign);
    fft.FreeVector(nullptr);
    fft.FreeComplexVector(&foreignComplex);
    fft.FreeComplexVector(nullptr);
    foreign.Values[7] = 1.0f;
    foreignComplex.Imag->Values[7] = 1.0f;
    EXPECT_EQ(foreign.Count, 8);
    EXPECT_EQ(foreignComplex.Real->Count, 8);

    // Freed vectors leave the list, so a second free of the same pointer is harmless.
    TDXVector* own = fft.CreateVector(4);
    TDXComplexVector* ownComplex = fft.CreateComplexVector(4);
    EXPECT_EQ(own->Count, 4);
    EXPECT_EQ(ownComplex->Count, 4);
    fft.FreeVector(own);
    fft.FreeVector(own);
    fft.FreeComplexVector(ownComplex);
    fft.FreeComplexVector(ownComplex);

    EXPECT_EQ(fft.CreateVector(int64_t(DXVectorMaxCount) + 1)->Count, 0);
    EXPECT_EQ(fft.CreateVector(int64_t(1) << 32)->Count, 0);
    EXPECT_EQ(fft.CreateComplexVector(-5)->Imag->Count, 0);
}

} // namespace
