// The plot on a high-density screen. The program's own main sets the Qt scale factor before the
// application starts (2 unless QT_SCALE_FACTOR names another; ctest also runs it at 1.5 and
// 1.25), so the plot takes its ratio from the screen as it does in the program, and its paint
// events and grabs go through Qt's scaled path. Expected pixels come from the rules: logical
// pixel k begins at device pixel floor(k * ratio).

#include "dxHisto.h"
#include "plot_interaction_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace plottest;

// The surface holds the device pixels, and what reaches the screen is that surface one to one,
// for the whole control as for the thin strips interaction repaints.
TEST(PlotHighDensity, SurfaceReachesTheScreenPixelForPixel)
{
    ASSERT_GT(qApp->devicePixelRatio(), 1.0) << "run with QT_SCALE_FACTOR above 1";
    TDXHistograph h, twin;
    ExpectInteractionsReachTheScreen(h, twin, sclLinLin);
}

// A picture of the surface that someone keeps (the copy and the grab share its pixels until
// either changes) is never drawn into: text and lines go to the plot's own pixels.
TEST(PlotHighDensity, AKeptPictureOfTheSurfaceStaysAsItWas)
{
    TDXHistograph h;
    MainWindowPlot(h);
    h.setGridVisible(grdBoth);
    h.setGapTop(40);
    h.setTitleTop("First");
    h.RenderNow();
    const QImage kept = h.Surface();
    const QImage deep = kept.copy();
    h.setTitleTop("Second, longer");
    h.RenderNow();
    auto data = Noise(4096, 30, -120, -40);
    h.SetSeriesData(data.data(), 4096, 1);
    EXPECT_TRUE(kept == deep);
    EXPECT_FALSE(h.Surface() == deep);
}

// A ratio set on the control draws at that ratio whatever the screen; 0 follows the screen
// again. Each change of ratio draws the whole control anew.
TEST(PlotHighDensity, ASetRatioOverridesTheScreen)
{
    TDXHistograph h;
    MainWindowPlot(h);
    auto data = Noise(4096, 9, -120, -40);
    h.SetSeriesData(data.data(), 4096, 1);
    for (qreal ratio : {1.0, 1.5, 3.0, 0.0}) {
        h.SetSurfaceRatio(ratio);
        EXPECT_TRUE(h.RepaintPending() || ratio == 0.0);
        h.SetSeriesData(data.data(), 4096, 1);
        const qreal want = ratio > 0 ? ratio : qApp->devicePixelRatio();
        EXPECT_EQ(h.SurfaceRatio(), want);
        EXPECT_EQ(h.Surface().devicePixelRatio(), want);
        EXPECT_EQ(h.Surface().size(),
                  QSize(int(std::lround(845 * want)), int(std::lround(248 * want))));
        // With no gap on the right the plot area reaches the surface's last device column.
        EXPECT_EQ(h.Surface().pixel(h.Surface().width() - 1, int(std::floor(15 * want))),
                  0xFF000000u);
    }
}
