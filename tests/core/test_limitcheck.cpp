#include "FrameProcessor.h"
#include "LimitCheck.h"
#include "test_limit_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace quillex;

namespace {

struct TSetup
{
    TLimitGrid Grid;
    // Upper: rising by 0.5 dB per MHz from -60 dBm at the offset (the spectrum's lowest
    // displayed frequency). Lower: -120 dBm from 10 to 12 MHz above the offset, none elsewhere.
    TLimits Limits;
    double UpperAt(double mhz) const { return -60 + 0.5 * (mhz - Grid.FreqOffsetMHz); }
    double LowerAt(double mhz) const
    {
        const double above = mhz - Grid.FreqOffsetMHz;
        return above >= 10 && above <= 12 ? -120 : None;
    }
    double MHzOfPhysical(int k) const
    {
        const int d = Grid.Inverted ? Grid.N - 1 - k : k;
        return Grid.FreqOffsetMHz + d * 40.0 / Grid.N;
    }

    explicit TSetup(TLimitGrid grid) : Grid(grid)
    {
        const double f0 = grid.FreqOffsetMHz;
        Limits.Upper = TLimitCurve({{f0, -60}, {f0 + 40, -40}});
        Limits.Lower =
            TLimitCurve({{f0 + 9, None}, {f0 + 10, -120}, {f0 + 12, -120}, {f0 + 13, None}});
    }
};

// Noise around -110 dBm; up to three bins within 3 dB of the upper limit.
std::vector<float> Spectrum(const TSetup& s, std::mt19937& rng)
{
    std::exponential_distribution<double> noise(1.0);
    std::uniform_int_distribution<int> bin(0, s.Grid.N - 1);
    std::vector<float> m(s.Grid.N);
    for (int k = 0; k < s.Grid.N; ++k)
        m[k] = Magnitude(-110 - s.Grid.LevelOffsetDb + 5 * std::log10(noise(rng) + 1e-3));
    const int pushed = std::uniform_int_distribution<int>(0, 3)(rng);
    for (int i = 0; i < pushed; ++i) {
        const int k = bin(rng);
        m[k] = Magnitude(s.UpperAt(s.MHzOfPhysical(k)) - s.Grid.LevelOffsetDb +
                         std::uniform_real_distribution<double>(-3, 3)(rng));
    }
    return m;
}

} // namespace

TEST(LimitCheck, FindsTheBinsBeyondEachLimitAndTheWorstOne)
{
    std::mt19937 rng(7);
    int beyondFrames[2] = {0, 0};
    for (const int n : {256, 1024, 4096})
        for (const bool inverted : {false, true}) {
            const TSetup s(TLimitGrid{n, inverted ? 7.5 : -2.0, inverted ? -12.0 : 3.0, inverted});
            TLimitCheck check;
            check.Set(s.Limits, s.Grid);
            EXPECT_TRUE(check.Covers(TLimitKind::Upper));
            EXPECT_TRUE(check.Covers(TLimitKind::Lower));
            std::vector<uint8_t> mask(n + 1, 0xa5); // one byte past the bins, not to be touched
            for (int frame = 0; frame < 20; ++frame) {
                const std::vector<float> m = Spectrum(s, rng);
                const TLimitFrame& r = check.Check(m.data());
                check.BeyondMask(mask.data());
                ASSERT_EQ(mask[size_t(n)], 0xa5) << "written past the bins";
                // The largest excess per kind, and where (a spectrum of random levels has no
                // ties to speak of).
                double best[2] = {-1e300, -1e300};
                int bestBin[2] = {-1, -1};
                for (int k = 0; k < n; ++k) {
                    const double level = Level(m[k]) + s.Grid.LevelOffsetDb;
                    const double f = s.MHzOfPhysical(k);
                    const double excess[2] = {level - s.UpperAt(f), s.LowerAt(f) - level};
                    const int bits = mask[inverted ? n - 1 - k : k];
                    for (int kind = 0; kind < 2; ++kind) {
                        if (std::fabs(excess[kind]) > 1e-4 || std::isnan(excess[kind])) {
                            EXPECT_EQ((bits >> kind) & 1, excess[kind] > 0 ? 1 : 0)
                                << "kind " << kind << ", bin " << k << ", excess " << excess[kind];
                        }
                        if (excess[kind] > best[kind]) {
                            best[kind] = excess[kind];
                            bestBin[kind] = k;
                        }
                    }
                }
                for (int kind = 0; kind < 2; ++kind) {
                    const TLimitKindResult& got = r.Kinds[kind];
                    ASSERT_EQ(got.Beyond, best[kind] > 0) << "kind " << kind;
                    if (!got.Beyond)
                        continue;
                    ++beyondFrames[kind];
                    EXPECT_EQ(got.Bin, bestBin[kind]) << "kind " << kind;
                    const double excess = 20 * std::log10(double(got.Ratio));
                    EXPECT_NEAR(kind == 0 ? excess : -excess, best[kind], 1e-4);
                }
            }
        }
    // The spectra cross both limits often enough, and not always.
    EXPECT_GT(beyondFrames[0], 20);
    EXPECT_LT(beyondFrames[0], 120);
    EXPECT_GT(beyondFrames[1], 20);
}

TEST(LimitCheck, TiesGoToTheLowestBinAndUncoveredBinsAreNeverBeyond)
{
    TLimits limits;
    limits.Upper = FlatCurve(-50);
    TLimitCheck check;
    check.Set(limits, {512, 0, 0, false});
    EXPECT_FALSE(check.Covers(TLimitKind::Lower));
    std::vector<float> m(512, 0.0f);
    m[300] = m[100] = m[400] = Magnitude(-40);
    const TLimitFrame& r = check.Check(m.data());
    EXPECT_TRUE(r[TLimitKind::Upper].Beyond);
    EXPECT_EQ(r[TLimitKind::Upper].Bin, 100);
    EXPECT_FALSE(r[TLimitKind::Lower].Beyond);

    // A lower limit on two carriers, none between them: only their bins count.
    limits.Upper = TLimitCurve();
    std::vector<TLimitPoint> carriers;
    for (const double f : {5.0, 30.0})
        carriers.insert(carriers.end(),
                        {{f, None}, {f + 0.5, -100}, {f + 1, -100}, {f + 1.5, None}});
    limits.Lower = TLimitCurve(carriers);
    check.Set(limits, {512, 0, 0, false});
    EXPECT_TRUE(check.Covers(TLimitKind::Lower));
    // Bins 71 .. 76 and 391 .. 396 lie under the limit's two parts; the rest are silent.
    std::fill(m.begin(), m.end(), 0.0f);
    std::fill(m.begin() + 71, m.begin() + 77, Magnitude(-90));
    std::fill(m.begin() + 391, m.begin() + 397, Magnitude(-90));
    EXPECT_FALSE(check.Check(m.data()).AnyBeyond());
    for (const int dip : {71, 393, 396}) {
        const float was = m[dip];
        m[dip] = Magnitude(-101);
        EXPECT_EQ(check.Check(m.data())[TLimitKind::Lower].Bin, dip);
        m[dip] = was;
    }

    // A limit over a single bin (bin 128 at 10 MHz) counts as any other.
    limits.Lower = TLimitCurve({{9.95, None}, {10.0, -100}, {10.05, -100}, {10.1, None}});
    check.Set(limits, {512, 0, 0, false});
    std::fill(m.begin(), m.end(), 0.0f);
    EXPECT_TRUE(check.Check(m.data())[TLimitKind::Lower].Beyond);
    EXPECT_EQ(check.Check(m.data())[TLimitKind::Lower].Bin, 128);

    // Limits set nowhere: nothing is ever beyond, even a silent or a full-scale spectrum.
    check.Set(TLimits{}, {512, 0, 0, false});
    EXPECT_FALSE(check.Covers(TLimitKind::Upper));
    for (const float level : {0.0f, 5e8f}) {
        std::fill(m.begin(), m.end(), level);
        EXPECT_FALSE(check.Check(m.data()).AnyBeyond());
    }
}

TEST(LimitCheck, LimitsFarOutsideTheLevelsStillSayTheRightSide)
{
    const std::vector<float> silent(256, 0.0f), loud(256, 5e8f); // -180 dBm, about +90 dBm
    for (const auto& [low, high] : {std::pair{-300.0, 1000.0}, std::pair{-1e6, 1e6}})
        for (const bool crossed : {true, false}) {
            TLimits limits;
            limits.Upper = FlatCurve(crossed ? low : high);
            limits.Lower = FlatCurve(crossed ? high : low);
            TLimitCheck check;
            check.Set(limits, {256, 0, 0, false});
            for (const std::vector<float>* m : {&silent, &loud}) {
                const TLimitFrame& r = check.Check(m->data());
                EXPECT_TRUE(r[TLimitKind::Upper].Beyond == crossed &&
                            r[TLimitKind::Lower].Beyond == crossed)
                    << low << " " << crossed << " " << (*m)[0];
            }
        }
}

// Each build of the loop, over every length around its vector widths and a long run: each
// ratio a m + b of First..Last and nothing beside them, and the extreme of exactly those.
TEST(LimitCheck, BothBuildsOfTheLoopTakeExactlyTheirRange)
{
    using TLoop = float (*)(const float*, const float*, const float*, float*, int, int, bool);
    std::vector<TLoop> loops = {LimitRatiosPortable};
    if (WideLoopsSupported())
        loops.push_back(LimitRatiosWide);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0.0f, 2.0f);
    std::vector<float> a(4096), b(4096), m(4096);
    for (std::vector<float>* v : {&a, &b, &m})
        for (float& x : *v)
            x = u(rng);
    std::vector<std::pair<int, int>> ranges = {{0, 4095}, {17, 3000}};
    for (int first = 0; first < 3; ++first)
        for (int last = first; last < first + 40; ++last)
            ranges.emplace_back(first, last);
    for (const TLoop loop : loops)
        for (const auto& [first, last] : ranges)
            for (const bool upper : {true, false}) {
                std::vector<float> r(4096, -7.0f);
                const float extreme =
                    loop(a.data(), b.data(), m.data(), r.data(), first, last, upper);
                double want = upper ? -INFINITY : INFINITY;
                for (int k = 0; k < 4096; ++k) {
                    const bool in = k >= first && k <= last;
                    const double ratio = double(a[k]) * m[k] + b[k];
                    ASSERT_NEAR(r[k], in ? ratio : -7.0, 1e-6) << first << ".." << last << " " << k;
                    if (in)
                        want = upper ? std::max(want, ratio) : std::min(want, ratio);
                }
                ASSERT_NEAR(extreme, want, 1e-6) << first << ".." << last << " " << upper;
            }
}
