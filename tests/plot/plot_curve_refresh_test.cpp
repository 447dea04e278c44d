// New data on an unchanged plot puts back only the old curves' pixels and draws the new curves:
// the result must be, pixel for pixel, what drawing everything anew gives.

#include "dxColumnSpans.h"
#include "dxHisto.h"
#include "plot_interaction_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace plottest;

namespace {

constexpr int W = 90;
constexpr int H = 70;

struct Pixels
{
    std::vector<std::uint32_t> px = std::vector<std::uint32_t>(W * H);
    dxplot::RasterTarget Target(const QRect& clip)
    {
        return dxplot::RasterTarget{px.data(),        W, clip.left(), clip.top(), clip.right() + 1,
                                    clip.bottom() + 1};
    }
};

// A background with a few columns and rows of their own, as grid lines and a title make.
Pixels Background(std::mt19937& rng)
{
    Pixels b;
    std::uniform_int_distribution<int> any(0, 9);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            b.px[y * W + x] = 0xFF000000u | (y % 11 == 0 ? 0x808080u : 0u);
    std::uniform_int_distribution<int> column(0, W - 1), row(0, H - 1);
    for (int n = 0; n < 6; ++n) {
        const int x = column(rng);
        for (int y = 0; y < H; ++y)
            b.px[y * W + x] = 0xFF000000u | std::uint32_t(any(rng) * 0x111111);
    }
    // Columns that differ from the others in one pixel only (a dot of a glyph).
    for (int n = 0; n < 4; ++n)
        b.px[row(rng) * W + column(rng)] = 0xFFFFFFFFu;
    return b;
}

// A curve as the plot's decimation makes it (vertical runs joined by one-column steps), or a
// free polyline with far points and backward steps, as pairs of values make.
std::vector<dxplot::Point> Curve(std::mt19937& rng, bool free)
{
    std::vector<dxplot::Point> p;
    std::uniform_int_distribution<int> row(-20, H + 20), col(-30, W + 30), coin(0, 9);
    if (free) {
        for (int i = 0; i < 12; ++i)
            p.push_back(
                {coin(rng) == 0 ? -3000000 : col(rng), coin(rng) == 0 ? 3000000 : row(rng)});
        return p;
    }
    for (int x = -2; x < W + 2; ++x) {
        p.push_back({x, row(rng)});
        p.push_back({x, row(rng)});
    }
    return p;
}

} // namespace

// The span of a column, and those of a step of one column over more than one row, hold the
// pixels the line drawing puts there and no more: a new frame puts back no pixel in vain, and
// none outside the clip it is given.
TEST(ColumnSpans, ColumnsAndOneColumnStepsSpanExactlyTheirPixels)
{
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> col(1, W - 2), row(0, H - 1), step(-1, 1), inset(0, 3);
    Pixels white;
    std::fill(white.px.begin(), white.px.end(), 0xFFFFFFFFu);
    dxplot::ColumnBackground background;
    background.Keep(white.px.data(), W, 0, 0, W, H);
    for (int k = 0; k < 500; ++k) {
        const int x0 = col(rng), y0 = row(rng), x1 = x0 + step(rng), y1 = row(rng);
        if (x1 != x0 && std::abs(y1 - y0) <= 1)
            continue; // a diagonal pixel pair or a row: its bounding box is taken
        const QRect clip =
            QRect(0, 0, W, H).adjusted(inset(rng), inset(rng), -inset(rng), -inset(rng));
        Pixels drawn, restored;
        dxplot::DrawLine(drawn.Target(clip), x0, y0, x1, y1, 0xFFFFFFFFu);
        if (clip.contains(x1, y1))
            drawn.px[y1 * W + x1] = 0xFFFFFFFFu; // the end pixel, which the line leaves out
        dxplot::ColumnSpans spans;
        spans.Reset(0, W);
        spans.AddLine(x0, y0, x1, y1);
        spans.Restore(restored.Target(clip), background);
        ASSERT_EQ(restored.px, drawn.px) << x0 << "," << y0 << " to " << x1 << "," << y1;
    }
    // A background one column wide is kept as it is.
    Pixels ramp;
    for (int i = 0; i < W * H; ++i)
        ramp.px[i] = std::uint32_t(i);
    background.Keep(ramp.px.data(), W, 5, 2, 1, 3);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(background.Column(5)[y], std::uint32_t((2 + y) * W + 5));
}

TEST(CurveSweep, DrawingOverOldCurvesGivesWhatAFreshDrawingGives)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        const Pixels background = Background(rng);
        // The plot area inside the pixels, as a clip.
        const QRect area(3 + round % 5, 2 + round % 3, W - 9, H - 7);
        dxplot::ColumnBackground kept;
        kept.Keep(background.px.data(), W, area.left(), area.top(), area.width(), area.height());
        for (int x = area.left(); x <= area.right(); ++x)
            for (int y = area.top(); y <= area.bottom(); ++y)
                ASSERT_EQ(kept.Column(x)[y - area.top()], background.px[y * W + x])
                    << x << "," << y;

        // The first frame drawn plainly and recorded, then frames drawn over it.
        Pixels screen = background;
        dxplot::ColumnSpans previous, next;
        previous.Reset(area.left(), area.width());
        const std::uint32_t ink = 0xFF00C600u;
        for (int n = 0; n < 2; ++n) {
            const auto c = Curve(rng, n == 1 && round % 2 == 0);
            dxplot::DrawPolyline(screen.Target(area), c.data(), int(c.size()), ink);
            previous.AddPolyline(c.data(), int(c.size()));
        }
        for (int frame = 0; frame < 3; ++frame) {
            next.Reset(area.left(), area.width());
            dxplot::CurveSweep sweep(previous, next, screen.Target(area), kept);
            Pixels fresh = background;
            dxplot::ColumnSpans recorded;
            recorded.Reset(area.left(), area.width());
            // Two curves per frame, the second a free one now and then.
            for (int n = 0; n < 2; ++n) {
                const auto c = Curve(rng, n == 1 && (round + frame) % 3 == 0);
                sweep.Polyline(screen.Target(area), c.data(), int(c.size()), ink + n);
                dxplot::DrawPolyline(fresh.Target(area), c.data(), int(c.size()), ink + n);
                recorded.AddPolyline(c.data(), int(c.size()));
            }
            sweep.Finish();
            ASSERT_EQ(screen.px, fresh.px) << "round " << round << " frame " << frame;
            // The sweep notes for the next frame the spans that recording the curves gives.
            Pixels swept, plain;
            next.Restore(swept.Target(area), kept);
            recorded.Restore(plain.Target(area), kept);
            ASSERT_EQ(swept.px, plain.px) << "round " << round << " frame " << frame;
            std::swap(previous, next);
        }
    }
}

// What the curves-only refresh cannot bound takes the full repaint of the plot area: a styled
// pen, a handler drawing after the paint.
TEST(PlotRefresh, FallsBackToTheFullPlotAreaWhereItMust)
{
    TDXHistograph h;
    MainWindowPlot(h);
    auto a = Noise(4096, 1, -130, -50), b = Noise(4096, 2, -130, -50);
    h.SetSeriesData(a.data(), 4096, 1);
    h.RenderNow();
    h.SetSeriesData(b.data(), 4096, 1);
    EXPECT_TRUE(h.RefreshedCurvesOnly());

    h.setSeriesLineStyle(psDash);
    h.RenderNow();
    h.SetSeriesData(a.data(), 4096, 1);
    EXPECT_FALSE(h.RefreshedCurvesOnly());
    h.setSeriesLineStyle(psSolid);

    int drawn = 0;
    h.OnAfterPaint = [&drawn](QObject*, QPainter&, bool) { ++drawn; };
    h.RenderNow();
    h.SetSeriesData(b.data(), 4096, 1);
    EXPECT_FALSE(h.RefreshedCurvesOnly());
    EXPECT_EQ(drawn, 2);
    h.OnAfterPaint = nullptr;
}

TEST(PlotRefresh, EveryInteractionReachesTheScreenAsAFullRender)
{
    for (TDXGrdScale scale : {sclLinLin, sclLogLog}) {
        SCOPED_TRACE(scale);
        TDXHistograph h, twin;
        ExpectInteractionsReachTheScreen(h, twin, scale);
    }
}
