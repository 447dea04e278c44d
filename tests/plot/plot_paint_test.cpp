#include "dxHisto.h"
#include "plot_interaction_support.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

TEST(PlotPaint, RangeErrorsFillRedAndWriteTheirTextAtTheirPlaces)
{
    // X: minimum 0 on a logarithmic axis, nominal or current limits equal; Y: equal limits,
    // minimum 0 on a logarithmic axis.
    using Set = void (*)(TDXHistographInt&);
    const std::pair<bool, Set> cases[] = {
        {true, [](TDXHistographInt& h) { h.setGridScale(sclLogLin); }},
        {true, [](TDXHistographInt& h) { h.setViewXCurrentMax(h.ViewXCurrentMin()); }},
        {true, [](TDXHistographInt& h) { h.setViewXNominalMax(h.ViewXNominalMin()); }},
        {false, [](TDXHistographInt& h) { h.setViewYMax(h.ViewYMin()); }},
        {false, [](TDXHistographInt& h) {
             h.setViewYMin(0);
             h.setGridScale(sclLinLog);
         }}};
    for (const auto& [xError, set] : cases) {
        const char* what =
            xError ? "Range-Error in ViewX-Properties" : "Range-Error in ViewY-Properties";
        TDXHistographInt h;
        h.resize(300, 200);
        set(h);
        h.RenderNow();
        // Red all over, the text in the window-text colour at (10, 10) or (10, 20).
        QImage want(h.Surface().size(), QImage::Format_RGB32);
        want.fill(Qt::red);
        QPainter p(&want);
        p.setFont(h.font());
        p.setPen(QApplication::palette().color(QPalette::WindowText));
        p.drawText(10, (xError ? 10 : 20) + p.fontMetrics().ascent(), QString::fromLatin1(what));
        p.end();
        EXPECT_EQ(plottest::Differing(h.Surface(), want), 0) << what;
    }
}

// A control no larger than its gaps in one direction has no plot area: no grid, tick marks or
// labels, only the margins, the control's border and the background.
TEST(PlotPaint, NoPlotAreaLeavesOnlyTheBackground)
{
    for (const bool flat : {false, true}) {
        TDXHistographInt h;
        h.setGridVisible(grdBoth);
        h.setColor(clSilver);
        h.setBkColor(clNavy);
        h.resize(flat ? 300 : h.GapLeft() + h.GapRight(), flat ? h.GapTop() + h.GapBottom() : 200);
        h.RenderNow();
        const QRgb allowed[] = {qRgb(192, 192, 192), qRgb(240, 240, 240), qRgb(144, 144, 144),
                                qRgb(0, 0, 128)};
        const QImage& img = h.Surface();
        int drawn = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                drawn += std::count(std::begin(allowed), std::end(allowed), img.pixel(x, y)) == 0;
        EXPECT_EQ(drawn, 0) << (flat ? "flat" : "narrow");
    }
}

// The plot area's last row shows a curve: 1 on an axis of 0 .. 120 over 240 rows lies at row
// trunc(260 - 2) + 1 = 259 of the plot (20 .. 259), across it, for two samples as for many.
TEST(PlotPaint, CurvesReachTheLastRowOfThePlot)
{
    for (const int n : {321, 2, 3}) {
        TDXHistographInt h;
        plottest::Layout(h, 400, 300, 50, 20, 30, 40);
        plottest::SetY(h, 0, 120);
        plottest::SetX(h, 0, 320);
        h.setSeries({clWhite, 0, 0});
        std::vector<float> d(n, 1.0f);
        h.SetSeriesData(d.data(), n, 1);
        for (int x = 51; x < 369; ++x)
            ASSERT_EQ(h.Surface().pixel(x, 259), qRgb(255, 255, 255)) << n << " samples, " << x;
    }
}

// Curve vertices sit where each scale combination maps them, linear or logarithmic, by the axis
// rules; (X, Y) pairs at the same places as the samples that lie at those X.
TEST(PlotPaint, CurveVerticesSitWhereEachScaleCombinationMapsThem)
{
    for (const bool pairs : {false, true})
        for (TDXGrdScale scale : {sclLinLin, sclLinLog, sclLogLin, sclLogLog}) {
            TDXHistographInt h;
            h.resize(400, 300);
            plottest::SetX(h, 1, 9);
            plottest::SetY(h, 1, 1000);
            h.setGridScale(scale);
            h.setSeries({clWhite, 0, pairs ? dtDataXY : dtData});
            std::vector<float> d(9), xy;
            for (int i = 1; i <= 9; ++i) {
                d[i - 1] = std::pow(2.0f, float(i));
                xy.insert(xy.end(), {float(i), d[i - 1]});
            }
            if (pairs)
                h.SetSeriesDataXY(xy.data(), 9, 1);
            else
                h.SetSeriesData(d.data(), 9, 1);
            const bool logX = scale == sclLogLin || scale == sclLogLog;
            const bool logY = scale == sclLinLog || scale == sclLogLog;
            const int l = h.GapLeft(), t = h.GapTop(), r = 400 - h.GapRight(),
                      b = 300 - h.GapBottom();
            // Interior vertices above the bottom row (a linear level is one row below its place).
            for (int i = 4; i <= 8; ++i) {
                const int x = logX ? plottest::MapLog(1, 9, l, r)(i)
                                   : int(std::trunc((i - 1) * (r - l) / 8.0 + l));
                const int y = logY ? plottest::MapLog(1, 1000, b, t + 1, 1)(d[i - 1])
                                   : int(std::trunc((1.0 - d[i - 1]) * (b - t) / 999.0 + b)) + 1;
                EXPECT_EQ(h.Surface().pixel(x, y), qRgb(255, 255, 255))
                    << scale << " " << i << (pairs ? " pairs" : "");
            }
        }
}

// Each title is centred on its side, 10 pixels in from the edge, the side ones turned: its text
// in its own font and colour inside its rectangle (a pixel of slack), and nothing changes
// outside them.
// Fonts set before the first paint keep their weight.
TEST(PlotPaint, TitlesAreDrawnWhereTheirRectanglesSay)
{
    using T = TDXHistographInt;
    TDXHistographInt h;
    plottest::Layout(h, 400, 300, 60, 50, 60, 50);
    h.setBkColor(clWhite);
    h.RenderNow();
    QImage want = h.Surface().copy();
    QFont bold = h.FontTitleLeft();
    bold.setBold(true);
    h.setFontTitleLeft(bold);
    QFont big = h.FontTitleRight();
    big.setPixelSize(17);
    h.setFontTitleRight(big);
    const struct
    {
        T::TDXFontId Id;
        const char* Text;
        TColor Color;
    } titles[] = {{T::fiTitleTop, "Spectrum", clRed},
                  {T::fiTitleBottom, "Frequency / kHz", clBlue},
                  {T::fiTitleLeft, "Level", clGreen},
                  {T::fiTitleRight, "dBm right", clFuchsia}};
    const QFont fonts[] = {h.FontTitleTop(), h.FontTitleBottom(), bold, big};
    for (const auto& t : titles)
        h.setFontColor(t.Id, t.Color);
    h.setTitleTop(titles[0].Text);
    h.setTitleBottom(titles[1].Text);
    h.setTitleLeft(titles[2].Text);
    h.setTitleRight(titles[3].Text);
    h.RenderNow();
    for (int i = 0; i < 4; ++i) {
        const QFontMetrics fm(fonts[i]);
        const int len = fm.horizontalAdvance(titles[i].Text), thick = fm.height();
        const QRect rects[] = {QRect(200 - len / 2, 10, len, thick),
                               QRect(200 - len / 2, 300 - 10 - thick, len, thick),
                               QRect(10, 150 + len / 2 - len, thick, len),
                               QRect(400 - 10 - thick, 150 + len / 2 - len, thick, len)};
        const QRect r = h.TitleRect(titles[i].Id);
        EXPECT_EQ(r, rects[i]) << titles[i].Text;
        // Text pixels blend the title's colour into the background, channel by channel.
        const QColor c = ColorToQColor(titles[i].Color);
        const auto between = [](int v, int a, int b) {
            return v >= std::min(a, b) && v <= std::max(a, b);
        };
        int ink = 0, foreign = 0;
        for (int y = r.top() - 1; y <= r.bottom() + 1; ++y)
            for (int x = r.left() - 1; x <= r.right() + 1; ++x) {
                const QColor p = h.Surface().pixel(x, y), bg = want.pixel(x, y);
                ink += p != bg;
                foreign += !between(p.red(), c.red(), bg.red()) ||
                           !between(p.green(), c.green(), bg.green()) ||
                           !between(p.blue(), c.blue(), bg.blue());
                want.setPixel(x, y, p.rgb());
            }
        EXPECT_TRUE(ink > len && foreign == 0) << titles[i].Text;
    }
    EXPECT_EQ(plottest::Differing(h.Surface(), want), 0);
    EXPECT_TRUE(h.FontTitleLeft().bold());
}
