#include "dxHistoInt.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<float> Ramp(float from, float to, int n = 100)
{
    std::vector<float> v(n);
    for (int i = 0; i < n; ++i)
        v[i] = from + (to - from) * i / (n - 1);
    return v;
}

struct ScaledPlot : ::testing::Test
{
    TDXHistographInt h;
    void SetUp() override
    {
        h.resize(400, 300);
        h.setViewYMin(-140);
        h.setViewYMax(0);
        h.setViewYGap(10);
        h.RenderNow();
    }
};

} // namespace

TEST_F(ScaledPlot, DataFillingEnoughOfTheViewLeavesItAlone)
{
    auto d = Ramp(-130, -60);
    h.SetSeriesData(d.data(), 100, 1);
    h.setAutoScale(true);
    EXPECT_EQ(h.ViewYMin(), -140.0f);
    EXPECT_EQ(h.ViewYMax(), 0.0f);
    auto flat = Ramp(-80, -80);
    h.SetSeriesData(flat.data(), 100, 1);
    EXPECT_EQ(h.ViewYMin(), -140.0f);
    EXPECT_EQ(h.ViewYGap(), 10.0f);
}

TEST_F(ScaledPlot, NarrowDataGetsACentredRoundedViewAndAFullRepaint)
{
    h.setAutoScale(true);
    auto d = Ramp(-100, -99.5f);
    h.SetSeriesData(d.data(), 100, 1);
    EXPECT_FLOAT_EQ(h.ViewYMin(), -100);
    EXPECT_FLOAT_EQ(h.ViewYMax(), -99.5f);
    EXPECT_FLOAT_EQ(h.ViewYGap(), 0.125f);
    EXPECT_TRUE(h.RepaintPending());
}

TEST_F(ScaledPlot, AnEmptySecondSeriesPullsTheRangeToZero)
{
    h.setSeriesNumber(2);
    h.setViewYMax(-100);
    auto d = Ramp(-130, -60);
    h.SetSeriesData(d.data(), 100, 1);
    ASSERT_TRUE(h.ComputeAutoScale());
    EXPECT_FLOAT_EQ(h.ViewYMin(), -165);
    EXPECT_FLOAT_EQ(h.ViewYMax(), 35);
    EXPECT_FLOAT_EQ(h.ViewYGap(), 50);
}

TEST_F(ScaledPlot, MinimumSetWhileScalingWinsOverTheScaledOne)
{
    auto d = Ramp(-130, -60);
    h.SetSeriesData(d.data(), 100, 1);
    h.setViewYMax(-100);
    h.setAutoScale(true); // scales to -145 .. -45, step 25
    h.setViewYMax(-100);
    h.setViewYMin(-150);
    EXPECT_EQ(h.ViewYMin(), -150.0f);
    EXPECT_FLOAT_EQ(h.ViewYMax(), -45);
    EXPECT_FLOAT_EQ(h.ViewYGap(), 25);
}

TEST_F(ScaledPlot, ScaleOnceScalesWithoutSwitchingAutoScaleOn)
{
    auto d = Ramp(0.2f, 0.5f);
    h.SetSeriesData(d.data(), 100, 1);
    h.ScaleOnce();
    EXPECT_FALSE(h.AutoScale());
    EXPECT_NEAR(h.ViewYMin(), 0.1f, 1e-6);
    EXPECT_NEAR(h.ViewYMax(), 0.6f, 1e-6);
    EXPECT_NEAR(h.ViewYGap(), 0.125f, 1e-7);
}

TEST_F(ScaledPlot, LogarithmicAxesRepairNonPositiveLimitsOnlyWhileScaling)
{
    h.setViewXCurrentMin(0);
    h.setGridScale(sclLogLin);
    h.RenderNow();
    EXPECT_EQ(h.ViewXCurrentMin(), 0.0f);

    h.setAutoScale(true);
    h.setViewXCurrentMax(1000);
    EXPECT_FLOAT_EQ(h.ViewXCurrentMin(), 10);
    h.setViewXCurrentMin(-5);
    EXPECT_FLOAT_EQ(h.ViewXCurrentMin(), 10);
}

TEST_F(ScaledPlot, ZeroRangeOnALogarithmicAxisKeepsTheView)
{
    auto flat = Ramp(5, 5);
    h.SetSeriesData(flat.data(), 100, 1);
    h.setGridScale(sclLinLog);
    h.setViewYMin(-1);
    h.setViewYMax(10);
    EXPECT_FALSE(h.ComputeAutoScale());
    EXPECT_EQ(h.ViewYMin(), -1.0f);
    EXPECT_EQ(h.ViewYMax(), 10.0f);
    // Painting with scaling on repairs the limit instead of failing the range check.
    h.setAutoScale(true);
    h.RenderNow();
    EXPECT_FLOAT_EQ(h.ViewYMin(), 0.1f);
}

TEST_F(ScaledPlot, SeriesMinMaxCoversAllValuesOrZeroWhenEmpty)
{
    float lo = 1, hi = 1;
    h.GetSeriesMinMax(1, lo, hi);
    EXPECT_EQ(lo, 0.0f);
    EXPECT_EQ(hi, 0.0f);
    std::vector<float> d = {3, -7, 12, 0.5f};
    h.SetSeriesData(d.data(), 4, 1);
    h.GetSeriesMinMax(1, lo, hi);
    EXPECT_EQ(lo, -7.0f);
    EXPECT_EQ(hi, 12.0f);
}
