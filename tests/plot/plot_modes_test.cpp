#include "dx_Eca.h"
#include "plot_interaction_support.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

using namespace plottest;

namespace {

// 400 x 300 with gaps 50/20/30/40: plot (50, 20) .. (370, 260), 320 x 240.
struct ModePlot : ::testing::Test
{
    TDXHistographInt h;
    std::vector<float> data = std::vector<float>(321, 50.0f);
    int downs = 0, moves = 0, ups = 0;

    void SetUp() override
    {
        Layout(h, 400, 300, 50, 20, 30, 40);
        SetY(h, 0, 120);
        h.setViewYGap(20);
        SetX(h, 0, 320);
        h.setViewXGap(40);
        h.SetSeriesData(data.data(), 321, 1);
        h.RenderNow();
        h.OnMouseDown = [this](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
            ++downs;
        };
        h.OnMouseMove = [this](QObject*, Qt::KeyboardModifiers, int, int) { ++moves; };
        h.OnMouseUp = [this](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++ups; };
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    std::array<float, 6> View() const
    {
        return {h.ViewYMin(),        h.ViewYMax(), h.ViewXCurrentMin(),
                h.ViewXCurrentMax(), h.ViewXGap(), h.ViewYGap()};
    }
    void Drag(Qt::MouseButton b, QPoint from, QPoint to)
    {
        Press(h, b, from.x(), from.y());
        Move(h, (from.x() + to.x()) / 2, (from.y() + to.y()) / 2, b);
        Move(h, to.x(), to.y(), b);
        Release(h, b, to.x(), to.y());
    }
};

// Rule of the linear pointer values.
double XAt(double cmin, double cmax, int px)
{
    return cmin + (cmax - cmin) * (px - 50) / 320.0;
}
double YAt(double ymin, double ymax, int py)
{
    return ymin + (ymax - ymin) * (300 - py - 40) / 240.0;
}

// Bell weight of position k (1-based) of a rubber of width n, tapered at the ends beyond 10.
double Weight(int k, int n)
{
    if (n == 1)
        return 1.0;
    const double t = k - n / 2.0;
    double w = float((std::exp(-12 * t * t / (double(n) * n)) - 0.04978) * 1.05239);
    if (n > 10 && (k == 1 || k == n))
        w *= 0.1;
    if (n > 10 && (k == 2 || k == n - 1))
        w *= 0.5;
    return w;
}

} // namespace

// A band zooms to the values under its corners with the grid divisions of the first view; a
// second zoom goes further, and one right click restores all six view values exactly.
TEST_F(ModePlot, ZoomThenUndoRestoresTheViewExactly)
{
    h.setMode(modeZoom);
    const auto before = View();
    const QImage clean = h.Surface().copy();
    Press(h, Qt::LeftButton, 290, 200);
    Move(h, 250, 150, Qt::LeftButton);
    // The band's dotted outline is in the surface while dragging, and it survives new data.
    // Every other pixel of the outline of (250, 150) .. (289, 199), on the checkerboard.
    int dots = 0;
    for (int y = 150; y <= 199; ++y)
        for (int x = 250; x <= 289; ++x)
            dots += (x == 250 || x == 289 || y == 150 || y == 199) && (x + y) % 2 == 0;
    const int outline = Differing(h.Surface(), clean);
    EXPECT_EQ(outline, dots);
    h.SetSeriesData(data.data(), 321, 1);
    EXPECT_EQ(Differing(h.Surface(), clean), outline);
    Move(h, 90, 60, Qt::LeftButton); // crosses over to the other side of the press point
    Release(h, Qt::LeftButton, 90, 60);
    EXPECT_EQ(std::tuple(downs, moves, ups), std::tuple(0, 0, 1));
    ASSERT_TRUE(h.Zoomed());
    // Corners normalised: left 90, right 290, top 60, bottom 200.
    EXPECT_FLOAT_EQ(h.ViewXCurrentMin(), float(XAt(0, 320, 90)));
    EXPECT_FLOAT_EQ(h.ViewXCurrentMax(), float(XAt(0, 320, 290)));
    EXPECT_FLOAT_EQ(h.ViewYMax(), float(YAt(0, 120, 60)));
    EXPECT_FLOAT_EQ(h.ViewYMin(), float(YAt(0, 120, 200)));
    EXPECT_NEAR(h.ViewXGap(), (XAt(0, 320, 290) - XAt(0, 320, 90)) * 40 / 320, 1e-4);
    EXPECT_NEAR(h.ViewYGap(), (YAt(0, 120, 60) - YAt(0, 120, 200)) * 20 / 120, 1e-4);
    EXPECT_TRUE(h.RepaintPending());

    h.RenderNow();
    Drag(Qt::LeftButton, QPoint(100, 100), QPoint(200, 180));
    EXPECT_NE(View(), before);
    Click(h, Qt::RightButton, 10, 10);
    EXPECT_EQ(View(), before);
    EXPECT_FALSE(h.Zoomed());
    // Without a zoom a right click changes nothing.
    h.setViewXGap(33);
    Click(h, Qt::RightButton, 10, 10);
    EXPECT_FLOAT_EQ(h.ViewXGap(), 33);
}

// Bands without width or height in value terms and bands beyond the 32760-pixel guards leave
// the view alone and take their outline with them.
TEST_F(ModePlot, AbandonedBandsLeaveTheView)
{
    h.setMode(modeZoom);
    const QImage clean = h.Surface().copy();
    const auto before = View();
    Drag(Qt::LeftButton, QPoint(100, 100), QPoint(100, 200)); // no width
    Drag(Qt::LeftButton, QPoint(100, 100), QPoint(200, 100)); // no height
    EXPECT_EQ(View(), before);
    EXPECT_FALSE(h.Zoomed());
    EXPECT_TRUE(h.Surface() == clean);
    // Far from the origin, one pixel of X is tiny: (319 * x1 / (x2 - x1)) exceeds 32760.
    SetX(h, 100000, 100320);
    h.RenderNow();
    const auto far = View();
    Drag(Qt::LeftButton, QPoint(100, 100), QPoint(300, 200));
    EXPECT_EQ(View(), far);
    // A tiny Y span with the old grid step: 240 * 20 / span exceeds 32760.
    SetX(h, 0, 320);
    h.setViewYMax(0.01f);
    h.RenderNow();
    const auto flat = View();
    Drag(Qt::LeftButton, QPoint(100, 100), QPoint(300, 200));
    EXPECT_EQ(View(), flat);
    EXPECT_FALSE(h.Zoomed());
}

// Calculate mode: the left button places cross 1, the right cross 2; the value bar shows both,
// their differences and "----" for no X difference, with the locale's separator.
TEST_F(ModePlot, CalculateReadoutsIncludingTheUndefinedInverse)
{
    QLocale::setDefault(QLocale(QLocale::German));
    for (int i = 0; i <= 320; ++i)
        data[i] = 0.5f * i;
    h.SetSeriesData(data.data(), 321, 1);
    struct Calc
    {
        int s1, s2;
        float x1, x2, y1, y2;
    };
    std::vector<Calc> calcs;
    h.OnCalculate = [&](QObject*, int s1, int s2, float x1, float x2, float y1, float y2) {
        calcs.push_back({s1, s2, x1, x2, y1, y2});
    };
    h.setMode(modeCalculate);
    h.setShowValueBar(true);
    TFormCalculateBar& bar = *h.ValueBar();
    EXPECT_TRUE(bar.X2->isEnabled());
    // Only cross 1: the second reports zeros.
    Click(h, Qt::LeftButton, 150, 100); // sample 101 at X = 100, Y = 50
    ASSERT_FALSE(calcs.empty());
    const Calc first = calcs.front();
    EXPECT_EQ(std::tuple(first.s1, first.s2, first.x1, first.x2, first.y2),
              std::tuple(1, 0, 100.0f, 0.0f, 0.0f));
    EXPECT_EQ(std::tuple(downs, ups), std::tuple(0, 1));
    // Cross 2 at X = 12.5 (column 62 rounds 12 -> sample 13 at X = 12, Y = 6).
    Click(h, Qt::RightButton, 62, 250);
    const Calc both = calcs.back();
    EXPECT_EQ(std::tuple(both.s2, both.x2, both.y2), std::tuple(1, 12.0f, 6.0f));
    EXPECT_EQ(bar.X1->text(), "100");
    EXPECT_EQ(bar.Y2->text(), "6");
    EXPECT_EQ(bar.deltax->text(), "88");
    EXPECT_EQ(bar.deltay->text(), "44");
    EXPECT_EQ(bar.invdeltax->text(), "0,01136"); // 1 / 88 to four digits
    EXPECT_EQ(bar.Series2->text(), "1");
    // Dragging cross 2 onto cross 1's sample: no X difference.
    Press(h, Qt::RightButton, 62, 250);
    Move(h, 120, 200, Qt::RightButton);
    Move(h, 150, 40, Qt::RightButton);
    Release(h, Qt::RightButton, 150, 40);
    EXPECT_EQ(bar.invdeltax->text(), "----");
    EXPECT_EQ(bar.deltax->text(), "0");
    // With no button held, moving leaves both crosses where they are.
    const float placed[] = {h.CrossSlot(0).ValueX, h.CrossSlot(1).ValueX};
    Move(h, 300, 200);
    EXPECT_TRUE(h.CrossSlot(0).ValueX == placed[0] && h.CrossSlot(1).ValueX == placed[1]);
    EXPECT_EQ(moves, 3); // calculate moves are passed on
    // Leaving calculate mode clears both crosses and greys the second cross's labels.
    h.setMode(modeMeasure);
    EXPECT_FALSE(h.CrossSlot(0).Drawn || h.CrossSlot(1).Drawn);
    EXPECT_FALSE(bar.X2->isEnabled());
    EXPECT_FALSE(bar.invdeltax->isEnabled());
    EXPECT_TRUE(bar.X1->isEnabled());
}

// A first drag brings the cross never placed in at its stored corner (0, 0): sample 1.
TEST_F(ModePlot, UnplacedCrossComesInAtTheTopLeftWhenTheOtherIsDragged)
{
    h.setMode(modeCalculate);
    Press(h, Qt::RightButton, 200, 100);
    Move(h, 210, 100, Qt::RightButton);
    EXPECT_TRUE(h.CrossSlot(0).Drawn);
    EXPECT_EQ(h.CrossSlot(0).ValueX, 0.0f);
    EXPECT_EQ(h.CrossSlot(1).ValueX, 160.0f);
}

// The value bar: created hidden with the plot, wide enough for every read-out, and its switches.
TEST_F(ModePlot, ValueBarLayoutAndSwitches)
{
    TFormCalculateBar& bar = *h.ValueBar();
    EXPECT_FALSE(bar.isVisible());
    EXPECT_FALSE(h.ShowValueBar());
    EXPECT_EQ(bar.windowTitle(), "Display: ");
    // Value boxes 65 wide in the cross boxes and 41 in the measure box, widened (with their
    // group box) as far as the widest four-digit text and a pixel need, so no read-out is cut.
    const QFontMetrics fm(bar.X1->font());
    const int needed = 1 + std::max(fm.horizontalAdvance(QStringLiteral("-0.00008888")),
                                    fm.horizontalAdvance(QStringLiteral("-8.888E-88")));
    for (QLabel* value : {bar.X1, bar.Y1, bar.X2, bar.Y2, bar.invdeltax, bar.deltax, bar.deltay}) {
        const int designed = value->parentWidget() == bar.GroupBox3 ? 41 : 65;
        EXPECT_EQ(value->width(), std::max(designed, needed)) << value->objectName().toStdString();
        EXPECT_EQ(value->parentWidget()->width() - value->width(),
                  value->parentWidget() == bar.GroupBox3 ? 105 - 41 : 97 - 65);
    }
    EXPECT_EQ(bar.Label19->text(), QString(QChar(0x0394)));

    h.setTitleTop("Spectrum");
    h.setShowValueBar(true);
    EXPECT_EQ(bar.windowTitle(), "Display: Spectrum");
    EXPECT_FALSE(bar.X2->isEnabled()); // measure mode
    // Closing with the close box is noticed, and the bar can be shown again.
    bar.close();
    EXPECT_FALSE(h.ShowValueBar());
    h.setShowValueBar(true);
    EXPECT_TRUE(bar.isVisible());
    EXPECT_FALSE(h.ToolWindowsOnTop());
    h.setToolWindowsOnTop(true); // new window flags must not hide the bar
    EXPECT_TRUE(bar.isVisible());
    EXPECT_TRUE(h.ToolWindowsOnTop());
    EXPECT_FALSE(bar.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    // Measure mode writes cross 1's labels.
    Move(h, 150, 100);
    EXPECT_EQ(bar.X1->text(), "100");
    EXPECT_EQ(bar.Y1->text(), "50");
}

// Bending: the grabbed sample follows the pointer by its weight in the bell profile, which stays
// centred on it at both ends of the curve; the curve is written back once at the release.
TEST_F(ModePlot, BendFollowsTheRubberProfileAndIsWrittenBackOnce)
{
    h.setSeriesNumber(2);
    h.setSeriesCurrent(2);
    h.setSeriesColor(clYellow);
    // Handed in as plain data, then made a reference curve: the plot holds the caller's array.
    std::vector<float> ref(321, 60.0f);
    h.SetSeriesData(ref.data(), 321, 2);
    h.setSeriesStyle(dtUpperRef);
    h.setMode(modeUpperRef);
    h.RenderNow();
    const QImage clean = h.Surface().copy();
    std::vector<CrossEvent> moved;
    h.OnReferenceMove = [&](QObject*, float X, float Y, int Serie, int Index) {
        moved.push_back({X, Y, Serie, Index});
    };
    // One pixel per sample; a quarter of 240 rows up is a quarter of 120 in value.
    for (auto [grab, width] : {std::pair{161, 30}, std::pair{1, 30}, std::pair{321, 30},
                               std::pair{100, 10}, std::pair{100, 11}}) {
        h.setReferenceRubberWidth(width);
        h.setShowValues(grab != 161);
        const int x = 50 + grab - 1;
        const float* before = h.SeriesRecord(2).Data;
        const std::vector<float> old(before, before + 321);
        Press(h, Qt::LeftButton, x, 200);
        ASSERT_TRUE(h.RefDragActive());
        Move(h, x, 170, Qt::LeftButton);
        Move(h, x, 140, Qt::LeftButton);
        if (grab == 161) {
            // With the value box off each move reports the grabbed sample's new value.
            ASSERT_EQ(moved.size(), 2u);
            EXPECT_EQ(moved.back().Index, 161);
            EXPECT_EQ(moved.back().X, 160.0f);
            EXPECT_NEAR(moved.back().Y, 60 + 30 * Weight(16, 30), 1e-4);
        } else if (grab == 1) {
            // The value box, outlined in the grid colour, fills the bottom left corner up to a
            // line's height and 20 above the bottom edge.
            const QRgb grid = ColorToQColor(h.GridColor()).rgb();
            const int top = 300 - QFontMetrics(h.font()).height() - 20;
            EXPECT_TRUE(h.Surface().pixel(1, top) == grid && h.Surface().pixel(1, 298) == grid);
        }
        // The bend is drawn into the plot strip only; the series stays until the release.
        EXPECT_FALSE(h.Surface() == clean);
        EXPECT_EQ(h.SeriesRecord(2).Data[grab - 1], old[grab - 1]);
        Release(h, Qt::LeftButton, x, 140);
        EXPECT_FALSE(h.RefDragActive());
        const float* after = h.SeriesRecord(2).Data;
        const int first0 = grab - width / 2;
        for (int i = 1; i <= 321; ++i) {
            const int k = i - first0 + 1; // position in the profile
            const double want =
                k >= 1 && k <= width ? old[i - 1] + 30 * Weight(k, width) : old[i - 1];
            ASSERT_NEAR(after[i - 1], want, 1e-4)
                << "grab " << grab << " width " << width << " sample " << i;
        }
        h.RenderNow();
    }
    EXPECT_EQ(moved.size(), 2u); // the value box replaces the event
    EXPECT_EQ(std::tuple(downs, moves), std::tuple(0, 0));
    // The caller's array is never written to.
    EXPECT_EQ(ref[160], 60.0f);
}

// On a logarithmic Y axis the bend scales the samples: dragging up by a quarter of the rows of
// a 1..1000 axis multiplies the grabbed sample by about 1000^(1/4), weighted.
TEST_F(ModePlot, BendOnALogarithmicAxisScalesTheSamples)
{
    h.setGridScale(sclLinLog);
    SetY(h, 1, 1000);
    h.setSeriesStyle(dtLowerRef);
    std::vector<float> ref(321, 10.0f);
    h.SetSeriesData(ref.data(), 321, 1);
    h.setMode(modeLowerRef);
    h.RenderNow();
    Press(h, Qt::LeftButton, 150, 200);
    Move(h, 150, 140, Qt::LeftButton);
    Release(h, Qt::LeftButton, 150, 140);
    // Factor of the mapping: ViewYMin on the last plot row, ViewYMax on the first.
    const float factor = float(-(260 - 20 - 1) / (std::log(1000.0) - std::log(1.0)));
    const double f = float(std::exp((140 - 200) / double(factor)) - 1);
    EXPECT_NEAR(h.SeriesRecord(1).Data[100], 10 * (f * Weight(16, 30) + 1), 1e-3);
    EXPECT_NEAR(h.SeriesRecord(1).Data[99], 10 * (f * Weight(15, 30) + 1), 1e-3);
    EXPECT_EQ(h.SeriesRecord(1).Data[120], 10.0f);
}

// The read-out number formats: four significant digits, and the pattern of the bend's box.
TEST(PlotReadout, NumberFormats)
{
    for (auto [v, text] :
         {std::pair{0.0, "0"}, std::pair{1234.56, "1235"}, std::pair{-0.5, "-0,5"},
          std::pair{12346.0, "1,235E+04"}, std::pair{9999.6, "1E+04"},
          std::pair{0.00001, "0,00001"}, std::pair{0.0000012, "1,2E-06"}, std::pair{100.0, "100"},
          std::pair{0.012345, "0,01235"}, std::pair{-2.5e-7, "-2,5E-07"}})
        EXPECT_EQ(dxplot::FormatValue4(v, ","), text) << v;
    EXPECT_EQ(dxplot::FormatReadout(1234.5, "."), "1.23E03");
    EXPECT_EQ(dxplot::FormatReadout(0.001234, ","), "1,23E-03");
}

// A reference curve of one sample has nothing to bend: the press keeps the mode, and without
// any curve the tool falls back to measuring.
TEST_F(ModePlot, BendWithoutAUsableReferenceCurve)
{
    h.setMode(modeLowerRef);
    Click(h, Qt::LeftButton, 150, 100);
    EXPECT_FALSE(h.RefDragActive());
    EXPECT_EQ(h.Mode(), modeMeasure);
    h.setSeriesStyle(dtLowerRef);
    float one = 5;
    h.SetSeriesData(&one, 1, 1);
    h.setMode(modeLowerRef);
    h.RenderNow();
    Press(h, Qt::LeftButton, 150, 100);
    Move(h, 150, 50, Qt::LeftButton);
    Release(h, Qt::LeftButton, 150, 50);
    EXPECT_FALSE(h.RefDragActive());
    EXPECT_EQ(h.Mode(), modeLowerRef);
    EXPECT_EQ(h.SeriesRecord(1).Data[0], 5.0f);
    // Outside the plot rectangle the press is passed on.
    Click(h, Qt::LeftButton, 10, 10);
    EXPECT_EQ(downs, 1);
}
