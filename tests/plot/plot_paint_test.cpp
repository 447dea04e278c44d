#include "dxCanvas.h"
#include "dxDeviceScale.h"
#include "dxHisto.h"
#include "dxRaster.h"
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

// On a denser surface a line along an axis covers the device pixels of its logical pixels, from
// the first one towards the end one (left out), in either direction, the whole part of the
// ratio wide.
TEST(PlotCanvas, AxisLinesCoverTheDevicePixelsOfTheirLogicalPixelsEitherWay)
{
    for (const double ratio : {1.5, 2.0, 3.0}) {
        const auto scale = dxplot::DeviceScale::For(40, 40, ratio);
        QImage img(scale.DeviceWidth, scale.DeviceHeight, QImage::Format_RGB32);
        img.fill(Qt::black);
        TDXCanvas canvas(img, scale, QRect(0, 0, 40, 40));
        canvas.Line(10, 30, 10, 5, clWhite, psSolid); // up: rows 6 .. 30
        canvas.Line(20, 5, 20, 30, clWhite, psSolid); // down: rows 5 .. 29
        canvas.Line(35, 2, 5, 2, clWhite, psSolid);   // left: columns 6 .. 35
        canvas.Line(5, 37, 35, 37, clWhite, psSolid); // right: columns 5 .. 34
        const auto dev = [ratio](int k) { return int(std::floor(k * ratio)); };
        const int w = int(std::floor(ratio));
        const auto in = [&](int d, int fromLogical, int toLogical) {
            return d >= dev(fromLogical) && d < dev(toLogical + 1);
        };
        int wrong = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const bool white = (x >= dev(10) && x < dev(10) + w && in(y, 6, 30)) ||
                                   (x >= dev(20) && x < dev(20) + w && in(y, 5, 29)) ||
                                   (y >= dev(2) && y < dev(2) + w && in(x, 6, 35)) ||
                                   (y >= dev(37) && y < dev(37) + w && in(x, 5, 34));
                wrong += (img.pixel(x, y) == qRgb(255, 255, 255)) != white;
            }
        EXPECT_EQ(wrong, 0) << ratio;

        // A slanted line is w copies of the one-pixel line between the device pixels of its
        // ends, side by side across its minor axis (rows when as wide as high); the inverting pen
        // erases them again.
        for (const QLine l : {QLine(3, 4, 36, 15), QLine(30, 36, 22, 3), QLine(4, 30, 24, 10)}) {
            img.fill(Qt::black);
            QImage want = img.copy();
            canvas.SetNotXor(true);
            canvas.Line(l.x1(), l.y1(), l.x2(), l.y2(), clBlack, psSolid);
            const bool shallow = std::abs(l.dx()) >= std::abs(l.dy());
            for (int n = 0; n < w; ++n)
                dxplot::DrawLine({reinterpret_cast<std::uint32_t*>(want.bits()), want.width(), 0, 0,
                                  want.width(), want.height()},
                                 dev(l.x1()) + n * !shallow, dev(l.y1()) + n * shallow,
                                 dev(l.x2()) + n * !shallow, dev(l.y2()) + n * shallow,
                                 0xFFFFFFFFu);
            EXPECT_EQ(plottest::Differing(img, want), 0) << ratio << " " << l.x1();
            canvas.Line(l.x1(), l.y1(), l.x2(), l.y2(), clBlack, psSolid);
            canvas.SetNotXor(false);
            want.fill(Qt::black);
            EXPECT_EQ(plottest::Differing(img, want), 0) << ratio << " " << l.x1();
        }
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

// Each title is centred on its side, 10 pixels in from the edge: top and bottom ones level,
// the left one running upward, the right one downward, each in its own font and colour, and
// nothing else changes. Fonts set before the first paint keep their weight.
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
        QColor Ink;
    } titles[] = {{T::fiTitleTop, "Spectrum", clRed, Qt::red},
                  {T::fiTitleBottom, "Frequency / kHz", clBlue, Qt::blue},
                  {T::fiTitleLeft, "Level", clGreen, QColor(0, 128, 0)},
                  {T::fiTitleRight, "dBm right", clFuchsia, Qt::magenta}};
    const QFont fonts[] = {h.FontTitleTop(), h.FontTitleBottom(), bold, big};
    for (const auto& t : titles)
        h.setFontColor(t.Id, t.Color);
    h.setTitleTop(titles[0].Text);
    h.setTitleBottom(titles[1].Text);
    h.setTitleLeft(titles[2].Text);
    h.setTitleRight(titles[3].Text);
    h.RenderNow();
    QPainter p(&want);
    for (int i = 0; i < 4; ++i) {
        const QFontMetrics fm(fonts[i]);
        const QString text = titles[i].Text;
        const int len = fm.horizontalAdvance(text), thick = fm.height();
        const QRect rects[] = {QRect(200 - len / 2, 10, len, thick),
                               QRect(200 - len / 2, 300 - 10 - thick, len, thick),
                               QRect(10, 150 + len / 2 - len, thick, len),
                               QRect(400 - 10 - thick, 150 + len / 2 - len, thick, len)};
        EXPECT_EQ(h.TitleRect(titles[i].Id), rects[i]) << text.toStdString();
        p.save();
        p.setFont(fonts[i]);
        p.setPen(titles[i].Ink);
        // The left title runs upward from its bottom end, the right one downward from its top.
        p.translate(i < 2 ? rects[i].topLeft()
                          : QPoint(i == 2 ? 10 : 390, i == 2 ? 150 + len / 2 : 150 - len / 2));
        p.rotate(i < 2 ? 0 : i == 2 ? -90 : 90);
        p.drawText(0, fm.ascent(), text);
        p.restore();
    }
    p.end();
    EXPECT_EQ(plottest::Differing(h.Surface(), want), 0);
    EXPECT_TRUE(h.FontTitleLeft().bold());
}
