#include "MarkerPosition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace quillex;

// The fewest decimals of a MHz whose last digit is worth at most a tenth of a bin: the
// worked cases, then the rule's two sides for every power-of-two size.
TEST(MarkerPosition, FrequencyDecimalsResolveATenthOfABin)
{
    // A tenth of a bin is 15.6 kHz at N = 256 (0.01 MHz fits, 0.1 does not), 1.95 kHz at 2048
    // (0.001 MHz fits), 0.98 kHz at 4096 (1 kHz is too coarse).
    EXPECT_EQ(MarkerFrequencyDecimals(256), 2);
    EXPECT_EQ(MarkerFrequencyDecimals(2048), 3);
    EXPECT_EQ(MarkerFrequencyDecimals(4096), 4);
    for (int n = 1; n <= (1 << 20); n *= 2) {
        const int d = MarkerFrequencyDecimals(n);
        const double tenthKHz = 40000.0 / n / 10;
        EXPECT_LE(1000 * std::pow(10.0, -d), tenthKHz) << n;
        if (d > 0) {
            EXPECT_GT(1000 * std::pow(10.0, 1 - d), tenthKHz) << n;
        }
    }
}

// The bins whose displayed frequency lies in a view, bounds included, in physical order:
// mirrored ranges when inverted; the frequency a bin shows at, after an offset.
TEST(MarkerPosition, PhysicalBinsOfAView)
{
    // 12..17 MHz at 9.765625 kHz a bin: displayed bins 1229 (12001.95 kHz) to 1740.
    TBinRange r = PhysicalBinsInView(12000, 17000, 4096, false);
    EXPECT_EQ(r.First, 1229);
    EXPECT_EQ(r.Last, 1740);
    r = PhysicalBinsInView(12000, 17000, 4096, true);
    EXPECT_EQ(r.First, 4095 - 1740);
    EXPECT_EQ(r.Last, 4095 - 1229);
    // A bound on a bin takes it; the ends are limited to the spectrum.
    r = PhysicalBinsInView(10000, 20000, 4096, false);
    EXPECT_EQ(r.First, 1024);
    EXPECT_EQ(r.Last, 2048);
    r = PhysicalBinsInView(-500, 50000, 256, true);
    EXPECT_EQ(r.First, 0);
    EXPECT_EQ(r.Last, 255);
    // Reversed: nothing.
    EXPECT_LT(PhysicalBinsInView(300, 200, 4096, true).Last,
              PhysicalBinsInView(300, 200, 4096, true).First);

    // Property: every bin of the range shows inside the view, its neighbours outside it.
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> khz(-1000, 41000);
    for (int trial = 0; trial < 500; ++trial) {
        const int n = 256 << (trial % 5);
        const bool inverted = trial % 2;
        double lo = khz(rng), hi = khz(rng);
        if (lo > hi)
            std::swap(lo, hi);
        if (trial % 7 == 0) // a view of no width, on a bin: that bin
            lo = hi = std::round(lo * n / 40000) * 40000 / n;
        const TBinRange b = PhysicalBinsInView(lo, hi, n, inverted);
        const auto shownKHz = [&](int k) { return (inverted ? n - 1 - k : k) * 40000.0 / n; };
        const auto inside = [&](int k) { return shownKHz(k) >= lo && shownKHz(k) <= hi; };
        ASSERT_NEAR(DisplayedMHz(DisplayedBin(b.First + 0.25, n, inverted), n, -1.5),
                    shownKHz(b.First) / 1000 + (inverted ? -0.25 : 0.25) * 40 / n - 1.5, 1e-9);
        ASSERT_TRUE(b.Last >= b.First || trial % 7 || lo < 0 || lo > 40000 - 40000.0 / n) << trial;
        for (int k = b.First; k <= b.Last; ++k)
            ASSERT_TRUE(inside(k)) << trial << " bin " << k;
        ASSERT_TRUE(b.First <= 0 || !inside(b.First - 1)) << trial;
        ASSERT_TRUE(b.Last >= n - 1 || !inside(b.Last + 1)) << trial;
    }
}
