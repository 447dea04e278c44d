#include "FrequencySpan.h"
#include "InputLevels.h"
#include "LevelScale.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace quillex;

// Auto level: Ref is the peak rounded up to a whole division, plus one division; the scale the
// least step that leaves the noise two divisions or more above the bottom (Ref - 10 div). Worked
// by hand: peak -68.3, noise -110: 5 dB/div gives Ref -60, bottom -110, the noise 0 divisions up;
// 10 gives Ref -50, bottom -150, 4 up. The steps, and the legacy 14 between 10 and 20.
TEST(LevelScale, AutoLevelAndSteps)
{
    const struct
    {
        double Peak, Noise;
        TLevelScale Expected;
    } cases[] = {{-68.3, -110, {-50, 10}}, {-68.3, -100, {-60, 5}}, {-20, -90, {-10, 10}},
                 {-20, -90.5, {0, 20}},    {-50, -57, {-49, 1}},    {-50, -57.5, {-48, 2}},
                 {-3, -300, {20, 20}},     {-68.3, NAN, {-42, 14}}, {NAN, -100, {7, 14}}};
    for (const auto& c : cases) {
        const TLevelScale got = AutoLevel(c.Peak, c.Noise, {7, 14});
        EXPECT_TRUE(got == c.Expected)
            << c.Peak << " " << c.Noise << ": " << got.RefDbm << " " << got.DbPerDiv;
    }
    EXPECT_EQ(TLevelScale{}.BottomDbm(), -140);
    EXPECT_EQ(AutoLevel(400, -100, {}).RefDbm, 300);
    const int steps[][3] = {{1, 2, 1},   {2, 5, 1},    {5, 10, 2},
                            {10, 20, 5}, {14, 20, 10}, {20, 20, 10}};
    for (const auto& [from, up, down] : steps)
        EXPECT_TRUE(NextDbPerDiv(from, true) == up && NextDbPerDiv(from, false) == down) << from;
    for (int d = 0; d <= 21; ++d)
        EXPECT_EQ(ValidDbPerDiv(d), d == 1 || d == 2 || d == 5 || d == 10 || d == 14 || d == 20);
}

// The buttons' spans take N / 8, N / 4, N / 2 and N bins from the bin nearest their left edge;
// any span holds its width in bins (at least 64, or 5 MHz where that is less), inside the
// spectrum; the grid has at most twenty steps of 1, 2, 2.5 or 5 times a power of ten.
TEST(FrequencySpan, BinsLimitsAndGrid)
{
    for (int n = 256; n <= 4096; n *= 2) {
        const double bin = 40000.0 / n;
        EXPECT_DOUBLE_EQ(LeastSpanKHz(n), std::min(64 * bin, 5000.0));
        for (int d = 8; d >= 1; d /= 2) {
            const double span = 40000.0 / d, centre = std::min(20000.0, 17000.0 + span / 2);
            const TSpanBins b = SpanBins(centre, span, n);
            EXPECT_EQ(b.Length, n / d);
            EXPECT_EQ(b.Start, int(std::lround((centre - span / 2) / bin)));
        }
        const TSpanBins low = SpanBins(100, 1000, n), high = SpanBins(39990, 1000, n);
        EXPECT_TRUE(low.Start == 0 && high.Start + high.Length == n) << n;
        EXPECT_EQ(low.Length, std::max(1L, std::lround(1000 / bin)));
    }
    EXPECT_EQ(ClampSpanKHz(100, 4096), 625);
    EXPECT_EQ(ClampSpanKHz(100, 256), 5000);
    EXPECT_EQ(ClampSpanKHz(1e6, 4096), 40000);
    EXPECT_EQ(ClampSpanKHz(NAN, 4096), 40000);
    EXPECT_EQ(ClampCentreKHz(100, 1000), 500);
    EXPECT_EQ(ClampCentreKHz(39900, 1000), 39500);
    EXPECT_EQ(ClampCentreKHz(NAN, 1000), 20000);
    const double grid[][2] = {{5000, 250}, {10000, 500}, {20000, 1000}, {40000, 2000},
                              {1000, 50},  {625, 50},    {3000, 200},   {30, 2}};
    for (const auto& [span, step] : grid)
        EXPECT_DOUBLE_EQ(SpanGridStepKHz(span), step) << span;
}

// Levels at the input add what the attenuator took away and take away the preamplifier's gain.
TEST(InputLevels, AttenuatorAndPreamp)
{
    for (int step = -1; step <= 4; ++step)
        for (const bool preamp : {false, true})
            EXPECT_EQ(InputLevelCorrectionDb(step, preamp),
                      (step >= 0 && step <= 3 ? 10.0 * step : 0.0) - (preamp ? 10.0 : 0.0));
}
