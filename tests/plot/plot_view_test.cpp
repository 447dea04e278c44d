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
    std::vector<float> data; // the plot keeps a pointer to it
    void SetUp() override
    {
        h.resize(400, 300);
        h.setViewYMin(-140);
        h.setViewYMax(0);
        h.setViewYGap(10);
        h.RenderNow();
    }
    void Show(std::vector<float> d)
    {
        data = std::move(d);
        h.SetSeriesData(data.data(), int(data.size()), 1);
    }
    void ExpectView(float min, float max, float gap)
    {
        EXPECT_NEAR(h.ViewYMin(), min, 1e-6);
        EXPECT_NEAR(h.ViewYMax(), max, 1e-6);
        EXPECT_NEAR(h.ViewYGap(), gap, 1e-7);
    }
};

} // namespace

TEST_F(ScaledPlot, ScaleOnceScalesWithoutSwitchingAutoScaleOn)
{
    Show(Ramp(0.2f, 0.5f));
    h.ScaleOnce();
    EXPECT_FALSE(h.AutoScale());
    ExpectView(0.1f, 0.6f, 0.125f);
}

TEST_F(ScaledPlot, MinimumSetWhileScalingWinsAndAnEmptySeriesCountsAsZero)
{
    Show(Ramp(-130, -60));
    h.setViewYMax(-100);
    h.setAutoScale(true); // scales to -145 .. -45, step 25
    h.setViewYMax(-100);
    h.setViewYMin(-150);
    ExpectView(-150, -45, 25);
    // An empty second series pulls the range to zero.
    h.setSeriesNumber(2);
    ASSERT_TRUE(h.ComputeAutoScale());
    ExpectView(-165, 35, 50);
}

TEST_F(ScaledPlot, LogarithmicAxesRepairLimitsOnlyWhileScalingAndKeepAZeroRangeView)
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

    // A zero data range on a logarithmic Y axis keeps the view.
    h.setAutoScale(false);
    Show(Ramp(5, 5));
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
