#include "BandStats.h"
#include "ChannelMeter.h"
#include "FrameSpectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

using namespace quillex;

namespace {

constexpr double Pi = std::numbers::pi;
constexpr TDXLeakType Windows[] = {wnRectangle, wnHanning, wnHamming, wnBlackman};
using TFrameList = std::vector<std::vector<float>>;
const auto Db = [](double PowerMw) { return 10 * std::log10(PowerMw); };

// Unaveraged magnitudes of 2N 16-bit samples through the program's transform.
struct TFrames
{
    TFrames(int Exponent, TDXLeakType Window) : N(1 << Exponent)
    {
        FFT.setExponent(Exponent);
        FFT.setLeakFunction(Window);
    }
    template <class F> std::vector<float> Of(F Signal)
    {
        std::vector<int16_t> block(8192);
        for (int n = 0; n < 2 * N; ++n)
            block[size_t(n)] = int16_t(std::lround(std::clamp(Signal(n), -32768.0, 32767.0)));
        EXPECT_TRUE(TransformBlock(block.data(), FFT, In, Out));
        return {Out->Real->Values, Out->Real->Values + N};
    }
    // A bin's magnitude with a tone of amplitude A exactly on it, the window's gain included.
    double OnBin(double A)
    {
        return Of([&](int n) { return A * std::cos(Pi * n / 4); })[N / 4];
    }
    int N;
    TDXFFT FFT;
    TDXVector* In = FFT.CreateVector(2 * N);
    TDXComplexVector* Out = FFT.CreateComplexVector(N);
};

TBandResult Stats(const TBandSpectrum& Spectrum, TBand Band, const TFrameList& Frames)
{
    TBandStats stats;
    stats.Configure(Spectrum, {&Band, 1});
    for (const auto& f : Frames)
        stats.Add(f);
    return stats.Compute()[0];
}

} // namespace

// A lone tone anywhere across a bin, its main lobe and 5 bins more inside the band, carries the
// power its on-bin level shows, its peak where it was put (on the axis: offset, mirrored). The
// rectangle's side lobes fall as slowly as 1/f^2: its band reaches 20 bins each side. The
// rectangle keeps a tone on a bin in that bin alone: a band ending on the bin's centre takes it,
// one ending a hundredth of a bin short holds only the samples' rounding, 90 dB lower or more.
TEST(BandStats, ToneReadsItsOnBinLevelWithEveryWindowAndSize)
{
    const double reach[] = {20, 2 + 5, 2 + 5, 3 + 5};
    for (TDXLeakType w : Windows)
        for (int e = 8; e <= 12; ++e) {
            TFrames t(e, w);
            const double a = 9000, level = 20 * std::log10(t.OnBin(a) / 16384), h = reach[w];
            const double offset = e % 2 ? -1.25 : 0.5;
            const TBandSpectrum s{t.N, w, NoiseBandwidthBins(t.FFT), offset, e % 2 == 1};
            const auto mhz = [&](double p) {
                return offset + (e % 2 ? t.N - 1 - p : p) * 40 / t.N;
            };
            for (double p = t.N / 3 - 0.5; p <= t.N / 3 + 0.5; p += 0.125) {
                SCOPED_TRACE(testing::Message() << w << " " << e << " " << p);
                const TFrameList m{t.Of([&](int n) { return a * std::cos(Pi * p * n / t.N + 1); })};
                const TBandResult r = Stats(s, {mhz(p + h), mhz(p - h)}, m);
                EXPECT_NEAR(r.PowerDbm, level, 0.1);
                EXPECT_NEAR(r.PeakDbm, level, 0.1);
                EXPECT_NEAR(r.PeakMHz, mhz(p), 0.02 * 40 / t.N);
                for (int c = 0; w == wnRectangle && p == std::floor(p) && c < 4; ++c) {
                    const double side = c % 2 ? 1 : -1, short_ = c < 2 ? 0 : 0.01;
                    const TBand edge{mhz(p + side * short_), mhz(p + side * 20)};
                    const double got = Stats(s, edge, m).PowerDbm;
                    EXPECT_NEAR(got, short_ > 0 ? std::min(got, level - 90) : level, 0.1) << c;
                }
            }
        }
}

// White Gaussian noise of variance s^2 holds the power of a tone of amplitude s sqrt 2, spread
// evenly over 0..40 MHz: its density and a band's power follow from a tone's on-bin level.
// Silence reads the level scale's floor.
TEST(BandStats, WhiteNoiseReadsItsTrueDensityAndPower)
{
    const double sigma = 300, variance = sigma * sigma + 1.0 / 12; // rounding to 16 bits adds
    for (TDXLeakType w : Windows) {
        TFrames t(10, w);
        const double gain = t.OnBin(9000) / 9000 / 16384;
        const double density = Db(2 * variance * gain * gain / 40e6);
        std::mt19937 rng(w);
        std::normal_distribution<double> noise(0, sigma);
        TFrameList frames(1000);
        for (auto& f : frames)
            f = t.Of([&](int) { return noise(rng); });
        const TBand band{524 * 40.0 / t.N, 1023 * 40.0 / t.N}; // up to the last bin
        EXPECT_EQ(Stats({t.N, w, 1}, band, {std::vector<float>(size_t(t.N))}).PowerDbm, -180);
        for (const int group : {1, 10, 100, 1000}) {
            SCOPED_TRACE(testing::Message() << w << " " << group);
            TBandStats stats;
            stats.Configure({t.N, w, NoiseBandwidthBins(t.FFT)}, {&band, 1});
            EXPECT_FALSE(stats.Add({frames[0].data(), size_t(t.N - 1)}));
            std::vector<double> errors;
            double occupancy = 0;
            for (const auto& f : frames) {
                if (!stats.Add(f) || stats.Frames() < group)
                    continue;
                const TBandResult r = stats.Compute()[0];
                errors.push_back(r.NoiseDbmHz - density);
                occupancy += r.OccupancyPct * group / 1000;
                EXPECT_NEAR(r.PowerDbm, density + Db(500 * 40e6 / t.N), group >= 100 ? 0.2 : 9);
                stats.Clear();
            }
            // Single frames: median within 0.3 dB, 95 % within 1 dB; 5,000 cells: all within 0.5.
            std::sort(errors.begin(), errors.end());
            const size_t tail = group == 1 ? errors.size() / 40 : 0;
            EXPECT_NEAR(errors[errors.size() / 2], 0, group == 1 ? 0.3 : 0.1);
            EXPECT_LE(std::max(-errors[tail], errors[errors.size() - 1 - tail]),
                      group == 1 ? 1 : 0.5);
            EXPECT_LT(occupancy, 0.1);
        }
    }
}

// Cells of a bin hold complex Gaussian noise of mean power Mu, plus a carrier's steady phasor:
// carriers on 20 % of the bins move the density less than 1 dB, even weak ones, 0 to 12 dB above
// the floor, which cell by cell are hard to tell from noise (stronger ones drop out).
// Carriers 30 dB up on the lowest 375 of 500 bins for 80 % of the frames occupy 60 % of the
// cells and leave the floor to the rest; with the noise they hold P = 375 (800 + 1) Mu + 125 Mu,
// and the occupied bandwidth leaves P / 200 at each end: 125 Mu of it above them.
TEST(BandStats, CarriersBurstsAndTheirOccupiedBandwidth)
{
    const int n = 1024, first = 100, bins = 500;
    const double mu = 1e4, density = Db(mu / 16384 / 16384 / (1.5 * 40e6 / n));
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, std::sqrt(mu / 2));
    std::uniform_real_distribution<double> phase(0, 2 * Pi);
    const TBand band{first * 40.0 / n, (first + bins - 1) * 40.0 / n};
    TBandStats stats;
    stats.Configure({n, wnHanning, 1.5, 0, false}, {&band, 1});
    std::vector<float> m(size_t(n), 0.0f);
    const auto frame = [&](auto Carrier) {
        for (int k = 0; k < n; ++k)
            m[size_t(k)] = float(std::abs(std::complex(noise(rng), noise(rng)) +
                                          std::polar(Carrier(k), phase(rng))));
        stats.Add(m);
    };
    for (int f = 0; f < 10; ++f) // every fifth bin, 0 to 12 dB up in steps of 1 dB
        frame([&](int k) { return k % 5 ? 0.0 : std::sqrt(mu * std::pow(10, k * 7 % 13 / 10.0)); });
    EXPECT_NEAR(stats.Compute()[0].NoiseDbmHz, density, 1.0);
    stats.Clear();
    for (int f = 0; f < 100; ++f)
        frame([&](int k) {
            return f % 5 < 4 && k < first + bins * 3 / 4 ? std::sqrt(mu * 1e3) : 0.0;
        });
    const TBandResult r = stats.Compute()[0];
    EXPECT_NEAR(r.OccupancyPct, 60.0, 0.05);
    EXPECT_NEAR(r.NoiseDbmHz, density, 0.3);
    const double p = 375 * 801 + 125, obw = 375 - (p / 200 / 801) - (p / 200 - 125) / 801;
    EXPECT_NEAR(r.ObwKHz, obw * 40000 / n, 0.1 * 40000 / n);
}

// The window's channel is averaged in power as the display averages its magnitudes: the mean of
// the first frames' bin powers, then each frame weighing 1/depth (never the powers of averaged
// magnitudes, which read noise 1 dB low). A hold is taken as it is. The noise density of the span
// comes from the unaveraged frames in groups of 5,000 cells at least; empty bins at the -180 dBm
// floor (a third of them here) are no noise, and a span of nothing else has none.
TEST(ChannelMeter, PowerAveragedInPowerAndNoiseFromTheFrames)
{
    const int n = 1024, depth = 4;
    const double enbw = 1.5, mu = 1e4, binHz = 40e6 / n;
    const auto dbm = [](double Squared) { return Db(Squared / 16384 / 16384); };
    TChannelMeter meter;
    meter.Configure({n, wnHanning, enbw}, depth);
    meter.SetSpan({0, 40});
    EXPECT_EQ(meter.NoiseGroupFrames(), 5);
    std::vector<float> m(size_t(n), 0.0f);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, std::sqrt(mu / 2));
    for (int f = 0; f < 40; ++f) {
        for (int k = n / 3; k < n; ++k)
            m[size_t(k)] = float(std::abs(std::complex(noise(rng), noise(rng))));
        meter.Add(m);
        EXPECT_NEAR(meter.NoiseDbmHz(), dbm(mu / enbw / binHz), f < 4 ? 1.0 : 0.5) << f;
        EXPECT_NEAR(meter.NoiseBinDbm(), meter.NoiseDbmHz() + Db(enbw * binHz), 1e-9);
    }
    meter.SetSpan({0, 300 * 40.0 / n});
    meter.Add(m);
    EXPECT_TRUE(std::isnan(meter.NoiseDbmHz()));

    meter.Configure({n, wnHanning, enbw}, depth);
    meter.SetChannel(TBand{100 * 40.0 / n, 109 * 40.0 / n}); // bins 100..109, edges included
    EXPECT_TRUE(std::isnan(meter.Channel().PowerDbm));
    double power = 0;
    for (const float a : {1000.0f, 3000.0f, 0.0f, 2000.0f, 5000.0f, 500.0f}) {
        std::fill(m.begin() + 100, m.begin() + 110, a);
        meter.Add(m);
        power += (double(a) * a - power) / double(std::min<int64_t>(meter.Frames(), depth));
        EXPECT_NEAR(meter.Channel().PowerDbm, dbm(10 * power / enbw), 1e-3) << a;
    }
    EXPECT_NEAR(meter.ChannelOn(m).PowerDbm, dbm(10 * 500.0 * 500 / enbw), 1e-3);
}
