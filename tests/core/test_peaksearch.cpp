#include "FrameProcessor.h"
#include "FrameSpectrum.h"
#include "PeakSearch.h"
#include "WindowSpectrum.h"
#include "dxFFT.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

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
    TToneFrames(int Exponent, TDXLeakType Window)
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

    TDXFFT FFT;
    int N = 0;

private:
    TDXVector* FInput = nullptr;
    TDXComplexVector* FOutput = nullptr;
    std::vector<float> FAverage;
};

// Magnitudes of tones computed directly in double: the discrete Fourier transform of the
// windowed 2N samples at bins From..To (the others 0), scaled as the program's bins are: a
// tone on a bin reads a sum(w) / N, bin 0 (the samples' mean) half that scale.
std::vector<float> ExactBins(TDXLeakType Window, int N, const std::vector<TTone>& Tones,
                             int From = 0, int To = INT32_MAX)
{
    std::vector<double> x(size_t(2 * N));
    std::vector<std::complex<double>> turn(size_t(2 * N));
    for (int n = 0; n < 2 * N; ++n) {
        for (const TTone& t : Tones)
            x[size_t(n)] += t.Amplitude * std::cos(Pi * t.Bin * n / N + t.Phase);
        x[size_t(n)] *= Coefficient(Window, n, 2 * N);
        turn[size_t(n)] = std::polar(1.0, -Pi * n / N);
    }
    std::vector<float> m(size_t(N), 0.0f);
    for (int k = std::max(From, 0); k <= std::min(To, N - 1); ++k) {
        std::complex<double> sum = 0;
        for (int n = 0; n < 2 * N; ++n)
            sum += x[size_t(n)] * turn[size_t(k) * size_t(n) % size_t(2 * N)];
        m[size_t(k)] = float(std::abs(sum) / (k == 0 ? N : N / 2.0));
    }
    return m;
}

} // namespace

// Lone tones without noise, near both band edges (where the mirror image shifts the bins) and
// inside the band, at every offset from their largest bin. Window and mirror are modelled
// exactly: with the mirror in quadrature (cos 2 theta = 0, theta = phi + pi p (N - 1/2) / N for
// x[n] = cos(pi p n / N + phi)) the fit comes out to the precision of the bins' floats; at
// other phases holding a faint mirror's phase steady costs a little. Scaling the bins by a
// power of two (exact in floats) scales the magnitude alone, at any level.
TEST(PeakInterpolation, NoiselessTonesComeOutExactly)
{
    for (TDXLeakType window : Windows)
        for (int e : {8, 11}) {
            const int n = 1 << e;
            const double onBin = CoefficientSum(window, n) / n;
            for (double centre :
                 {2.5, 3.5, 6.5, 12.5, n / 2.0, n - 12.5, n - 6.5, n - 3.5, n - 2.5})
                for (int step = -5; step <= 5; ++step)
                    for (int phase = 0; phase < 4; ++phase) {
                        const double bin = centre + 0.1 * step + 0.0123;
                        const bool quadrature = phase < 2;
                        const double phi = quadrature
                                               ? Pi / 4 + phase * Pi / 2 - Pi * bin * (n - 0.5) / n
                                               : 0.3 + 1.6 * phase;
                        const int k = int(std::lround(bin));
                        const std::vector<float> m =
                            ExactBins(window, n, {{bin, 1, phi}}, k - 6, k + 6);
                        const int top =
                            int(std::max_element(m.begin() + k - 1, m.begin() + k + 2) - m.begin());
                        const TPeak p = InterpolatePeak(m.data(), n, top, window);
                        const std::string where =
                            "window " + std::to_string(window) + ", n " + std::to_string(n) +
                            ", bin " + std::to_string(bin) + ", phase " + std::to_string(phi);
                        ASSERT_NEAR(p.Bin, bin, quadrature ? 2e-7 : 2e-4) << where;
                        ASSERT_NEAR(p.Magnitude / onBin, 1, quadrature ? 2e-7 : 1.5e-4) << where;
                        for (double scale : {0x1p-40, 0x1p+30}) {
                            std::vector<float> s(m);
                            for (float& v : s)
                                v = float(v * scale);
                            const TPeak q = InterpolatePeak(s.data(), n, top, window);
                            ASSERT_NEAR(q.Bin, p.Bin, 1e-12 * n) << where;
                            ASSERT_NEAR(q.Magnitude / scale, p.Magnitude, 1e-12 * p.Magnitude)
                                << where;
                        }
                    }
        }
}

TEST(PeakInterpolation, EdgesAndUnknownWindows)
{
    std::vector<float> m = {1, 5, 9, 4, 2, 3};
    const TPeak own = InterpolatePeak(m.data(), 6, 2, wnOwn);
    EXPECT_EQ(own.Bin, 2);
    EXPECT_EQ(own.Magnitude, 9);
    EXPECT_EQ(InterpolatePeak(m.data(), 6, 0, wnHanning).Magnitude, 1);
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
    // A marker's steps reach the outermost bins that can hold a peak, from beyond them.
    std::vector<float> ends(64, 1.0f);
    ends[1] = ends[62] = 100;
    ends[32] = 1000;
    TPeak step;
    ASSERT_TRUE(NextPeakRight(ends.data(), 64, wnOwn, -0.4, 500, 0, 63, step));
    EXPECT_EQ(step.Bin, 1);
    ASSERT_TRUE(NextPeakLeft(ends.data(), 64, wnOwn, 63.4, 500, 0, 63, step));
    EXPECT_EQ(step.Bin, 62);
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
// coefficients the FFT actually uses, near the peak, on and just beside the kernels' own centres,
// far out and beyond N, where the spectrum folds.
TEST(WindowKernel, MatchesTheSumOverTheFftsCoefficients)
{
    for (TDXLeakType window : Windows)
        for (int e : {8, 11}) {
            TToneFrames frames(e, window);
            frames.Run({{10, 1, 0}}); // builds the window for 2N inputs
            const int n = frames.N;
            const TDXVector& w = frames.FFT.Window();
            ASSERT_TRUE(window == wnRectangle || w.Count == 2 * n) << w.Count;
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
            for (double v : {0.0, 8e-6, 0.25, -0.5, 1.0, centre, centre - 8e-6, 2.0005, 3.7, 4.2,
                             5.995, -17.3, 100.25, n - 0.5, 2.0 * n - 10.2, 3.0 * n + 0.4}) {
                double r, dr, value, slope;
                direct(v, r, dr);
                for (const TWindowKernel* kernel : {cached, &exact}) {
                    kernel->Evaluate(v, value, slope);
                    EXPECT_NEAR(value, r, 2e-7) << window << " " << n << " v " << v;
                    EXPECT_NEAR(slope, dr, 1e-5) << window << " " << n << " v " << v;
                }
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
    // Every size the FFT works at has its kernel kept, the same one each time; others none.
    for (TDXLeakType window : Windows) {
        for (int e = 1; e <= TDXFFT::MaxWorkingExponent; ++e) {
            const TWindowKernel* kernel = CachedWindowKernel(window, 1 << e);
            ASSERT_TRUE(kernel && kernel == CachedWindowKernel(window, 1 << e)) << e;
            EXPECT_TRUE(kernel->Bins() == 1 << e && kernel->Window() == window) << e;
        }
        for (int n : {-4, 0, 1, 3, 768, 1 << (TDXFFT::MaxWorkingExponent + 1)})
            EXPECT_EQ(CachedWindowKernel(window, n), nullptr) << n;
    }
    EXPECT_EQ(CachedWindowKernel(wnOwn, 1024), nullptr);
}

TEST(ResolutionBandwidth, EquivalentNoiseBandwidthOfTheFftsWindow)
{
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
    // Only the coefficients given count: a rectangle of eight is one bin wide.
    const float rectangle[9] = {1, 1, 1, 1, 1, 1, 1, 1, std::nanf("")};
    EXPECT_EQ(EquivalentNoiseBandwidthBins(rectangle, 8), 1.0);
    TDXFFT fft;
    fft.setExponent(11);
    fft.setOwnerLeakFunction([](TDXVector&) {});
    fft.setLeakFunction(wnOwn);
    EXPECT_TRUE(std::isnan(ResolutionBandwidthKHz(fft)));
}

// The rules read plainly, over random spectra of a few levels, so that plateaus, ties and
// shallow dips abound: a bin above its left neighbour and not below its right one, from which
// the spectrum falls to the excursion within the given bins on each side before it rises above
// the bin; on the left an equal bin counts as rising (the first bin of a plateau takes the
// peak), and a side whose bins reach an end of the spectrum counts as falling. Its power
// stands the margin above the floor: the mean power of the bins 3..18 away inside the spectrum
// (bin 0 left out) that are at most four times the mean of those kept, over 0.925. Every fourth
// spectrum asks for a fall to half the bin, which whole levels reach exactly: a bin at the
// excursion itself counts as fallen.
TEST(PeakRules, ShapeAndFloorOverRandomSpectra)
{
    std::mt19937 rng(8);
    for (int trial = 0; trial < 4000; ++trial) {
        const int n = 3 + int(rng() % 60), bins = 1 + int(rng() % 6);
        const double excursion = trial % 4 == 3 ? 20 * std::log10(2.0) : double(rng() % 10),
                     margin = trial % 2 ? -1000 : double(rng() % 13);
        const float fall = float(std::pow(10.0, -excursion / 20));
        std::vector<float> m(static_cast<size_t>(n));
        for (float& v : m)
            v = float(1 + rng() % (trial % 3 ? 6 : 40));
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
            std::vector<double> around;
            for (int j = std::max(1, k - 18); j <= std::min(n - 1, k + 18); ++j)
                if (std::abs(j - k) >= 3)
                    around.push_back(double(m[size_t(j)]) * m[size_t(j)]);
            double limit = INFINITY, mean = 0;
            for (bool again = !around.empty(); again;) {
                double sum = 0;
                int kept = 0;
                for (double p : around)
                    if (p <= limit)
                        sum += p, ++kept;
                mean = sum / kept;
                again = std::any_of(around.begin(), around.end(),
                                    [&](double p) { return p <= limit && p > 4 * mean; });
                limit = 4 * mean;
            }
            want = want && (around.empty() ||
                            double(peak) * peak >= mean / 0.925 * std::pow(10, margin / 10));
            ASSERT_EQ(IsPeak(m.data(), n, k, {margin, excursion, bins}), want)
                << "trial " << trial << " bin " << k;
        }
    }
}

namespace {

// The plain search the fast one has to match bit for bit: every local maximum the peak rules
// take, interpolated (bins as they stand without a known window), strongest first; equal
// magnitudes by position.
struct TPlainPeak
{
    int Bin;
    TPeak Peak;
};

std::vector<TPlainPeak> AllPeaks(const std::vector<float>& M, TDXLeakType Window,
                                 const TPeakRules& Rules)
{
    const int n = int(M.size());
    const bool interpolated = Window >= wnRectangle && Window <= wnBlackman;
    std::vector<TPlainPeak> peaks;
    for (int k = 1; k <= n - 2; ++k)
        if (IsPeak(M.data(), n, k, Rules))
            peaks.push_back({k, interpolated ? InterpolatePeak(M.data(), n, k, Window)
                                             : TPeak{double(k), double(M[size_t(k)])}});
    return peaks;
}

std::vector<TPeak> PlainStrongest(const std::vector<TPlainPeak>& All, int First, int Last,
                                  double Min, int Count)
{
    std::vector<TPeak> kept;
    for (const TPlainPeak& p : All)
        if (p.Bin >= First && p.Bin <= Last && p.Peak.Magnitude >= Min)
            kept.push_back(p.Peak);
    std::stable_sort(kept.begin(), kept.end(), [](const TPeak& A, const TPeak& B) {
        return A.Magnitude > B.Magnitude || (A.Magnitude == B.Magnitude && A.Bin < B.Bin);
    });
    kept.resize(std::min(kept.size(), size_t(std::max(Count, 0))));
    return kept;
}

struct TSpectrum
{
    std::vector<float> M;
    std::vector<TDXLeakType> Windows; // those to search it with
    std::string What;
};

// Spectra through the program's arithmetic: receiver noise alone, averaged over 8 frames, under
// carriers from 10 to 80 dB up anywhere in the band (the band edges and close pairs included),
// and on a floor falling 50 dB across the band.
std::vector<TSpectrum> MadeSpectra(int Exponent, TDXLeakType Window, std::mt19937& Rng)
{
    TToneFrames frames(Exponent, Window);
    const int n = frames.N;
    std::uniform_real_distribution<double> unit(0, 1);
    const auto carriers = [&](int Count) {
        std::vector<TTone> tones;
        for (int c = 0; c < Count; ++c) {
            const double bin = c % 7 == 6 && !tones.empty() ? tones.back().Bin + 2 + 6 * unit(Rng)
                                                            : 0.5 + (n - 1) * unit(Rng);
            tones.push_back({std::min(bin, n - 0.5), 0.3 * std::pow(10, (10 + 70 * unit(Rng)) / 20),
                             6.28 * unit(Rng)});
        }
        return tones;
    };
    std::vector<TSpectrum> spectra;
    spectra.push_back({frames.Run({}, 3, &Rng), {Window}, "noise"});
    std::vector<float> mean(size_t(n), 0.0f);
    for (int f = 0; f < 8; ++f) {
        const auto& m = frames.Run({}, 3, &Rng);
        for (int k = 0; k < n; ++k)
            mean[size_t(k)] += m[size_t(k)] / 8;
    }
    spectra.push_back({mean, {Window}, "averaged noise"});
    for (int count : {1, 5, 40})
        spectra.push_back(
            {frames.Run(carriers(count), 3, &Rng), {Window}, std::to_string(count) + " carriers"});
    std::vector<float> sloped = frames.Run(carriers(8), 3, &Rng);
    for (int k = 0; k < n; ++k)
        sloped[size_t(k)] *= float(std::pow(10, -2.5 * k / n));
    spectra.push_back({sloped, {Window}, "sloped floor"});
    return spectra;
}

// Shapes no window makes, searched with every window: a flat top of two to five bins among five
// shapes of tones halfway between bins a little higher (the flat top's fit may come out above
// theirs), exact copies of a hill (equal peaks), single-bin spikes, steps, bands of ripples, a
// comb and empty stretches, over a noise floor; Damaged: some bins not finite or negative.
TSpectrum DrawnSpectrum(int N, std::mt19937& Rng, bool Damaged = false)
{
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<float> m(static_cast<size_t>(N));
    for (float& v : m)
        v = float(std::sqrt(-std::log(1 - unit(Rng)))); // Rayleigh, mean power 1
    const auto at = [&](int K) -> float& { return m[size_t(std::clamp(K, 0, N - 1))]; };
    const auto somewhere = [&] { return 1 + int((N - 2) * unit(Rng)); };
    std::vector<float> copy;
    for (int h = 0, hills = 3 + N / 200; h < hills; ++h) {
        const int k = somewhere();
        const float top = float(std::pow(10, (15 + 40 * unit(Rng)) / 20));
        switch (h % 6) {
        case 0: // a flat top and the tones
            for (int j = 0, w = 2 + h % 4; j < w; ++j)
                at(k + j) = top * (j == 0 ? 0.999f : 1.0f);
            for (int t = 0; t < 5; ++t) {
                const int c = somewhere();
                at(c) = at(c + 1) = top * 1.06f;
                at(c - 1) = at(c + 2) = top * 0.2f;
            }
            break;
        case 1: // a spike
            at(k) = top;
            break;
        case 2: // a step down
            for (int j = 0; j < 40; ++j)
                at(k + j) *= top / 4;
            break;
        case 3: // copies of one hill
            if (copy.empty())
                copy = {top / 5, top / 2, top, top * 0.7f, top / 6};
            for (size_t j = 0; j < copy.size(); ++j)
                at(k + int(j)) = copy[j];
            break;
        case 4: // a band of ripples, more local maxima than the search first holds, no peak
            for (int j = 0; j < 200; ++j)
                at(k + j) = top * float(0.9 + 0.2 * unit(Rng));
            break;
        default: // a comb, then nothing
            for (int j = 0; j < 24; ++j)
                at(k + j) = j % 3 ? 0.0f : top;
            for (int j = 24; j < 60; ++j)
                at(k + j) = 0;
            break;
        }
    }
    const float odd[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(), -3, -1e4f};
    for (int i = 0; Damaged && i < N / 50; ++i)
        at(somewhere()) = odd[i % 4];
    // Small spikes whose surroundings are no numbers at all, peaks over an empty floor: one
    // anywhere, one on the last bin whose surroundings lie inside the spectrum.
    for (int i = 0; Damaged && i < 2; ++i) {
        const int k = i ? N - 20 : 20 + int((N - 41) * unit(Rng));
        for (int j = 3; j <= 18; ++j)
            at(k - j) = at(k + j) = odd[0];
        at(k - 2) = at(k - 1) = at(k + 1) = at(k + 2) = 0.5f;
        at(k) = 2;
    }
    return {m,
            {wnRectangle, wnHanning, wnHamming, wnBlackman, wnOwn},
            std::string(Damaged ? "damaged, " : "drawn, ") + std::to_string(N) + " bins"};
}

// Noiseless tones computed exactly, 0 to 80 dB up, on and between bins, near the band edges,
// where the mirror fades out and inside: where the bounds on what a local maximum can become
// are at their tightest, and where the mirror stops counting.
TSpectrum ExactSpectrum(TDXLeakType Window, std::mt19937& Rng)
{
    constexpr int n = 256;
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<TTone> tones;
    for (double bin : {1.5, 2.5, 4.0, 7.5, 12.5, 20.5, 30.3, 45.5, 61.0, 128.25, n - 45.5, n - 30.3,
                       n - 20.5, n - 12.5, n - 4.0, n - 2.5, n - 1.5})
        tones.push_back({bin + (unit(Rng) < 0.5 ? 0.0 : 0.1 * unit(Rng)),
                         std::pow(10, 4 * unit(Rng)), 6.28 * unit(Rng)});
    return {ExactBins(Window, n, tones), {Window}, "exact tones"};
}

// Tones halfway between bins whose bins stand below a band of ripples (more local maxima than
// the search first holds, none a peak) while their fits stand above them and above a tone on a
// bin, inside the band and near both its edges.
TSpectrum RippleSpectrum(std::mt19937& Rng)
{
    constexpr int n = 2048;
    std::vector<float> m(n, 1.0f);
    for (int j = 600; j < 660; ++j)
        m[size_t(j)] = j % 2 ? 40.0f : 48.0f;
    m[1000] = 50;
    m[999] = m[1001] = 25;
    for (const int k : {6 + int(Rng() % 24), n - 8 - int(Rng() % 24), 1700}) {
        m[size_t(k)] = m[size_t(k) + 1] = 47;
        m[size_t(k) - 1] = m[size_t(k) + 2] = 9.4f;
    }
    return {m, {wnRectangle, wnHanning, wnHamming, wnBlackman}, "halfway tones below ripples"};
}

// Single-bin peaks within 0.05 % (or 3 %) of the floor rule's margin: on a rippled floor rising
// and falling by up to 16 times within 512 bins, or in pockets about half as strong as the
// floor around them (near half its mean power, where the search rules out most local maxima of
// a noise floor all at once) beside a strong rippled stretch.
TSpectrum MarginSpectrum(bool Pockets, std::mt19937& Rng)
{
    constexpr int n = 4096;
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<float> m(n);
    const double high = 2.1 * (0.95 + 0.08 * unit(Rng));
    double level = 1, next = 1;
    for (int k = 0; k < n; ++k) {
        if (k % 512 == 0)
            level = next, next = std::pow(4.0, 2 * unit(Rng) - 1);
        const double floor = Pockets ? (k > 20 && k < 220 ? 30 : high)
                                     : level * std::pow(next / level, (k % 512) / 512.0);
        m[size_t(k)] = float(std::sqrt(floor * (1 + 0.05 * (k % 2))));
    }
    const auto spike = [&](int K, double Factor) {
        double around = 0;
        for (int j = 3; j <= 18; ++j)
            around += double(m[size_t(K - j)]) * m[size_t(K - j)] +
                      double(m[size_t(K + j)]) * m[size_t(K + j)];
        m[size_t(K)] = float(std::sqrt(std::pow(10, 1.2) * around / 32 / 0.925 * Factor));
    };
    const double factors[] = {0.9995, 1.0005, 0.97, 1.03};
    for (int k = 600; Pockets && k < n - 200; k += 128) {
        for (int j = -18; j <= 18; ++j)
            m[size_t(k + j)] = float(std::sqrt(0.8 + 0.4 * unit(Rng)));
        spike(k, factors[Rng() % 2]);
    }
    for (int k = 30 + int(10 * unit(Rng)); !Pockets && k < n - 30; k += 40 + int(8 * unit(Rng)))
        spike(k, factors[Rng() % 4]);
    return {m, Pockets ? std::vector{wnOwn} : std::vector{wnOwn, wnHanning},
            Pockets ? "pockets" : "margin"};
}

// The searches each spectrum gets: the whole band and parts of it, the band edges, a range
// beyond the spectrum, ranges that end or start on a peak, a minimum magnitude amid the peaks',
// counts from 1 to 40, and room for a few more than there are, so that the list never fills.
struct TQuery
{
    int First, Last;
    double Min;
    int Count;
};

std::vector<TQuery> Queries(int N, const std::vector<TPlainPeak>& All, std::mt19937& Rng)
{
    std::vector<double> magnitudes;
    for (const TPlainPeak& p : All)
        magnitudes.push_back(p.Peak.Magnitude);
    std::sort(magnitudes.begin(), magnitudes.end());
    const double middle = magnitudes.empty() ? 1.0 : magnitudes[magnitudes.size() / 2];
    std::uniform_int_distribution<int> bin(0, N - 1);
    const int a = bin(Rng), b = bin(Rng);
    const int edge = All.empty() ? N / 2 : All[All.size() / 2].Bin;
    return {{0, edge, 0, 40},
            {edge, N - 1, 0, 40},
            {0, N - 1, 0, 1},
            {0, N - 1, 0, 5},
            {-10, N + 10, -1, 40},
            {0, N - 1, middle, 5},
            {std::min(a, b), std::max(a, b), 0, 3},
            {0, 30, 0, 2},
            {N - 31, N - 1, 0, 2},
            {0, N - 1, middle, 1},
            {N / 3, N / 3 + 50, 0, 16},
            {0, N - 1, 0, int(All.size()) + 8}};
}

// The marker's steps read plainly from the same peaks, from positions on, between and half
// way between bins: the nearest local maximum left (right) of the position's bin in First..Last
// that is a peak below the marker's magnitude and more than half a bin away; the highest peak
// within a radius. False at the first difference.
bool MatchesPlainSteps(const TSpectrum& S, TDXLeakType Window, const std::vector<TPlainPeak>& All,
                       const TPeakRules& Rules, std::mt19937& Rng)
{
    const int n = int(S.M.size());
    std::uniform_int_distribution<int> bin(-2, n + 1);
    for (int i = 0; i < 12; ++i) {
        const double position = bin(Rng) + 0.25 * (i % 3), radius = i % 4 == 3 ? 0.75 : 3.0;
        const double magnitude = All.empty() ? 1.0 : All[Rng() % All.size()].Peak.Magnitude;
        const int first = i % 2 ? bin(Rng) : -5, last = i % 2 ? bin(Rng) : n + 5;
        const long centre = std::lround(position);
        const TPeak* want[3] = {};
        for (const auto& [k, p] : All) {
            const bool step = k >= first && k <= last && p.Magnitude < magnitude;
            if (step && k < centre && p.Bin < position - 0.5)
                want[0] = &p;
            if (step && k > centre && p.Bin > position + 0.5 && !want[1])
                want[1] = &p;
            if (std::fabs(p.Bin - position) <= radius &&
                (!want[2] || p.Magnitude > want[2]->Magnitude))
                want[2] = &p;
        }
        for (int kind = 0; kind < 3; ++kind) {
            TPeak got{-7, -7};
            const float* m = S.M.data();
            const bool found =
                kind == 0 ? NextPeakLeft(m, n, Window, position, magnitude, first, last, got, Rules)
                : kind == 1
                    ? NextPeakRight(m, n, Window, position, magnitude, first, last, got, Rules)
                    : TrackPeak(m, n, Window, position, got, radius, Rules);
            if (found != (want[kind] != nullptr) ||
                (found && (got.Bin != want[kind]->Bin || got.Magnitude != want[kind]->Magnitude))) {
                ADD_FAILURE() << S.What << ", window " << Window << ", step " << kind << " from "
                              << position << " in " << first << ".." << last << ": found " << found
                              << " at " << got.Bin;
                return false;
            }
        }
    }
    return true;
}

// Runs every query on the spectrum with Search and compares; false at the first difference.
bool MatchesPlainSearch(TPeakSearch& Search, const TSpectrum& S, TDXLeakType Window,
                        std::mt19937& Rng)
{
    const int n = int(S.M.size());
    const auto all = AllPeaks(S.M, Window, Search.Rules);
    for (const TQuery& q : Queries(n, all, Rng)) {
        const auto want = PlainStrongest(all, q.First, q.Last, q.Min, q.Count);
        std::vector<TPeak> got(size_t(q.Count), TPeak{-7, -7});
        const int found =
            Search.Strongest(S.M.data(), n, Window, q.First, q.Last, q.Min, q.Count, got.data());
        bool same = found == int(want.size());
        for (size_t i = 0; same && i < want.size(); ++i)
            same = got[i].Bin == want[i].Bin && got[i].Magnitude == want[i].Magnitude;
        if (!same) {
            ADD_FAILURE() << S.What << ", window " << Window << ", bins " << q.First << ".."
                          << q.Last << ", min " << q.Min << ", count " << q.Count << ": found "
                          << found << ", plain " << want.size();
            return false;
        }
    }
    // Each peak alone, with its own magnitude as the minimum: whatever the search skips on what
    // a local maximum could become, it must not skip one that becomes exactly that.
    for (const TPlainPeak& p : all) {
        TPeak got{-7, -7};
        const int found = Search.Strongest(S.M.data(), n, Window, p.Bin - 1, p.Bin + 1,
                                           p.Peak.Magnitude, 1, &got);
        if (found != 1 || got.Bin != p.Peak.Bin || got.Magnitude != p.Peak.Magnitude) {
            ADD_FAILURE() << S.What << ", window " << Window << ": the peak at " << p.Peak.Bin
                          << " alone, found " << found;
            return false;
        }
    }
    return MatchesPlainSteps(S, Window, all, Search.Rules, Rng);
}

} // namespace

// The search skips most local maxima on bounds of what they could become: it has to find
// exactly what looking at every one of them finds, for any spectrum, window, range, minimum
// and count, and with other rules.
TEST(PeakSearchOrder, SameAsLookingAtEveryLocalMaximum)
{
    std::mt19937 rng(19);
    TPeakSearch search; // one object throughout, as a thread keeps it
    int cases = 0;
    for (TDXLeakType window : Windows) // the same window at other sizes: new bounds
        for (int exponent : {8, 10, 12})
            for (int round = 0; round < 2; ++round)
                for (const TSpectrum& s : MadeSpectra(exponent, window, rng)) {
                    ASSERT_TRUE(MatchesPlainSearch(search, s, window, rng));
                    ++cases;
                }
    for (int n : {64, 300, 1000, 2048})
        for (int round = 0; round < 4; ++round) {
            const TSpectrum s = DrawnSpectrum(n, rng, round == 3);
            for (TDXLeakType window : s.Windows) {
                ASSERT_TRUE(MatchesPlainSearch(search, s, window, rng));
                ++cases;
            }
        }
    // Looser and stricter rules: many peaks in noise, or a floor test that rarely decides.
    std::mt19937 rules(23);
    for (const TPeakRules r :
         {TPeakRules{3.0, 3.0, 8}, TPeakRules{-20.0, 6.0, 32}, TPeakRules{40.0, 1.0, 64}}) {
        search.Rules = r;
        for (TDXLeakType window : {wnHanning, wnRectangle})
            for (const TSpectrum& s : MadeSpectra(10, window, rules)) {
                ASSERT_TRUE(MatchesPlainSearch(search, s, window, rules));
                ++cases;
            }
        // Every other bin a local maximum, each of them a peak where no floor is asked for.
        std::vector<float> comb(64);
        for (size_t k = 0; k < comb.size(); ++k)
            comb[k] = k % 2 ? 100.0f : 1.0f;
        ASSERT_TRUE(MatchesPlainSearch(search, {comb, {}, "comb"}, wnOwn, rules));
    }
    search.Rules = {};
    for (int round = 0; round < 52; ++round) {
        for (TDXLeakType window : Windows)
            ASSERT_TRUE(round % 4 ||
                        MatchesPlainSearch(search, ExactSpectrum(window, rng), window, rng));
        for (TDXLeakType window : Windows)
            ASSERT_TRUE(round % 4 || MatchesPlainSearch(search, RippleSpectrum(rng), window, rng));
        const TSpectrum s = MarginSpectrum(round >= 12, rng);
        for (TDXLeakType window : s.Windows)
            ASSERT_TRUE(MatchesPlainSearch(search, s, window, rng));
        cases += 1;
    }
    EXPECT_GE(cases, 300);
}

// Nothing reads outside the spectrum: laid out between two pages that cannot be read, with
// peaks on its outermost bins and where the floor's surroundings just fit, any read before its
// first bin or past its last stops the test program.
TEST(PeakSearchOrder, ReadsOnlyTheSpectrum)
{
    constexpr int n = 1024;
    const size_t page = size_t(sysconf(_SC_PAGESIZE)), bytes = n * sizeof(float);
    const size_t inner = (bytes + page - 1) / page * page;
    auto* base = static_cast<uint8_t*>(mmap(nullptr, inner + 2 * page, PROT_READ | PROT_WRITE,
                                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(base, MAP_FAILED);
    ASSERT_TRUE(mprotect(base, page, PROT_NONE) == 0 &&
                mprotect(base + page + inner, page, PROT_NONE) == 0);
    float* m = reinterpret_cast<float*>(base + page + inner - bytes);
    std::mt19937 rng(3);
    const std::vector<float> drawn = DrawnSpectrum(n, rng).M;
    std::copy(drawn.begin(), drawn.end(), m);
    for (int k : {1, 2, 18, 19, 20, n - 21, n - 20, n - 19, n - 18, n - 3, n - 2})
        m[k] = 1e4f * float(1 + k % 3);
    TPeakSearch search;
    TPeak peaks[40], p;
    for (TDXLeakType window : {wnRectangle, wnHanning, wnHamming, wnBlackman, wnOwn}) {
        for (int count : {1, 5, 40})
            EXPECT_GT(search.Strongest(m, n, window, -5, n + 5, 0, count, peaks), 0);
        for (double at : {-1.0, 0.0, 1.0, n - 2.0, n - 1.0, double(n)}) {
            TrackPeak(m, n, window, at, p);
            NextPeakLeft(m, n, window, at, 1e30, -5, n + 5, p);
            NextPeakRight(m, n, window, at, 1e30, -5, n + 5, p);
        }
        for (int k = -1; k <= n; ++k)
            EXPECT_TRUE(std::isfinite(InterpolatePeak(m, n, k, window).Magnitude)) << k;
    }
    // Positions that are no number find nothing and leave the peak as it was.
    for (const double at : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        TPeak untouched{-7, -7};
        EXPECT_FALSE(TrackPeak(m, n, wnHanning, at, untouched) ||
                     NextPeakLeft(m, n, wnHanning, at, 1e30, -5, n + 5, untouched) ||
                     NextPeakRight(m, n, wnHanning, at, 1e30, -5, n + 5, untouched));
        EXPECT_EQ(untouched.Bin, -7);
    }
    munmap(base, inner + 2 * page);
}

// The bounds the search prunes on, against the window's spectrum summed in the test over its
// textbook coefficients: each must hold for every tone it covers (safe) and, where it comes
// from a grid over the tone's offset, stay within a few percent of the truth (useful).
TEST(PeakSearchBounds, HoldForEveryToneTheyCover)
{
    for (TDXLeakType window : Windows)
        for (int n : {64, 256}) {
            const double gain = CoefficientSum(window, n);
            const auto R = [&](double v) {
                double r = 0;
                for (int i = 0; i < 2 * n; ++i)
                    r += Coefficient(window, i, 2 * n) * std::cos(Pi * (i - n + 0.5) * v / n);
                return r / gain;
            };
            // Sum of R(j - o)^2 over j = From..To, least or greatest over o in 0..Span.
            const auto squares = [&](int From, int To, double Span, bool Least) {
                double extreme = Least ? 1e300 : 0;
                for (int i = 0; i <= 400; ++i) {
                    double sum = 0;
                    for (int j = From; j <= To; ++j)
                        sum += std::pow(R(j - Span * i / 400), 2);
                    extreme = Least ? std::min(extreme, sum) : std::max(extreme, sum);
                }
                return extreme;
            };
            TPeakSearch search;
            const std::vector<float> zeros(size_t(n), 0.0f);
            TPeak peak;
            search.Strongest(zeros.data(), n, window, 1, n - 2, 0, 1, &peak);
            const TPeakBounds& b = search.Bounds();
            const std::string what = std::to_string(window) + " at " + std::to_string(n);
            ASSERT_TRUE(b.Window == window && b.N == n) << what;
            EXPECT_NEAR(TWindowKernel(window, n).ScallopGain(), 1 / R(0.5), 1e-9) << what;
            const double nearest = std::sqrt(squares(-1, 1, 0.5, true));
            const double farthest = std::sqrt(squares(-1, 1, 1.0, true));
            const double spread = squares(-4, 4, 0.5, false);
            EXPECT_TRUE(b.Near <= nearest && b.Near >= 0.98 * nearest) << what << " " << b.Near;
            EXPECT_TRUE(b.Far <= farthest && b.Far >= 0.98 * farthest) << what << " " << b.Far;
            // (Its grid of 256 offsets widens it by up to 0.06: nine bins, |R'| <= pi.)
            EXPECT_TRUE(b.Spread >= spread && b.Spread <= spread + 0.06) << what;
            // R(1 - u) / R(u) (rising to 1 with every window: kept) and |R(1 + u)| / R(u) over
            // 0 <= u <= 1/2; the latter within FallingSlope of its table between its points.
            ASSERT_TRUE(b.Falling.size() == 1025u && b.Rising.size() == 1025u) << what;
            double largestFalling = 0;
            for (size_t i = 0; i < b.Falling.size(); ++i) {
                const double u = 0.5 * double(i) / 1024, r = R(u);
                EXPECT_NEAR(b.Falling[i], std::fabs(R(1 + u)) / r, 1e-6) << what << " " << u;
                EXPECT_NEAR(b.Rising.at(i), R(1 - u) / r, 1e-6) << what << " " << u;
                const double between = u + 0.25 / 1024;
                EXPECT_LE(std::fabs(std::fabs(R(1 + between)) / R(between) - b.Falling[i]),
                          b.FallingSlope)
                    << what;
                largestFalling = std::max(largestFalling, b.Falling[i]);
            }
            // Three bins of a tone lie within Spill times the largest from where the table puts
            // them: R(1 - u) / R(u) <= 1 and |R(1 + u)| / R(u) up to the table's largest.
            EXPECT_GE(b.Spill, std::hypot(1.0, std::max(1.0, largestFalling))) << what;
            // The mirror of a tone within half a bin of K stays below the bound over K-4..K+4,
            // where there is one: never where those bins leave the spectrum.
            EXPECT_TRUE(b.BoundFirst >= 5 && b.BoundLast <= n - 5) << what;
            EXPECT_TRUE(b.ZoneFirst >= b.BoundFirst && b.ZoneLast <= b.BoundLast) << what;
            EXPECT_TRUE(b.ZoneFirst > b.ZoneLast || std::sqrt(3.0) * b.ZoneMirror <= 0.01 * b.Far)
                << what;
            std::vector<double> bounds(size_t(n), HUGE_VAL);
            for (int k = 1; k <= n - 2; ++k) {
                const double bound = bounds[size_t(k)] = k < b.ZoneFirst ? b.LowMirror[size_t(k)]
                                                         : k > b.ZoneLast
                                                             ? b.HighMirror[size_t(n - 1 - k)]
                                                             : b.ZoneMirror;
                EXPECT_EQ(std::isfinite(bound), k >= b.BoundFirst && k <= b.BoundLast)
                    << what << " bin " << k;
                const bool quiet = k >= b.QuietFirst && k <= b.QuietLast;
                if (!std::isfinite(bound) && !quiet)
                    continue;
                double mirror = 0, near = 0;
                for (int j = -4; j <= 4; ++j)
                    for (double u = -0.5; u <= 0.5; u += 0.25) {
                        mirror = std::max(mirror, std::fabs(R(2 * k + j + u)));
                        if (std::abs(j) <= 1)
                            near = std::max(near, std::fabs(R(2 * k + j + u)));
                    }
                EXPECT_TRUE(!std::isfinite(bound) || bound >= mirror) << what << " bin " << k;
                // Quiet bins: a mirror far below what the fit takes into account (1e-6).
                EXPECT_TRUE(!quiet || near <= 0.5e-6) << what << " bin " << k;
            }
            // A tone's mirror at -(K + u) lies as far from bin K as the mirror of one at N - K - u
            // from bin N - K (at N + K + u): the bounds are the same towards both edges.
            for (int k = 2; k <= n - 2; ++k)
                EXPECT_TRUE(bounds[size_t(k)] == bounds[size_t(n - k)] ||
                            std::fabs(bounds[size_t(k)] / bounds[size_t(n - k)] - 1) < 1e-12)
                    << what << " bin " << k;
            // Only Hann's and Blackman's terms cancel at the mirror, enough at 256 bins.
            const bool cancelling = window == wnHanning || window == wnBlackman;
            EXPECT_TRUE(b.QuietFirst <= b.QuietLast ? cancelling : n < 256 || !cancelling) << what;
        }
}

// What the bounds are for: a local maximum is looked at one by one only where the weakest peak
// wanted is within reach of its bins (no window's peak stands more than 16 times above the
// largest of its nine bins), or where the mirror leaves its bins without a bound, beside the 16
// strongest held first; it is fitted only where it also is a peak. On noise, carriers and
// sloping floors, with a minimum or a count setting the weakest peak wanted.
TEST(PeakSearchBounds, LocalMaximaOutOfReachAreNotLookedAt)
{
    const auto localMaximum = [](const float* M, int K) {
        return M[K] > M[K - 1] && M[K] >= M[K + 1];
    };
    std::mt19937 rng(5);
    TPeakSearch search;
    int pruned = 0;
    for (TDXLeakType window : Windows)
        for (const TSpectrum& s : MadeSpectra(12, window, rng)) {
            const int n = int(s.M.size());
            const float* m = s.M.data();
            TPeak peaks[5];
            const bool carriers = s.What.find("carriers") != std::string::npos;
            const double least = carriers ? 0.0 : 30.0 * m[n / 2]; // none on the floor alone
            const int count = s.What == "1 carriers" ? 1 : 5;
            const int found = search.Strongest(m, n, window, 0, n - 1, least, count, peaks);
            const auto effort = search.Effort();
            const auto& b = search.Bounds();
            const double weakest = found == count ? peaks[count - 1].Magnitude : least;
            ASSERT_GT(weakest, 0) << s.What;
            int reachable = 16, peaksInReach = count;
            for (int k = 1; k <= n - 2; ++k) {
                if (!localMaximum(m, k))
                    continue;
                float largest = 0;
                for (int j = std::max(0, k - 4); j <= std::min(n - 1, k + 4); ++j)
                    largest = std::max(largest, m[j]);
                if (k < b.ZoneFirst || k > b.ZoneLast || 16 * largest >= weakest) {
                    ++reachable;
                    peaksInReach += IsPeak(m, n, k);
                }
            }
            EXPECT_LE(effort.Examined, reachable) << s.What << " window " << window;
            EXPECT_LE(effort.Tested, effort.Examined) << s.What;
            EXPECT_LE(effort.Fitted, std::min(effort.Tested, peaksInReach)) << s.What;
            pruned += effort.Examined < n / 8;
            // Noise alone, with a minimum that most of its bins come near: the floor rule,
            // settled for all local maxima at once, leaves few to look at, over the band or a
            // part of it.
            if (s.What.find("noise") == std::string::npos)
                continue;
            const double mean = std::accumulate(s.M.begin(), s.M.end(), 0.0) / n;
            for (const int first : {0, n / 3}) {
                int maxima = 0;
                for (int k = std::max(first, 1); k <= n - 2; ++k)
                    maxima += localMaximum(m, k);
                search.Strongest(m, n, window, first, n - 1, mean, 5, peaks);
                EXPECT_LT(search.Effort().Examined, maxima / 8) << s.What << " from " << first;
            }
        }
    EXPECT_GE(pruned, 20); // most searches look at few of the ~1000 local maxima
}
