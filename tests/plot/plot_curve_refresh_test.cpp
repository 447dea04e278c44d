// New data on an unchanged plot puts back only the old curves' pixels and draws the new curves:
// the result must be, pixel for pixel, what drawing everything anew gives.

#include "dxColumnSpans.h"
#include "dxHisto.h"
#include "plot_interaction_support.h"

#include <gtest/gtest.h>

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
            // Two curves per frame, the second a free one now and then.
            for (int n = 0; n < 2; ++n) {
                const auto c = Curve(rng, n == 1 && (round + frame) % 3 == 0);
                sweep.Polyline(screen.Target(area), c.data(), int(c.size()), ink + n);
                dxplot::DrawPolyline(fresh.Target(area), c.data(), int(c.size()), ink + n);
            }
            sweep.Finish();
            ASSERT_EQ(screen.px, fresh.px) << "round " << round << " frame " << frame;
            std::swap(previous, next);
        }
    }
}

namespace {

std::vector<float> Frame(std::mt19937& rng, int n, int kind)
{
    std::normal_distribution<float> noise(-100.0f, 6.0f);
    std::vector<float> d(n);
    for (int i = 0; i < n; ++i)
        d[i] = noise(rng) + (i % 61 == 0 ? 50.0f : 0.0f);
    // Now and then levels beyond the view, far beyond it, and a gap of no number.
    if (kind == 1) {
        d[n / 3] = 20.0f;
        d[n / 2] = -1e30f;
        d[n / 2 + 1] = 1e30f;
    }
    if (kind == 2)
        d[n / 4] = std::nanf("");
    return d;
}

// Two plots alike: one gets the frames through RefreshData, the other draws each anew.
void ExpectRefreshesLikeFullRenders(TDXHistographInt& h, TDXHistographInt& full,
                                    const std::function<void(TDXHistographInt&)>& setup)
{
    for (TDXHistographInt* p : {&h, &full})
        setup(*p);
    std::mt19937 rng(5);
    std::vector<float> reference(300);
    for (int i = 0; i < 300; ++i)
        reference[i] = -60.0f - 30.0f * std::sin(i * 0.05f);
    std::vector<std::vector<float>> frames;
    int curvesOnly = 0;
    for (int f = 0; f < 24; ++f) {
        const int n = f % 8 == 5 ? 300 : 4096; // not decimated now and then
        frames.push_back(Frame(rng, n, f % 4));
        for (TDXHistographInt* p : {&h, &full}) {
            if (f == 0)
                p->SetSeriesData(reference.data(), 300, 2);
            if (f == 7)
                Move(*p, 320, 120);
            if (f == 15)
                Move(*p, 180, 60);
            if (f == 19)
                Leave(*p);
            p->SetSeriesData(frames.back().data(), n, 1);
        }
        curvesOnly += h.RefreshedCurvesOnly();
        full.RenderNow();
        ASSERT_TRUE(h.Surface() == full.Surface()) << "frame " << f;
    }
    EXPECT_GE(curvesOnly, 20);
}

} // namespace

// Decimated and plain curves, levels beyond the view, a reference curve, a hair cross placed,
// moved and taken away: each refresh equals a full render, at linear and logarithmic scales.
TEST(PlotRefresh, CurvesOnlyRefreshesEqualFullRenders)
{
    for (TDXGrdScale scale : {sclLinLin, sclLogLog}) {
        SCOPED_TRACE(scale);
        TDXHistograph h, full;
        ExpectRefreshesLikeFullRenders(h, full, [scale](TDXHistographInt& p) {
            MainWindowPlot(p);
            p.setGridVisible(grdBoth);
            p.setTitleTop("Reaches into the plot area");
            p.setSeriesNumber(2);
            p.setSeriesCurrent(2);
            p.setSeriesStyle(dtUpperRef);
            p.setSeriesColor(0x0000FFFF);
            if (scale == sclLogLog) {
                SetX(p, 10, 40000);
                SetY(p, 1e-14f, 1.0f);
            }
            p.setGridScale(scale);
        });
    }
}

// What the curves-only refresh cannot bound takes the full repaint of the plot area: a styled
// pen, a handler drawing after the paint, a zoom band being dragged.
TEST(PlotRefresh, FallsBackToTheFullPlotAreaWhereItMust)
{
    TDXHistograph h;
    MainWindowPlot(h);
    std::mt19937 rng(9);
    auto a = Frame(rng, 4096, 0), b = Frame(rng, 4096, 0);
    h.SetSeriesData(a.data(), 4096, 1);
    h.RenderNow();
    h.SetSeriesData(b.data(), 4096, 1);
    EXPECT_TRUE(h.RefreshedCurvesOnly());

    h.setSeriesLineStyle(psDash);
    h.RenderNow();
    h.SetSeriesData(a.data(), 4096, 1);
    EXPECT_FALSE(h.RefreshedCurvesOnly());
    h.setSeriesLineStyle(psSolid);

    h.OnAfterPaint = [](QObject*, QPainter&, bool) {};
    h.RenderNow();
    h.SetSeriesData(b.data(), 4096, 1);
    EXPECT_FALSE(h.RefreshedCurvesOnly());
    h.OnAfterPaint = nullptr;

    h.setMode(modeZoom);
    h.RenderNow();
    Press(h, Qt::LeftButton, 100, 40);
    Move(h, 300, 150, Qt::LeftButton);
    const QImage banded = h.Surface().copy();
    h.SetSeriesData(a.data(), 4096, 1);
    EXPECT_FALSE(h.RefreshedCurvesOnly());
    // The band is still there, drawn anew over the new curve.
    Move(h, 100, 40, Qt::LeftButton);
    TDXHistograph clean;
    MainWindowPlot(clean);
    clean.setMode(modeZoom);
    clean.SetSeriesData(a.data(), 4096, 1);
    clean.RenderNow();
    EXPECT_TRUE(h.Surface() == clean.Surface());
    EXPECT_FALSE(banded == clean.Surface());
}
