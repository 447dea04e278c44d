#include "dxColorhis.h"
#include "plot_interaction_support.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QFontMetrics>
#include <QMimeData>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr TColor Curve1 = 0x00C600, Curve2 = 0x0000C0, Grid = 0x123456, Back = 0x101010,
                 Margin = 0x607080, Dragged = clFuchsia;

// A 400 x 300 plot with the default gaps: plot area x 70..360, y 40..240 (PlotW 290,
// PlotH 200); samples one pixel apart so a curve's points sit on whole pixels.
struct DragPlot
{
    TDXHistographInt h;
    std::vector<float> flat1 = std::vector<float>(291, 5.0f);
    std::vector<float> flat2 = std::vector<float>(291, 2.0f);
    std::unique_ptr<QMimeData> colour = ColorMimeData(Dragged);

    DragPlot()
    {
        h.resize(400, 300);
        plottest::SetX(h, 0, 290);
        plottest::SetY(h, 0, 10);
        h.setGridColor(Grid);
        h.setBkColor(Back);
        h.setColor(Margin);
        h.setSeriesColor(Curve1);
    }
    void TwoCurves()
    {
        h.setSeriesNumber(2);
        h.setSeriesCurrent(2);
        h.setSeriesColor(Curve2);
        h.SetSeriesData(flat1.data(), 291, 1);
        h.SetSeriesData(flat2.data(), 291, 2);
    }
    // Pixel row of a value on the linear Y axis, from the plot's value-to-pixel rule.
    static int RowOf(double v) { return int(std::trunc((0.0 - v) * 200 / 10.0 + 240)) + 1; }

    bool Enter(const QMimeData* data, QPoint at)
    {
        QDragEnterEvent e(at, Qt::CopyAction, data, Qt::LeftButton, {});
        QApplication::sendEvent(&h, &e);
        return e.isAccepted();
    }
    // Moves and drops carry the dragged colour unless other data is given.
    void Move(QPoint at, const QMimeData* data = nullptr)
    {
        QDragMoveEvent e(at, Qt::CopyAction, data ? data : colour.get(), Qt::LeftButton, {});
        QApplication::sendEvent(&h, &e);
    }
    void Leave()
    {
        QDragLeaveEvent e;
        QApplication::sendEvent(&h, &e);
    }
    void Drop(QPoint at, const QMimeData* data = nullptr)
    {
        QDropEvent e(QPointF(at), Qt::CopyAction, data ? data : colour.get(), Qt::LeftButton, {});
        QApplication::sendEvent(&h, &e);
    }
    QRgb Pixel(int x, int y) const { return h.Surface().pixel(x, y) & 0xFFFFFF; }
};

QRgb Rgb(TColor c)
{
    return ColorToQColor(c).rgb() & 0xFFFFFF;
}

} // namespace

// Over a curve, then the background, then out of the plot: each element shows the dragged
// colour while under the pointer and gets its own colour back when the pointer moves on; in
// the end nothing has changed. Moves that stay on one element repaint nothing.
TEST(PlotDrag, PreviewFollowsPointerAndLeavingRestoresEverything)
{
    DragPlot p;
    p.TwoCurves();
    p.h.RenderNow();
    const int y1 = DragPlot::RowOf(5.0);
    ASSERT_EQ(p.Pixel(150, y1), Rgb(Curve1));
    ASSERT_TRUE(p.Enter(p.colour.get(), QPoint(150, y1 - 30)));

    p.Move(QPoint(150, y1 - 2));
    EXPECT_EQ(p.h.PreviewElement(), TDXHistographInt::elSeries);
    EXPECT_EQ(p.h.SeriesRecord(1).LineColor, Dragged);
    EXPECT_EQ(p.h.SeriesRecord(2).LineColor, Curve2);
    ASSERT_TRUE(p.h.RepaintPending());
    p.h.RenderNow();
    EXPECT_EQ(p.Pixel(150, y1), Rgb(Dragged));
    p.Move(QPoint(152, y1 + 1));
    EXPECT_FALSE(p.h.RepaintPending());

    p.Move(QPoint(150, y1 - 30));
    EXPECT_EQ(p.h.PreviewElement(), TDXHistographInt::elBackground);
    EXPECT_EQ(p.h.SeriesRecord(1).LineColor, Curve1);
    EXPECT_EQ(p.h.BkColor(), Dragged);
    p.h.RenderNow();
    EXPECT_EQ(p.Pixel(150, y1 - 30), Rgb(Dragged));
    p.Move(QPoint(100, 60));
    EXPECT_FALSE(p.h.RepaintPending());

    p.Leave();
    EXPECT_EQ(p.h.PreviewElement(), TDXHistographInt::elNone);
    EXPECT_EQ(p.h.BkColor(), Back);
    EXPECT_EQ(p.h.SeriesRecord(1).LineColor, Curve1);
    EXPECT_EQ(p.h.GridColor(), Grid);
    EXPECT_EQ(p.h.Color(), Margin);
    p.h.RenderNow();
    EXPECT_EQ(p.Pixel(150, y1 - 30), Rgb(Back));
    EXPECT_EQ(p.Pixel(150, y1), Rgb(Curve1));
}

// Only colour grids' drags are taken: other data is refused and changes nothing.
TEST(PlotDrag, ForeignDragsAreRefused)
{
    DragPlot p;
    p.TwoCurves();
    QMimeData text;
    text.setText(QStringLiteral("16711935"));
    EXPECT_FALSE(p.Enter(&text, QPoint(150, 100)));
    p.Move(QPoint(150, 100), &text);
    p.Drop(QPoint(150, 100), &text);
    EXPECT_EQ(p.h.BkColor(), Back);
    EXPECT_EQ(p.h.PreviewElement(), TDXHistographInt::elNone);
}

// Inside the plot a curve or grid line at most 3 pixels away is hit (the nearer one wins),
// anything farther is the background, and without data and grid everything is background.
// The 10-pixel strips beside and below the plot are the axis labels, titles are hit only
// where they were painted, the rest is the control.
TEST(PlotDrag, HitTestRectanglesStripsAndThreePixelRule)
{
    DragPlot p;
    using H = TDXHistographInt;
    // The whole hit: element, its colour, and the series number (-1 for all but a series).
    const auto hit = [&p](int x, int y, int code, TColor colour, int sub = -1) {
        const H::TDXElementHit got = p.h.HitTestElement(x, y);
        EXPECT_TRUE(got.Code == code && got.OldColor == colour && got.Sub == sub)
            << x << "," << y << ": " << got.Code << " " << got.OldColor << " " << got.Sub;
    };
    for (QPoint at : {QPoint(70, 40), QPoint(360, 240), QPoint(215, 140)})
        hit(at.x(), at.y(), H::elBackground, Back);
    const int row6 = 240 - 200 * 6 / 10;
    // A curve or grid line is hit up to 3 pixels away.
    p.h.SetSeriesData(p.flat1.data(), 291, 1);
    const int y1 = DragPlot::RowOf(5.0);
    hit(123, y1 + 3, H::elSeries, Curve1, 1);
    hit(123, y1 - 3, H::elSeries, Curve1, 1);
    hit(123, y1 + 4, H::elBackground, Back);
    hit(123, y1 - 4, H::elBackground, Back);
    // Grid lines every 2 units: rows 240 - trunc(200 * v / 10) for v = 0, 2, ..., 8.
    p.h.setGridVisible(grdHor);
    hit(200, row6 + 3, H::elGrid, Grid);
    hit(200, row6 - 4, H::elBackground, Back);
    // A curve at 4 lies on row 161, next to the line of 4 on row 160: the nearer one wins.
    std::fill(p.flat1.begin(), p.flat1.end(), 4.0f);
    p.h.SetSeriesData(p.flat1.data(), 291, 1);
    const int y4 = DragPlot::RowOf(4.0), line4 = 240 - 200 * 4 / 10;
    ASSERT_EQ(y4, line4 + 1);
    for (int y : {y4, y4 + 1, y4 + 2})
        hit(200, y, H::elSeries, Curve1, 1);
    hit(200, line4, H::elGrid, Grid);
    hit(200, line4 - 3, H::elGrid, Grid);

    // Strips: 10 pixels left of the plot (rows of the plot area), 10 below it.
    p.h.setFontColor(H::fiYAxis, clRed);
    p.h.setFontColor(H::fiXAxis, clLime);
    hit(60, 40, H::elYAxis, clRed);
    hit(69, 240, H::elYAxis, clRed);
    hit(70, 241, H::elXAxis, clLime);
    hit(360, 250, H::elXAxis, clLime);
    for (QPoint at :
         {QPoint(59, 100), QPoint(65, 241), QPoint(65, 39), QPoint(200, 251), QPoint(361, 100)})
        hit(at.x(), at.y(), H::elControl, Margin);
}

// Each title is hit only once it has been painted, at the place the layout puts it, and a
// drop recolours that title's own font; the axis strips recolour the axis fonts.
TEST(PlotDrag, TitlesAreHitWherePaintedAndDropsColourTheirFonts)
{
    DragPlot p;
    p.h.setTitleTop(QStringLiteral("Top title"));
    p.h.setTitleBottom(QStringLiteral("Bottom title"));
    p.h.setTitleLeft(QStringLiteral("Left title"));
    p.h.setTitleRight(QStringLiteral("Right title"));
    const QFontMetrics top(p.h.FontTitleTop()), bottom(p.h.FontTitleBottom());
    const QPoint topAt(200 - top.horizontalAdvance(QStringLiteral("Top title")) / 2 + 2, 12);
    const QPoint bottomAt(200, 300 - bottom.height() - 10 + 2);
    const QPoint leftAt(12, 150), rightAt(400 - 12, 150);
    using H = TDXHistographInt;
    for (QPoint at : {topAt, bottomAt, leftAt, rightAt})
        EXPECT_EQ(p.h.HitTestElement(at.x(), at.y()).Code, H::elControl);
    p.h.RenderNow();

    struct Case
    {
        QPoint at;
        int code;
        H::TDXFontId font;
    } const cases[] = {
        {topAt, H::elTitleTop, H::fiTitleTop},     {bottomAt, H::elTitleBottom, H::fiTitleBottom},
        {leftAt, H::elTitleLeft, H::fiTitleLeft},  {rightAt, H::elTitleRight, H::fiTitleRight},
        {QPoint(65, 100), H::elYAxis, H::fiYAxis}, {QPoint(100, 245), H::elXAxis, H::fiXAxis}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        p.h.setFontColor(c.font, clNavy);
        const H::TDXElementHit hit = p.h.HitTestElement(c.at.x(), c.at.y());
        EXPECT_EQ(hit.Code, c.code);
        EXPECT_EQ(hit.OldColor, clNavy);
        ASSERT_TRUE(p.Enter(p.colour.get(), c.at));
        p.Move(c.at);
        p.Drop(c.at);
        EXPECT_EQ(p.h.FontColor(c.font), Dragged);
    }
    EXPECT_EQ(p.h.Color(), Margin);
    EXPECT_EQ(p.h.BkColor(), Back);
}
