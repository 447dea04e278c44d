#include "dxHisto.h"
#include "plot_interaction_support.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

#include <vector>

using namespace plottest;

namespace {

constexpr QRgb White = 0xFFFFFFFFu;

// Where two images differ: their bounding box (empty when they are equal).
QRect Difference(const QImage& A, const QImage& B)
{
    QRect box;
    for (int y = 0; y < A.height(); ++y)
        for (int x = 0; x < A.width(); ++x)
            if (A.pixel(x, y) != B.pixel(x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

// Where the marks of one colour lie in the surface: their bounding box (empty when none).
QRect Pixels(const QImage& Image, QRgb Color, const QRect& Within)
{
    QRect box;
    for (int y = Within.top(); y <= Within.bottom(); ++y)
        for (int x = Within.left(); x <= Within.right(); ++x)
            if (Image.pixel(x, y) == Color)
                box |= QRect(x, y, 1, 1);
    return box;
}

// 400 x 220, plot (40, 20) .. (380, 190): X 0..3400 over 340 pixels, Y -140..0 over 170 rows;
// a flat green curve at -120 under the marks.
class PlotMarkers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Layout(Plot, 400, 220, 40, 20, 20, 30);
        SetX(Plot, 0, 3400);
        SetY(Plot, -140, 0);
        Plot.setSeriesColor(0x00C000);
        Curve.assign(341, -120.0f);
        Plot.SetSeriesData(Curve.data(), int(Curve.size()), 1);
    }

    // The rule: the tip stands where the curves put the point, the column holding X and the
    // top edge of the row holding Y, in fractional pixels.
    double TipX(double X) const { return 40 + X * 340 / 3400; }
    double TipY(double Y) const { return (-140 - Y) * 170 / 140 + 190 + 1; }

    // Inside the plot area (the frame's light edge is white too).
    QRect Marks(QRgb Color = White) const
    {
        return Pixels(Plot.Surface(), Color, QRect(40, 20, 340, 170));
    }

    TDXHistographInt Plot;
    std::vector<float> Curve;
};

} // namespace

// A marker is a triangle pointing down at its point with its number above it, drawn with the
// next paint, in its own colour; each marker at its own place.
TEST_F(PlotMarkers, MarkStandsOnItsPointWithItsNumberAbove)
{
    Plot.RenderNow();
    const QImage clean = Plot.Surface().copy();
    Plot.SetMarker(1, 1234.5f, -60.0f, clWhite);
    EXPECT_TRUE(Marks().isEmpty()); // setting it does not paint
    Plot.RefreshData();
    const QRect mark = Marks();
    ASSERT_FALSE(mark.isEmpty());
    const double tx = TipX(1234.5), ty = TipY(-60);
    // The triangle's lowest pixels touch the tip (a sharp tip fills a pixel or so above its
    // point), its middle is the tip's column.
    EXPECT_NEAR(mark.bottom() + 1, ty, 2.0);
    const QRect low = Pixels(Plot.Surface(), White, QRect(40, mark.bottom() - 1, 340, 2));
    EXPECT_NEAR((low.left() + low.right() + 1) / 2.0, tx, 1.0);
    // Its number above it, over its point.
    const QRect digit = Difference(clean, Plot.Surface()).intersected(QRect(0, 0, 400, mark.top()));
    EXPECT_GT(digit.height(), QFontMetrics(Plot.FontXAxis()).ascent() / 2);
    EXPECT_NEAR(digit.center().x(), tx, 2.0);

    Plot.SetMarker(2, 2500.0f, -20.0f, clFuchsia);
    Plot.RefreshData();
    const QRect second = Marks(0xFFFF00FFu);
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NEAR(second.bottom() + 1, TipY(-20), 2.0);
    EXPECT_EQ(Marks(), mark);

    Plot.HideMarker(1);
    Plot.RefreshData();
    EXPECT_TRUE(Marks().isEmpty());
    EXPECT_FALSE(Marks(0xFFFF00FFu).isEmpty());
}
