#include "FrameProcessor.h"
#include "FrameSpectrum.h"
#include "PeakSearch.h"
#include "WindowSpectrum.h"
#include "dxFFT.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

using namespace quillex;

namespace {

constexpr double Pi = std::numbers::pi;
constexpr TDXLeakType Windows[] = {wnRectangle, wnHanning, wnHamming, wnBlackman};

// The window's coefficient w[n] of 2N by its textbook formula.
double Coefficient(TDXLeakType Window, int n, int L)
{
    const double x = 2 * Pi * n / (L - 1);
    switch (Window) {
    case wnHanning:
        return 0.5 - 0.5 * std::cos(x);
    case wnHamming:
        return 0.54 - 0.46 * std::cos(x);
    case wnBlackman:
        return 0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2 * x);
    default:
        return 1.0;
    }
}

double CoefficientSum(TDXLeakType Window, int N, double* Squares = nullptr)
{
    double sum = 0, squares = 0;
    for (int n = 0; n < 2 * N; ++n) {
        const double w = Coefficient(Window, n, 2 * N);
        sum += w;
        squares += w * w;
    }
    if (Squares)
        *Squares = squares;
    return sum;
}

struct TTone
{
    double Bin;       // fractional bin position
    double Amplitude; // in samples
    double Phase;
};

// Frames of synthesized tones through the program's own arithmetic: 16-bit samples, the
// windowed FFT of 2N of them and the averaging (over one frame).
class TToneFrames
{
public:
    TToneFrames(int Exponent, TDXLeakType Window) : FWindow(Window)
    {
        FFT.setExponent(Exponent);
        FFT.setLeakFunction(Window);
        N = int(FFT.Size());
        FInput = FFT.CreateVector(2 * N);
        FOutput = FFT.CreateComplexVector(N);
        FAverage.assign(size_t(N), 0.0f);
    }

    const std::vector<float>& Run(const std::vector<TTone>& Tones, double NoiseSigma = 0,
                                  std::mt19937* Rng = nullptr)
    {
        std::vector<int16_t> block(8192);
        std::normal_distribution<double> noise(0.0, NoiseSigma > 0 ? NoiseSigma : 1.0);
        for (int n = 0; n < 8192; ++n) {
            double v = 0;
            for (const TTone& t : Tones)
                v += t.Amplitude * std::cos(Pi * t.Bin * n / N + t.Phase);
            if (NoiseSigma > 0)
                v += noise(*Rng);
            block[size_t(n)] = int16_t(std::clamp(std::lround(v), -32768L, 32767L));
        }
        EXPECT_TRUE(TransformBlock(block.data(), FFT, FInput, FOutput));
        AverageMagnitudes(FOutput->Real->Values, FAverage.data(), N, 1);
        return FAverage;
    }

    // What a bin shows for a tone of this amplitude lying exactly on it: a * sum(w) / N.
    double OnBin(double Amplitude) const { return Amplitude * CoefficientSum(FWindow, N) / N; }

    // The sample noise that puts the noise in a bin 60 dB below the tone's on-bin magnitude.
    double NoiseSixtyDbBelow(double Amplitude) const
    {
        double squares;
        const double sum = CoefficientSum(FWindow, N, &squares);
        return 1e-3 * Amplitude * sum / (2 * std::sqrt(squares));
    }

    TDXFFT FFT;
    int N = 0;

private:
    TDXLeakType FWindow;
    TDXVector* FInput = nullptr;
    TDXComplexVector* FOutput = nullptr;
    std::vector<float> FAverage;
};

// The largest bin next to a tone's position.
int LargestBinNear(const std::vector<float>& M, double Bin)
{
    const int k = int(std::lround(Bin));
    int best = k;
    for (int j = k - 1; j <= k + 1; ++j)
        if (M[size_t(j)] > M[size_t(best)])
            best = j;
    return best;
}

double Db(double Ratio)
{
    return 20 * std::log10(Ratio);
}

struct TWorst
{
    double Bin = 0, Level = 0;
    std::string Where;
    void Take(const TPeak& P, double Bin, double Magnitude, const std::string& Case)
    {
        const double b = std::fabs(P.Bin - Bin), l = std::fabs(Db(P.Magnitude / Magnitude));
        if (b > this->Bin || l > Level)
            Where = Case;
        this->Bin = std::max(this->Bin, b);
        Level = std::max(Level, l);
    }
};

// Lone tones 5 bins from either band edge and in the middle, every offset from -0.5 to +0.5
// bin from their nearest bin, four phases.
TWorst SweepLoneTones(int Exponent, TDXLeakType Window, bool Noise)
{
    TToneFrames frames(Exponent, Window);
    const int n = frames.N;
    const double amplitude = 8000;
    const double expected = frames.OnBin(amplitude);
    std::mt19937 rng(uint32_t(Exponent * 10 + Window));
    TWorst worst;
    for (double centre : {5.5, n / 2.0, n - 5.5})
        for (int step = -10; step <= 10; ++step)
            for (int phase = 0; phase < 4; ++phase) {
                const double bin = centre + 0.05 * step;
                const auto& m = frames.Run({{bin, amplitude, 0.3 + phase * Pi / 4}},
                                           Noise ? frames.NoiseSixtyDbBelow(amplitude) : 0, &rng);
                const TPeak p = InterpolatePeak(m.data(), n, LargestBinNear(m, bin), Window);
                worst.Take(p, bin, expected,
                           "bin " + std::to_string(bin) + " phase " + std::to_string(phase));
            }
    return worst;
}

} // namespace

// The expectation itself: a tone exactly on a bin reads a * sum(w) / N through the program's
// arithmetic (which the peak's magnitude is measured against).
TEST(PeakInterpolation, OnBinMagnitudeIsTheCoefficientSum)
{
    for (TDXLeakType window : Windows)
        for (int e : {8, 12}) {
            TToneFrames frames(e, window);
            const auto& m = frames.Run({{100, 8000, 1.0}});
            EXPECT_NEAR(Db(m[100] / frames.OnBin(8000)), 0, 0.002) << window << " " << e;
        }
}

// The targets are 0.01 bin and 0.02 dB; the fit of the window's spectrum and the tone's mirror
// does ten times better, and holding it to that shows a model error that the targets would let
// pass.
TEST(PeakInterpolation, LoneTonesWithinAHundredthBinAndTwoHundredthsDb)
{
    for (TDXLeakType window : Windows)
        for (int e = 8; e <= 12; ++e) {
            const TWorst w = SweepLoneTones(e, window, false);
            EXPECT_LE(w.Bin, 0.001) << "window " << window << " exponent " << e << " " << w.Where;
            EXPECT_LE(w.Level, 0.002) << "window " << window << " exponent " << e << " " << w.Where;
        }
}

TEST(PeakInterpolation, LoneTonesInNoiseSixtyDbDown)
{
    for (TDXLeakType window : Windows)
        for (int e : {8, 12}) {
            const TWorst w = SweepLoneTones(e, window, true);
            EXPECT_LE(w.Bin, 0.03) << "window " << window << " exponent " << e << " " << w.Where;
            EXPECT_LE(w.Level, 0.08) << "window " << window << " exponent " << e << " " << w.Where;
        }
}

// A second tone of the same amplitude leaks into the bins through the window's side lobes,
// which magnitudes cannot undo: the distance from which each window keeps the targets.
TEST(PeakInterpolation, ToneBesideAnEqualTone)
{
    struct TCase
    {
        TDXLeakType Window;
        int Exponent;
        double Distance;
    };
    for (const TCase c : {TCase{wnHanning, 8, 5}, TCase{wnHanning, 12, 5}, TCase{wnBlackman, 8, 5},
                          TCase{wnBlackman, 12, 5}, TCase{wnHamming, 8, 5}, TCase{wnHamming, 12, 7},
                          TCase{wnRectangle, 12, 200}}) {
        TToneFrames frames(c.Exponent, c.Window);
        const double expected = frames.OnBin(8000);
        TWorst worst;
        for (int step = -10; step <= 10; ++step)
            for (int phase = 0; phase < 6; ++phase)
                for (int side : {-1, 1}) {
                    const double bin = frames.N / 2 + 0.05 * step;
                    const double other = bin + side * (c.Distance + 0.3 * (phase % 3));
                    const auto& m =
                        frames.Run({{bin, 8000, 0.3 + phase}, {other, 8000, 1.1 * phase}});
                    const TPeak p =
                        InterpolatePeak(m.data(), frames.N, LargestBinNear(m, bin), c.Window);
                    worst.Take(p, bin, expected, "bin " + std::to_string(bin));
                }
        EXPECT_LE(worst.Bin, 0.01) << c.Window << " " << c.Exponent << " " << worst.Where;
        EXPECT_LE(worst.Level, 0.02) << c.Window << " " << c.Exponent << " " << worst.Where;
    }
}

TEST(PeakInterpolation, EdgesAndUnknownWindows)
{
    std::vector<float> m = {1, 5, 9, 4, 2, 3};
    const TPeak own = InterpolatePeak(m.data(), 6, 2, wnOwn);
    EXPECT_EQ(own.Bin, 2);
    EXPECT_EQ(own.Magnitude, 9);
    EXPECT_EQ(InterpolatePeak(m.data(), 6, 5, wnHanning).Magnitude, 3);
    EXPECT_EQ(InterpolatePeak(m.data(), 6, 6, wnHanning).Magnitude, 0);
    EXPECT_EQ(InterpolatePeak(m.data(), 6, -1, wnHanning).Magnitude, 0);
    // Bins that are no magnitudes leave a finite reading.
    std::vector<float> broken = {1, 2, 3, std::nanf(""), 9, -std::numeric_limits<float>::infinity(),
                                 1, 1};
    const TPeak b = InterpolatePeak(broken.data(), 8, 4, wnHanning);
    EXPECT_TRUE(std::isfinite(b.Bin) && std::isfinite(b.Magnitude) && b.Magnitude > 0);
    EXPECT_NEAR(b.Bin, 4, 0.5);
    std::vector<float> silent(16, 0.0f);
    EXPECT_EQ(InterpolatePeak(silent.data(), 16, 8, wnHanning).Magnitude, 0);
    EXPECT_EQ(InterpolatePeak(silent.data(), 16, 8, wnHanning).Bin, 8);
}

TEST(PeakLevels, LevelAndMagnitudeConvertExactly)
{
    for (double m : {0.0, 1e-3, 1.0, 16384.0, 131072.0}) {
        EXPECT_DOUBLE_EQ(LevelFromMagnitude(m), 20 * std::log10(m / 16384 + 1e-9));
        EXPECT_NEAR(MagnitudeFromLevel(LevelFromMagnitude(m)), m, 1e-9 * (m + 1));
    }
    EXPECT_EQ(MagnitudeFromLevel(-200), 0);
}

// The closed form of the window's spectrum against its definition summed over the
// coefficients the FFT actually uses, near the peak, across the kernels' own centres, far out
// and beyond N, where the spectrum folds.
TEST(WindowKernel, MatchesTheSumOverTheFftsCoefficients)
{
    for (TDXLeakType window : Windows)
        for (int e : {8, 11}) {
            TToneFrames frames(e, window);
            frames.Run({{10, 1, 0}}); // builds the window for 2N inputs
            const int n = frames.N;
            const TDXVector& w = frames.FFT.Window();
            if (window != wnRectangle) {
                ASSERT_EQ(w.Count, 2 * n);
            }
            const TWindowKernel* cached = CachedWindowKernel(window, n);
            const TWindowKernel exact(window, n);
            ASSERT_NE(cached, nullptr);
            // R(v) / R(0) and its slope summed over the coefficients.
            const auto direct = [&](double v, double& value, double& slope) {
                double r = 0, r0 = 0, dr = 0;
                for (int i = 0; i < 2 * n; ++i) {
                    const double c = window == wnRectangle ? 1.0 : w.Values[i];
                    const double f = Pi * (i - n + 0.5) / n;
                    r += c * std::cos(f * v);
                    dr -= c * f * std::sin(f * v);
                    r0 += c;
                }
                value = r / r0;
                slope = dr / r0;
            };
            const double centre = 1.0 + 1.0 / (2 * n - 1); // of the first cosine's kernel
            for (double v : {0.0, 0.25, -0.5, 1.0, centre, 2.0005, 3.7, 4.2, 5.995, -17.3, 100.25,
                             n - 0.5, 2.0 * n - 10.2, 3.0 * n + 0.4}) {
                double r, dr, value, slope;
                direct(v, r, dr);
                cached->Evaluate(v, value, slope);
                EXPECT_NEAR(value, r, 2e-7) << window << " " << n << " v " << v;
                EXPECT_NEAR(slope, dr, 1e-5) << window << " " << n << " v " << v;
                exact.Evaluate(v, value, slope);
                EXPECT_NEAR(value, r, 2e-7) << window << " " << n << " v " << v;
                EXPECT_NEAR(slope, dr, 1e-5) << window << " " << n << " v " << v;
            }
            // Runs of bins (a tone's mirror), also one that ends on a kernel's centre.
            for (double v : {-4.5, 9.3, n - 3.7, 2.0 * n - 12.2, -8 - centre}) {
                double values[9], slopes[9];
                cached->EvaluateRun(v, 9, values, slopes);
                for (int j = 0; j < 9; ++j) {
                    double r, dr;
                    direct(v + j, r, dr);
                    EXPECT_NEAR(values[j], r, 2e-7) << window << " v " << v << " j " << j;
                    EXPECT_NEAR(slopes[j], dr, 1e-5) << window << " v " << v << " j " << j;
                }
            }
        }
}

TEST(ResolutionBandwidth, EquivalentNoiseBandwidthOfTheFftsWindow)
{
    TDXFFT fft;
    fft.setExponent(11);
    fft.setLeakFunction(wnHanning);
    EXPECT_NEAR(ResolutionBandwidthKHz(fft), 29.3, 0.05);
    for (TDXLeakType window : Windows)
        for (int e : {8, 12}) {
            TToneFrames frames(e, window);
            frames.Run({{10, 1, 0}});
            double squares;
            const double sum = CoefficientSum(window, frames.N, &squares);
            const double bins = 2 * frames.N * squares / (sum * sum);
            EXPECT_NEAR(ResolutionBandwidthKHz(frames.FFT), bins * 40000.0 / frames.N,
                        1e-5 * bins * 40000.0 / frames.N)
                << window << " " << e;
        }
    fft.setOwnerLeakFunction([](TDXVector&) {});
    fft.setLeakFunction(wnOwn);
    EXPECT_TRUE(std::isnan(ResolutionBandwidthKHz(fft)));
}

namespace {

// Six tones of distinct levels over a noise floor about 100 dB below the strongest, Hann,
// 1024 bins.
struct TSixTones : ::testing::Test
{
    TToneFrames Frames{10, wnHanning};
    std::vector<TTone> Tones = {{100.3, 1000, 0.1}, {200.7, 8000, 0.7}, {300.1, 4000, 1.3},
                                {400.5, 2000, 2.1}, {500.25, 500, 2.9}, {600.9, 16000, 0.4}};
    std::vector<float> M;
    void SetUp() override
    {
        std::mt19937 rng(3);
        M = Frames.Run(Tones, 0.3, &rng);
    }
    TPeak Expected(size_t I) const { return {Tones[I].Bin, Frames.OnBin(Tones[I].Amplitude)}; }
};

void ExpectPeak(const TPeak& Got, const TPeak& Want)
{
    EXPECT_NEAR(Got.Bin, Want.Bin, 0.01);
    EXPECT_NEAR(Db(Got.Magnitude / Want.Magnitude), 0, 0.02) << "at " << Want.Bin;
}

} // namespace

TEST_F(TSixTones, StrongestFirstAboveTheMinimumAndInsideTheRange)
{
    TPeakSearch search;
    TPeak peaks[10];
    ASSERT_EQ(search.Strongest(M.data(), Frames.N, wnHanning, 0, Frames.N - 1, 0, 5, peaks), 5);
    const size_t order[] = {5, 1, 2, 3, 0};
    for (int i = 0; i < 5; ++i)
        ExpectPeak(peaks[i], Expected(order[i]));

    // Between the 1000 and 2000 tones' levels: four peaks, however many are asked for.
    const double floor = Frames.OnBin(1500);
    ASSERT_EQ(search.Strongest(M.data(), Frames.N, wnHanning, 0, Frames.N - 1, floor, 10, peaks),
              4);
    ExpectPeak(peaks[3], Expected(3));

    // The range holds the local maxima of the tones at 200.7 (bin 201) and 300.1 only.
    ASSERT_EQ(search.Strongest(M.data(), Frames.N, wnHanning, 201, 300, floor, 10, peaks), 2);
    ExpectPeak(peaks[0], Expected(1));
    ExpectPeak(peaks[1], Expected(2));
    EXPECT_EQ(search.Strongest(M.data(), Frames.N, wnHanning, 202, 299, floor, 10, peaks), 0);
    // The 4000 tone's peak left in the list from before does not keep out a weaker one.
    ASSERT_EQ(search.Strongest(M.data(), Frames.N, wnHanning, 0, 150, 0, 2, peaks), 1);
    ExpectPeak(peaks[0], Expected(0));
}

// The ranking is by the tones' levels, not by their largest bins: a tone halfway between bins
// reads 1.4 dB low there (Hann), so a tone 0.3 dB stronger shows a lower bin than one on a bin.
TEST(PeakSearchOrder, StrongestByInterpolatedLevel)
{
    TToneFrames frames(10, wnHanning);
    const auto& m = frames.Run({{300, 4000, 0.4}, {500.5, 4000 * std::pow(10, 0.3 / 20.0), 1.1}});
    ASSERT_LT(m[500], m[300]);
    TPeakSearch search;
    TPeak peak;
    ASSERT_EQ(search.Strongest(m.data(), frames.N, wnHanning, 0, frames.N - 1, 0, 1, &peak), 1);
    EXPECT_NEAR(peak.Bin, 500.5, 0.01);
}

TEST_F(TSixTones, NextPeakLeftAndRightTakeTheNearestLowerPeak)
{
    TPeak p;
    const double m200 = Frames.OnBin(8000), m300 = Frames.OnBin(4000);
    ASSERT_TRUE(NextPeakRight(M.data(), Frames.N, wnHanning, 200.7, m200, 0, Frames.N - 1, p));
    ExpectPeak(p, Expected(2));
    ASSERT_TRUE(NextPeakLeft(M.data(), Frames.N, wnHanning, 200.7, m200, 0, Frames.N - 1, p));
    ExpectPeak(p, Expected(0));
    // From the 4000 tone, the 8000 tone on the left is higher, and so is nothing further left
    // lower than 4000 but the 1000 tone.
    ASSERT_TRUE(NextPeakLeft(M.data(), Frames.N, wnHanning, 300.1, m300, 0, Frames.N - 1, p));
    ExpectPeak(p, Expected(0));
    // Right of 400.5 the 500 tone is lower, the 16000 one is not.
    ASSERT_TRUE(NextPeakRight(M.data(), Frames.N, wnHanning, 400.5, Frames.OnBin(2000), 0,
                              Frames.N - 1, p));
    ExpectPeak(p, Expected(4));
    // The skirts fall steadily into the floor: no peak right of the strongest tone up to bin
    // 620, none left of the weakest from bin 95, and the marker stays.
    p = {-1, -1};
    EXPECT_FALSE(
        NextPeakRight(M.data(), Frames.N, wnHanning, 600.9, Frames.OnBin(16000), 0, 620, p));
    EXPECT_FALSE(
        NextPeakLeft(M.data(), Frames.N, wnHanning, 100.3, Frames.OnBin(1000), 95, 110, p));
    EXPECT_EQ(p.Bin, -1);
}

// More local maxima than the search first holds stand above the real peaks: a band of
// rippling noise, 30 dB up, none of whose bumps is a peak. The tones below it are still found.
TEST(PeakSearchOrder, PeaksBelowManyStrongerRipples)
{
    std::vector<float> m(2048, 1.0f);
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> ripple(0.9f, 1.1f);
    for (float& v : m)
        v *= ripple(rng);
    for (int k = 600; k < 800; ++k)
        m[size_t(k)] = 30 * ripple(rng);
    const int tones[] = {1500, 200, 1200};
    const float levels[] = {12, 20, 16};
    for (int i = 0; i < 3; ++i) {
        m[size_t(tones[i])] = levels[i];
        m[size_t(tones[i]) - 1] = m[size_t(tones[i]) + 1] = levels[i] / 3;
    }
    TPeakSearch search;
    TPeak peaks[5];
    ASSERT_EQ(search.Strongest(m.data(), 2048, wnOwn, 0, 2047, 0, 5, peaks), 3);
    EXPECT_EQ(peaks[0].Bin, 200);
    EXPECT_EQ(peaks[1].Bin, 1200);
    EXPECT_EQ(peaks[2].Bin, 1500);
    EXPECT_EQ(peaks[0].Magnitude, 20);
    // Two wanted: the weakest tone is passed over.
    ASSERT_EQ(search.Strongest(m.data(), 2048, wnOwn, 0, 2047, 0, 2, peaks), 2);
    EXPECT_EQ(peaks[1].Bin, 1200);
    // The range clips to the spectrum.
    ASSERT_EQ(search.Strongest(m.data(), 2048, wnOwn, -100, 5000, 13, 5, peaks), 2);
    EXPECT_EQ(search.Strongest(m.data(), 2048, wnOwn, 1300, 1200, 0, 5, peaks), 0);
}

// Bins as peaks stand (no interpolation with wnOwn): an equal peak is not lower, and a peak
// two bins away is the nearest.
TEST(PeakSearchOrder, NextPeakSkipsEqualPeaksAndFindsCloseOnes)
{
    std::vector<float> m(300, 1.0f);
    for (int k : {100, 200, 240}) {
        m[size_t(k)] = 50;
        m[size_t(k) - 1] = m[size_t(k) + 1] = 10;
    }
    m[238] = 30;
    m[239] = 8;
    TPeak p;
    EXPECT_FALSE(NextPeakRight(m.data(), 300, wnOwn, 100, 50, 0, 230, p));
    ASSERT_TRUE(NextPeakLeft(m.data(), 300, wnOwn, 240, 50.5, 0, 299, p));
    EXPECT_EQ(p.Bin, 238);
    // From the 240 peak at the 238 peak's level, nothing left of it is lower.
    EXPECT_FALSE(NextPeakLeft(m.data(), 300, wnOwn, 240, 30, 0, 299, p));
    // The range ends left of the marker: the search starts at its end.
    ASSERT_TRUE(NextPeakLeft(m.data(), 300, wnOwn, 240, 50.5, 0, 220, p));
    EXPECT_EQ(p.Bin, 200);
    ASSERT_TRUE(NextPeakRight(m.data(), 300, wnOwn, 100, 50.5, 220, 299, p));
    EXPECT_EQ(p.Bin, 238);
    // A peak exactly half a bin away is the marker's own.
    ASSERT_TRUE(NextPeakLeft(m.data(), 300, wnOwn, 238.5, 50.5, 0, 299, p));
    EXPECT_EQ(p.Bin, 200);
}

TEST(PeakRules, FloorAboveTheNoiseAround)
{
    std::vector<float> m(200, 1.0f);
    m[100] = 1.3f;
    m[149] = m[151] = 300;
    m[150] = 1000;
    m[154] = m[156] = 5;
    m[155] = 20;
    const int n = int(m.size());
    // A bump of the floor 2.3 dB high: no peak, unless neither height nor fall is asked for.
    EXPECT_FALSE(IsPeak(m.data(), n, 100));
    EXPECT_TRUE(IsPeak(m.data(), n, 100, {0.0, 1.0, 32}));
    // On a floor three times as high, 11 dB up is not enough, 14 dB is.
    std::fill(m.begin() + 54, m.begin() + 96, 3.0f);
    m[70] = 3 * std::pow(10.0f, 11 / 20.0f);
    m[85] = 3 * std::pow(10.0f, 14 / 20.0f);
    EXPECT_FALSE(IsPeak(m.data(), n, 70));
    EXPECT_TRUE(IsPeak(m.data(), n, 85));
    // 26 dB above the floor counts, beside a neighbour 34 dB stronger five bins away.
    EXPECT_TRUE(IsPeak(m.data(), n, 155));
    EXPECT_TRUE(IsPeak(m.data(), n, 150));
    EXPECT_FALSE(IsPeak(m.data(), n, 155, {26.5, 6.0, 32}));
}

// The shape rules read plainly, over random spectra of a few levels, so that plateaus, ties and
// shallow dips abound: a bin above its left neighbour and not below its right one, from which
// the spectrum falls to the excursion within the given bins on each side before it rises above
// the bin; on the left an equal bin counts as rising (the first bin of a plateau takes the
// peak), and a side whose bins reach an end of the spectrum counts as falling. No floor.
TEST(PeakRules, ShapeOverRandomSpectra)
{
    std::mt19937 rng(8);
    for (int trial = 0; trial < 3000; ++trial) {
        const int n = 3 + int(rng() % 40), bins = 1 + int(rng() % 6);
        const double excursion = double(rng() % 10);
        const float fall = float(std::pow(10.0, -excursion / 20));
        std::vector<float> m(static_cast<size_t>(n));
        for (float& v : m)
            v = float(1 + rng() % 6);
        for (int k = 0; k < n; ++k) {
            const float peak = m[size_t(k)];
            bool want = k >= 1 && k <= n - 2 && peak > m[size_t(k - 1)] && peak >= m[size_t(k + 1)];
            for (int side : {-1, 1}) {
                bool fell = false;
                for (int j = k + side; want && !fell && j >= 0 && j < n && std::abs(j - k) <= bins;
                     j += side) {
                    fell = m[size_t(j)] <= peak * fall;
                    want = fell || m[size_t(j)] < peak || (side > 0 && m[size_t(j)] == peak);
                }
                want = want && (fell || k + side * bins <= 0 || k + side * bins >= n - 1);
            }
            ASSERT_EQ(IsPeak(m.data(), n, k, {-1000.0, excursion, bins}), want)
                << "trial " << trial << " bin " << k;
        }
    }
}

TEST(PeakTracking, FollowsADriftingToneAndKeepsItsOwn)
{
    TToneFrames frames(10, wnBlackman);
    double position = 300.2;
    // A stronger tone four bins beyond the radius stays out of reach.
    for (int frame = 1; frame <= 12; ++frame) {
        const double bin = 300.2 + 0.45 * frame;
        const auto& m = frames.Run({{bin, 3000, frame * 0.7}, {bin + 7, 12000, frame * 1.9}});
        TPeak p;
        ASSERT_TRUE(TrackPeak(m.data(), frames.N, wnBlackman, position, p)) << frame;
        EXPECT_NEAR(p.Bin, bin, 0.01) << frame;
        EXPECT_NEAR(Db(p.Magnitude / frames.OnBin(3000)), 0, 0.02) << frame;
        position = p.Bin;
    }
    // A jump of almost the radius, either way.
    for (double jump : {2.95, -2.95}) {
        const auto& m = frames.Run({{position + jump, 3000, 0.5}});
        TPeak p;
        ASSERT_TRUE(TrackPeak(m.data(), frames.N, wnBlackman, position, p)) << jump;
        EXPECT_NEAR(p.Bin, position + jump, 0.01);
        position = p.Bin;
    }
    // Within the radius the higher of two peaks wins.
    const auto& two = frames.Run({{500, 3000, 0}, {502.8, 6000, 1}});
    TPeak p;
    ASSERT_TRUE(TrackPeak(two.data(), frames.N, wnBlackman, 500.1, p));
    EXPECT_NEAR(p.Bin, 502.8, 0.1);
    // A tone that moved further than the radius is lost and the marker stays: the tone's side
    // lobes within reach stand no higher than the side lobes around them.
    const auto& gone = frames.Run({{700, 3000, 0}});
    p = {-1, -1};
    EXPECT_FALSE(TrackPeak(gone.data(), frames.N, wnBlackman, 696.5, p));
    EXPECT_EQ(p.Bin, -1);
    ASSERT_TRUE(TrackPeak(gone.data(), frames.N, wnBlackman, 697.5, p));
    EXPECT_NEAR(p.Bin, 700, 0.01);
}
