#include "MarkerPosition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace quillex;

// The fewest decimals of a MHz whose last digit is worth at most a tenth of a bin: the rule's
// two sides for every power-of-two size.
TEST(MarkerPosition, FrequencyDecimalsResolveATenthOfABin)
{
    for (int n = 1; n <= (1 << 20); n *= 2) {
        const int d = MarkerFrequencyDecimals(n);
        const double tenthKHz = 40000.0 / n / 10;
        EXPECT_LE(1000 * std::pow(10.0, -d), tenthKHz) << n;
        if (d > 0) {
            EXPECT_GT(1000 * std::pow(10.0, 1 - d), tenthKHz) << n;
        }
    }
}

// The bins whose displayed frequency lies in a view, bounds included, in physical order, against
// every bin tried: views of no width on a bin, reversed ones, ones reaching past the spectrum,
// mirrored or not; and the frequency a bin shows at, after an offset.
TEST(MarkerPosition, PhysicalBinsOfAView)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> khz(-1000, 41000);
    for (int trial = 0; trial < 500; ++trial) {
        const int n = 256 << (trial % 5);
        const bool inverted = trial % 2;
        double lo = khz(rng), hi = khz(rng);
        if (lo > hi && trial % 3) // a third of the views reversed: no bin
            std::swap(lo, hi);
        if (trial % 7 == 0) // a view of no width, on a bin: that bin
            lo = hi = std::round(lo * n / 40000) * 40000 / n;
        const auto shownKHz = [&](int k) { return (inverted ? n - 1 - k : k) * 40000.0 / n; };
        TBinRange want;
        for (int k = n - 1; k >= 0; --k)
            if (shownKHz(k) >= lo && shownKHz(k) <= hi) {
                want.Last = std::max(want.Last, k);
                want.First = k;
            }
        const TBinRange b = PhysicalBinsInView(lo, hi, n, inverted);
        if (want.Last < 0) {
            ASSERT_LT(b.Last, b.First) << trial;
        } else {
            ASSERT_TRUE(b.First == want.First && b.Last == want.Last)
                << trial << ": " << b.First << ".." << b.Last;
        }
        ASSERT_NEAR(DisplayedMHz(DisplayedBin(trial % n + 0.25, n, inverted), n, -1.5),
                    shownKHz(trial % n) / 1000 + (inverted ? -0.25 : 0.25) * 40 / n - 1.5, 1e-9);
    }
}
