// The plot on a high-density screen. The program's own main sets the Qt scale factor before the
// application starts (2 unless QT_SCALE_FACTOR names another; ctest also runs it at 1.5 and
// 1.25), so the plot takes its ratio from the screen as it does in the program, and its paint
// events and grabs go through Qt's scaled path. Expected pixels come from the rules: logical
// pixel k begins at device pixel floor(k * ratio), and a line one logical pixel wide is the
// whole part of the ratio wide, at least one device pixel.

#include "dxHisto.h"
#include "plot_interaction_support.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace plottest;

namespace {

double Ratio()
{
    return qApp->devicePixelRatio();
}

int Dev(double logical)
{
    return int(std::floor(logical * Ratio() + 1e-9));
}

int Thick()
{
    return std::max(1, int(std::floor(Ratio() + 1e-9)));
}

constexpr QRgb Black = 0xFF000000u;
constexpr QRgb Gray = 0xFF808080u; // the default grid colour
constexpr QRgb Green = 0xFF00C600u;

// The main window's plot with grid steps of 10000 kHz and 20 dB, framed in silver, with a
// margin on the right so that the frame shows there too.
void GridPlot(TDXHistographInt& h)
{
    MainWindowPlot(h);
    h.setGapRight(40);
    h.setColor(0x00C0C0C0);
    h.setViewXGap(10000);
    h.setViewYGap(20);
    h.setGridVisible(grdBoth);
}

// Logical positions of the grid lines: pixel offsets of multiples of the step from the edge.
std::vector<int> GridLines(double min, double max, double gap, int length, int edge, int sign)
{
    std::vector<int> out;
    const double range = max - min;
    double v = std::trunc(min / gap) * gap;
    if (v < min)
        v += gap;
    for (; v < max; v += gap)
        out.push_back(edge + sign * (int(std::trunc(length * v / range)) -
                                     int(std::trunc(length * min / range))));
    return out;
}

std::vector<int> HorizontalGrid(const TDXHistographInt& h)
{
    const int t = h.GapTop(), b = h.height() - h.GapBottom();
    return GridLines(h.ViewYMin(), h.ViewYMax(), h.ViewYGap(), b - t, b, -1);
}

std::vector<int> VerticalGrid(const TDXHistographInt& h)
{
    const int l = h.GapLeft(), r = h.width() - h.GapRight();
    return GridLines(h.ViewXCurrentMin(), h.ViewXCurrentMax(), h.ViewXGap(), r - l - 1, l, 1);
}

} // namespace

// The surface holds the device pixels, and what reaches the screen is that surface one to one,
// for the whole control as for the thin strips interaction repaints.
TEST(PlotHighDensity, SurfaceReachesTheScreenPixelForPixel)
{
    ASSERT_GT(Ratio(), 1.0) << "run with QT_SCALE_FACTOR above 1";
    TDXHistograph h, twin;
    ExpectInteractionsReachTheScreen(h, twin, sclLinLin);
}

// Grid lines are whole device pixels, one logical pixel wide, at their logical positions times
// the ratio; no pixel of the plot area holds a blend. A dotted grid stays inside the same rows.
TEST(PlotHighDensity, LinesAreOneLogicalPixelWideWithoutBlur)
{
    const int w = Thick();
    for (TPenStyle style : {psSolid, psDot}) {
        SCOPED_TRACE(style);
        TDXHistograph h;
        GridPlot(h);
        h.setGridLineStyle(style);
        h.RenderNow();
        const QImage& s = h.Surface();
        const int l = h.GapLeft(), t = h.GapTop(), r = h.width() - h.GapRight(),
                  b = h.height() - h.GapBottom();
        const std::vector<int> rows = HorizontalGrid(h), columns = VerticalGrid(h);
        ASSERT_GE(rows.size(), 7u);
        ASSERT_GE(columns.size(), 4u);
        // Only black and grid grey in the plot area.
        int blends = 0, gridPixels = 0;
        for (int y = Dev(t); y < Dev(b); ++y)
            for (int x = Dev(l); x < Dev(r); ++x) {
                const QRgb c = s.pixel(x, y);
                blends += c != Black && c != Gray;
                gridPixels += c == Gray;
            }
        EXPECT_EQ(blends, 0);
        // Every grey pixel lies on a line's device band.
        auto onRow = [&](int y) {
            return std::any_of(rows.begin(), rows.end(),
                               [&](int g) { return y >= Dev(g) && y < Dev(g) + w; });
        };
        auto onColumn = [&](int x) {
            return std::any_of(columns.begin(), columns.end(),
                               [&](int g) { return x >= Dev(g) && x < Dev(g) + w; });
        };
        int astray = 0;
        for (int y = Dev(t); y < Dev(b); ++y)
            for (int x = Dev(l); x < Dev(r); ++x)
                astray += s.pixel(x, y) == Gray && !onRow(y) && !onColumn(x);
        EXPECT_EQ(astray, 0);
        EXPECT_GT(gridPixels, 0);
    }
}

// A hair cross is two lines one logical pixel wide at the snapped point's logical pixel; its
// pixels are inverted once (twice where the lines meet), and drawing it again erases it to the
// pixel.
TEST(PlotHighDensity, CrossIsInvertedOneLogicalPixelWideAndErasesExactly)
{
    TDXHistograph h;
    GridPlot(h);
    auto data = Noise(4096, 3, -120, -40);
    h.SetSeriesData(data.data(), 4096, 1);
    h.RenderNow();
    const QImage clean = h.Surface().copy();
    std::vector<CrossEvent> events;
    Record(h, events);
    const int w = Thick();
    const int l = h.GapLeft(), t = h.GapTop(), r = h.width() - h.GapRight(),
              b = h.height() - h.GapBottom();
    for (const QPoint& at : {QPoint(300, 100), QPoint(611, 57), QPoint(75, 200)}) {
        Move(h, at.x(), at.y());
        ASSERT_FALSE(events.empty());
        const CrossEvent& e = events.back();
        const int px = int(std::trunc((double(e.X) - 0.0) * (r - l) / 40000.0 + l));
        const int py = int(std::trunc((double(h.ViewYMin()) - e.Y) * (b - t) /
                                          (double(h.ViewYMax()) - h.ViewYMin()) +
                                      b)) +
                       1;
        const QImage& s = h.Surface();
        int wrong = 0;
        for (int y = 0; y < s.height(); ++y)
            for (int x = 0; x < s.width(); ++x) {
                const bool onH = t < py && py < b && y >= Dev(py) && y < Dev(py) + w &&
                                 x >= Dev(l) && x < Dev(r);
                const bool onV = l < px && px < r && x >= Dev(px) && x < Dev(px) + w &&
                                 y >= Dev(t) && y < Dev(b);
                const QRgb c = clean.pixel(x, y);
                const QRgb want = onH != onV ? 0xFF000000u | (~(c ^ Green) & 0xFFFFFFu) : c;
                wrong += s.pixel(x, y) != want;
            }
        EXPECT_EQ(wrong, 0) << at.x() << "," << at.y();
    }
    Leave(h);
    EXPECT_EQ(Differing(h.Surface(), clean), 0);
}

// A reference curve being bent is drawn inverted inside the strip of its samples: moving to the
// same place again leaves every device pixel as it was (the old curve erased exactly, the new
// one drawn alike), and nothing outside the strip and the value box changes.
TEST(PlotHighDensity, BentCurveIsInvertedInsideItsStripAndErasesExactly)
{
    TDXHistograph h;
    GridPlot(h);
    h.setSeriesStyle(dtUpperRef);
    auto ref = Noise(785, 4, -90, -70);
    h.SetSeriesData(ref.data(), 785, 1);
    h.setMode(modeUpperRef);
    h.setShowValues(false);
    h.RenderNow();
    const QImage clean = h.Surface().copy();
    Press(h, Qt::LeftButton, 300, 120);
    ASSERT_TRUE(h.RefDragActive());
    Move(h, 300, 90, Qt::LeftButton);
    const QImage bent = h.Surface().copy();
    Move(h, 300, 60, Qt::LeftButton);
    Move(h, 300, 90, Qt::LeftButton);
    EXPECT_EQ(Differing(h.Surface(), bent), 0);
    // 30 samples around the grabbed one, one logical pixel per sample here.
    const QRect strip(QPoint(Dev(300 - 16), Dev(h.GapTop())),
                      QPoint(Dev(300 + 16) - 1, Dev(h.height() - h.GapBottom()) - 1));
    int outside = 0, inside = 0;
    for (int y = 0; y < clean.height(); ++y)
        for (int x = 0; x < clean.width(); ++x)
            if (bent.pixel(x, y) != clean.pixel(x, y))
                (strip.contains(x, y) ? inside : outside)++;
    EXPECT_EQ(outside, 0);
    EXPECT_GT(inside, 0);
    Release(h, Qt::LeftButton, 300, 90);
}

// A picture of the surface that someone keeps (the copy and the grab share its pixels until
// either changes) is never drawn into: text and lines go to the plot's own pixels.
TEST(PlotHighDensity, AKeptPictureOfTheSurfaceStaysAsItWas)
{
    TDXHistograph h;
    GridPlot(h);
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
        const qreal want = ratio > 0 ? ratio : Ratio();
        EXPECT_EQ(h.SurfaceRatio(), want);
        EXPECT_EQ(h.Surface().devicePixelRatio(), want);
        EXPECT_EQ(h.Surface().size(),
                  QSize(int(std::lround(845 * want)), int(std::lround(248 * want))));
        // With no gap on the right the plot area reaches the surface's last device column.
        EXPECT_EQ(h.Surface().pixel(h.Surface().width() - 1, int(std::floor(15 * want))), Black);
        // The frame's dark bottom line, its last pixel at the control's last logical pixel.
        const auto at = [&](int k) { return int(std::floor(k * want + 1e-9)); };
        EXPECT_EQ(h.Surface().pixel(at(844), at(247)) & 0xFFFFFF,
                  ColorToQColor(ScaleColor(h.Color(), 0.75)).rgb() & 0xFFFFFF);
    }
}
