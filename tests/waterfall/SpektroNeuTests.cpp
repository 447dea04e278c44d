#include "SpektroNeu.h"
#include "SpektroNeuLegend.h"
#include "waterfall_rules.h"

#include <QApplication>
#include <QFontMetrics>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr QRgb Black = 0xff000000u;

// Rows Y .. Y + N - 1 across the whole image.
QRect Rows(int Y, int N = 1)
{
    return QRect(0, Y, 1 << 20, N);
}

std::vector<float> Line(std::size_t N, float Level)
{
    return std::vector<float>(N, Level);
}

// A control like the main window's: a 60-pixel time margin beside a WaveW x WaveH waterfall.
struct Waterfall : ::testing::Test
{
    static constexpr int WaveW = 591;
    static constexpr int WaveH = 40;
    TSpektroNeu S;
    quillex::TLevelToColor Scale;
    const QRgb Menu = QApplication::palette().color(QPalette::Window).rgb();

    Waterfall()
    {
        S.setGapLeft(60);
        S.setZMin(-140);
        S.setZMax(-40);
        Scale.SetRange(-140, -40);
        S.resize(WaveW + 60 + 2, WaveH + 2);
        S.show();
    }
    QRgb Colour(int Level, bool Lit = false) const
    {
        return Scale.LevelToPixel(Level, Lit ? quillex::SpektroHighlightMask : 0);
    }
    QRgb Bottom(int X) const { return S.WaveImage().pixel(X, WaveH - 1); }
    // Whether the bottom row shows the colour from column X on.
    bool BottomFrom(int X, QRgb Colour) const
    {
        return AreaIs(S.WaveImage(), QRect(X, WaveH - 1, WaveW, 1), Colour);
    }
};

} // namespace

TEST_F(Waterfall, LineColoursColumnsThroughTheMapScrollsUpAndHighlights)
{
    std::vector<float> ramp(4096);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = -140.0f + 100.0f * float(i) / 4095.0f;
    S.AddLine(ramp);
    S.AddLine(Line(4096, -100));
    const QImage img = S.WaveImage();
    for (int x = 0; x < WaveW; ++x) {
        const float v = ramp[std::size_t(S.ColumnIndex()[std::size_t(x)])];
        ASSERT_EQ(img.pixel(x, WaveH - 2), Colour(quillex::RoundLevel(v), x == 0)) << x;
    }
    EXPECT_EQ(img.pixel(0, WaveH - 1), Colour(-100, true));
    EXPECT_TRUE(BottomFrom(1, Colour(-100)));
    EXPECT_EQ(img.pixel(WaveW - 1, WaveH - 2), 0xffff0000u);
    EXPECT_TRUE(AreaIs(img, Rows(0, WaveH - 2), Black));

    // Levels are rounded half to even before the colour lookup.
    S.AddLine(std::vector<float>{-89.5f, -88.5f});
    EXPECT_EQ(Bottom(1), Colour(-90));
    EXPECT_EQ(Bottom(WaveW - 1), Colour(-88));
    EXPECT_NE(Colour(-90), Colour(-89));

    // The highlighted columns are inclusive; a reversed range lights none.
    S.setHighlightMin(3);
    S.setHighlightMax(5);
    S.AddLine(Line(100, -100));
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(Bottom(x), Colour(-100, x >= 3 && x <= 5)) << x;
    S.setHighlightMin(6);
    S.AddLine(Line(100, -100));
    EXPECT_TRUE(BottomFrom(0, Colour(-100)));
}

TEST_F(Waterfall, NewLineLengthRebuildsTheMapAndEmptyInputsPaintNothing)
{
    S.AddLine(Line(4096, -140));
    EXPECT_EQ(S.ColumnIndex().back(), 4095);
    S.AddLine(std::vector<float>{-140, -130, -120, -110, -100, -90, -80, -70, -60, -50});
    EXPECT_EQ(S.MappedHi(), 9);
    EXPECT_EQ(Bottom(WaveW - 1), Colour(-50));
    S.AddLine(Line(1, -60));
    EXPECT_TRUE(BottomFrom(1, Colour(-60)));

    // No levels: nothing is painted and the map stays.
    const QImage before = S.WaveImage();
    S.AddLine(std::span<const float>());
    EXPECT_EQ(S.WaveImage(), before);
    EXPECT_EQ(S.MappedHi(), 0);

    // One row high: the map still follows the line, nothing is drawn.
    S.resize(S.width(), 3);
    const QImage flat = S.WaveImage();
    ASSERT_EQ(flat.height(), 1);
    S.AddLine(Line(20, -40));
    EXPECT_EQ(S.MappedHi(), 19);
    EXPECT_EQ(S.WaveImage(), flat);
    // A right margin narrows the waterfall and its map; a negative margin is refused, none is
    // allowed.
    S.setGapRight(20);
    S.setGapLeft(-5);
    EXPECT_EQ(S.GapLeft(), 60);
    EXPECT_EQ(S.ColumnIndex().size(), std::size_t(WaveW - 20));
    EXPECT_EQ(S.RightImage().size(), QSize(20, 1));
    S.setGapLeft(0);
    S.setGapRight(0);
    EXPECT_EQ(S.ColumnIndex().size(), std::size_t(WaveW + 60));
    // Margins wider than the control leave no waterfall, and drawing still does no harm.
    S.setGapLeft(5000);
    EXPECT_EQ(S.WaveImage().width(), 0);
    S.AddLine(Line(16, -90));
    S.AddTimeMark("hh:nn:ss", 46000.5);
}

// On a value axis (value 10.25 at the left edge, 8 values per 100 pixels) the columns show the
// nearest value, the last one up to the right edge; an axis that is not finite spreads the
// values from the first column to the last again, and a resize keeps the axis.
TEST_F(Waterfall, ValueAxisPlacesTheValuesAndFallsBackWhenNotFinite)
{
    const auto expectAxis = [&] {
        const auto map = S.ColumnIndex();
        for (std::size_t x = 0; x < map.size(); ++x)
            ASSERT_EQ(map[x], std::min(63L, std::lround(10.25 + (x + 0.5) * 0.08))) << x;
    };
    S.SetValueAxis(10.25, 0.08);
    S.AddLine(Line(64, -90));
    expectAxis();
    EXPECT_EQ(S.ColumnIndex().back(), 57);
    S.SetValueAxis(10.25, 0.2);
    EXPECT_EQ(S.ColumnIndex().back(), 63);
    S.SetValueAxis(10.25, 0.08);
    S.resize(S.width() - 100, S.height());
    expectAxis();
    for (const auto& [origin, per] : {std::pair{10.25, HUGE_VAL}, {std::nan(""), 0.08}}) {
        S.SetValueAxis(origin, per);
        EXPECT_EQ(S.ColumnIndex().front(), 0);
        EXPECT_EQ(S.ColumnIndex().back(), 63);
        EXPECT_EQ(S.ColumnIndex()[S.ColumnIndex().size() / 2], 32);
        S.SetValueAxis(10.25, 0.08);
    }
}

TEST_F(Waterfall, TimeMarkShowsWithTheNextLineScrollsUpAndGoesWithClear)
{
    // Lines before the mark, so that it later shows from the other half of the row ring.
    for (int i = 0; i < 20; ++i)
        S.AddLine(Line(8, -90));
    const QImage shownBefore = Shown(S.LeftBox());
    S.AddTimeMark("hh:nn:ss", 46000.5);
    EXPECT_EQ(Shown(S.LeftBox()), shownBefore);
    const QImage marked = S.LeftImage();
    // Its text in the bottom rows left of the axis, nothing above.
    EXPECT_FALSE(AreaIs(marked, QRect(0, WaveH - 12, 46, 12), Menu));
    EXPECT_TRUE(AreaIs(marked, QRect(0, 0, 46, WaveH - 12), Menu));

    const int lines = 25;
    for (int i = 0; i < lines; ++i)
        S.AddLine(Line(8, -90));
    const QImage moved = S.LeftImage();
    EXPECT_EQ(Shown(S.LeftBox()), moved);
    EXPECT_EQ(moved.copy(0, WaveH - 12 - lines, 60, 11), marked.copy(0, WaveH - 12, 60, 11));

    // Clear, then one line: one row above black.
    S.Clear();
    EXPECT_TRUE(AreaIs(S.WaveImage(), Rows(0, WaveH), Black));
    EXPECT_TRUE(AreaIs(S.LeftImage(), Rows(0, WaveH), Menu));

    S.AddLine(Line(64, -70));
    EXPECT_EQ(Bottom(10), Colour(-70));
    EXPECT_TRUE(AreaIs(S.WaveImage(), Rows(0, WaveH - 1), Black));
}

// Rows of 100 values, all at one level except value 67, which is red. At the widths used here
// every value spans at least two columns, so narrowing a row by nearest columns keeps it.
// Every row gets its own level, so the rows can be told apart after a resize.
struct WaterfallResize : Waterfall
{
    static constexpr int Values = 100;
    static constexpr int Mark = 67;
    int Added = 0;

    WaterfallResize() { S.setHighlightMin(1); } // no highlighted column
    static int RowLevel(int Row) { return -139 + Row % 90; }
    void AddRows(int N)
    {
        for (int i = 0; i < N; ++i, ++Added) {
            std::vector<float> levels = Line(Values, float(RowLevel(Added)));
            levels[Mark] = -40;
            S.AddLine(levels);
        }
    }
    void ResizeWave(int W, int H) { S.resize(W + 60 + 2, H + 2); }
    // Middle of the red columns of row Y, or -1 without any.
    static double MarkAt(const QImage& Image, int Y)
    {
        int first = -1, last = -1;
        for (int x = 0; x < Image.width(); ++x)
            if (Image.pixel(x, Y) == 0xffff0000u) {
                first = first < 0 ? x : first;
                last = x;
            }
        return first < 0 ? -1 : (first + last) / 2.0;
    }
    // The bottom Count rows are the newest rows in order, each with its mark within one
    // column of where the newest row shows it, and black is above them.
    void ExpectRows(int Count, const std::string& What)
    {
        SCOPED_TRACE(What);
        const QImage img = S.WaveImage();
        const int w = img.width(), h = img.height();
        ASSERT_GE(h, Count);
        // A row painted at this width shows the mark in the columns x whose nearest value
        // index (Values - 1) * x / (w - 1) is the mark.
        int first = -1, last = -1;
        for (int x = 0; x < w; ++x)
            if (std::lrint(double(Values - 1) * x / (w - 1)) == Mark) {
                first = first < 0 ? x : first;
                last = x;
            }
        const double fresh = (first + last) / 2.0;
        for (int age = 0; age < Count; ++age) {
            const int y = h - 1 - age;
            ASSERT_EQ(img.pixel(0, y), Colour(RowLevel(Added - 1 - age))) << "age " << age;
            ASSERT_NEAR(MarkAt(img, y), fresh, 1.0) << "age " << age;
        }
        if (h > Count) {
            EXPECT_TRUE(AreaIs(img, Rows(0, h - Count), Black));
        }
    }
};

TEST_F(WaterfallResize, KeepsTheNewestRowsAtTheBottomAlignedWithTheAxis)
{
    AddRows(WaveH);
    ResizeWave(800, WaveH);
    ExpectRows(WaveH, "wider");
    AddRows(5);
    ExpectRows(WaveH, "wider, new rows");
    ResizeWave(300, WaveH);
    ExpectRows(WaveH, "narrower");
    AddRows(5);
    ResizeWave(300, 25);
    ExpectRows(25, "lower");
    ResizeWave(300, 60);
    ExpectRows(25, "higher");
    AddRows(3);
    ExpectRows(28, "higher, new rows");
    ResizeWave(301, 60);
    ExpectRows(28, "wider, black above");
    // A drag: many one-pixel steps with lines in between. Each row is scaled from what was
    // painted, so the steps do not add up.
    for (int w = 302; w <= 450; ++w) {
        ResizeWave(w, 60);
        if (w % 7 == 0)
            AddRows(1);
    }
    for (int w = 449; w >= 250; --w)
        ResizeWave(w, 60 - (450 - w) / 10);
    ExpectRows(40, "dragged");
    // Cleared rows do not come back.
    S.Clear();
    ResizeWave(WaveW, WaveH);
    EXPECT_TRUE(AreaIs(S.WaveImage(), Rows(0, WaveH), Black));
    // The map follows the new width at once.
    ASSERT_EQ(S.ColumnIndex().size(), std::size_t(WaveW));
    EXPECT_EQ(S.ColumnIndex().back(), Values - 1);
}

// The time marks move with their rows, and the time axis stays beside the waterfall.
TEST_F(WaterfallResize, TimeMarksStayWithTheirRows)
{
    AddRows(10);
    S.AddTimeMark("hh:nn:ss", 46000.5);
    AddRows(10);
    const QImage before = S.LeftImage();
    ResizeWave(WaveW, 25);
    EXPECT_EQ(S.LeftImage(), before.copy(0, WaveH - 25, 60, 25));
    ResizeWave(WaveW, 50);
    const QImage higher = S.LeftImage();
    EXPECT_EQ(higher.copy(0, 25, 60, 25), before.copy(0, WaveH - 25, 60, 25));
    EXPECT_TRUE(AreaIs(higher, Rows(0, 25), Menu));
    // A wider margin puts new space on its left: the axis stays 10 pixels left of the waterfall.
    S.setGapLeft(80);
    const QImage wider = S.LeftImage();
    EXPECT_EQ(wider.copy(20, 25, 60, 25), before.copy(0, WaveH - 25, 60, 25));
    EXPECT_TRUE(AreaIs(wider, QRect(0, 0, 20, 50), Menu));
    S.AddLine(Line(Values, -90));
    EXPECT_EQ(S.LeftImage().pixel(70, 49), Black);
    EXPECT_EQ(S.LeftImage().pixel(70, 48), Black);
}

TEST_F(Waterfall, MouseActionsComeFromTheWaterfallAreaInItsCoordinates)
{
    QStringList seen;
    auto note = [&](QString What, QObject* Sender, int X, int Y) {
        seen << QString("%1 %2 %3,%4").arg(What).arg(Sender == S.WaveBox()).arg(X).arg(Y);
    };
    S.OnMouseDown = [&](QObject* s, Qt::MouseButton b, Qt::KeyboardModifiers m, int x, int y) {
        note(QString("down%1%2").arg(b).arg(m), s, x, y);
    };
    S.OnMouseUp = [&](QObject* s, Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
        note("up", s, x, y);
    };
    S.OnMouseMove = [&](QObject* s, Qt::KeyboardModifiers, int x, int y) { note("move", s, x, y); };
    S.OnDblClick = [&](QObject* s) { note("dbl", s, 0, 0); };

    QTest::mousePress(S.WaveBox(), Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 7));
    QTest::mouseMove(S.WaveBox(), QPoint(9, 11));
    QTest::mouseRelease(S.WaveBox(), Qt::LeftButton, Qt::ShiftModifier, QPoint(9, 11));
    QTest::mousePress(S.LeftBox(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 7));
    QTest::mouseRelease(S.LeftBox(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 7));
    QTest::mouseDClick(S.WaveBox(), Qt::LeftButton, Qt::NoModifier, QPoint(0, 3));
    const QString down = QString("down%1%2").arg(Qt::LeftButton).arg(Qt::ShiftModifier);
    ASSERT_GE(seen.size(), 4);
    EXPECT_EQ(seen.mid(0, 3), QStringList({down + " 1 5,7", "move 1 9,11", "up 1 9,11"}));
    EXPECT_TRUE(seen.contains("dbl 1 0,0"));
    // The press in the margin raised nothing; every event came from the waterfall area.
    EXPECT_EQ(seen.filter("5,7"), QStringList{down + " 1 5,7"});
    EXPECT_TRUE(seen.filter(" 0 ").isEmpty()) << seen.join("; ").toStdString();

    S.OnMouseDown = nullptr;
    QTest::mousePress(S.WaveBox(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
}

// Marks at their rows: the line across the row, taken in turns by marks of one row, the label
// on the mark's colour in the margin, stacked above earlier ones of the row; a label that
// would cover another is left out; marks move with their rows through a resize and go when
// scrolled out or cleared.
TEST_F(Waterfall, MarksLineTheirRowsAndLabelTheMargin)
{
    constexpr QRgb Magenta = 0xffff00ffu, Yellow = 0xffffff00u;
    S.resize(WaveW + 62, 202);
    const int h = 200;
    const auto lines = [&](int N) {
        for (int i = 0; i < N; ++i)
            S.AddLine(Line(64, -100));
    };
    const auto bottom = [&](int X) { return S.WaveImage().pixel(X, h - 1); };
    for (int i = 0; i < 30; ++i) {
        if (i % 10 == 0)
            S.AddTimeMark("hh:nn:ss", 46000.5 + i / 86400.0);
        S.AddLine(Line(64, -140.0f + float(i)));
    }
    EXPECT_TRUE(S.Marks().empty());
    S.AddMark("seek", QColor(Magenta));
    lines(1);
    for (int x = 0; x < WaveW; ++x)
        ASSERT_EQ(bottom(x), x % 8 < 4 ? Magenta : Colour(-100, x == 0)) << x;
    lines(40);
    S.AddMark("span", QColor(Magenta));
    S.AddMark("limit", QColor(Qt::yellow));
    lines(1);
    EXPECT_EQ(bottom(0), Magenta);
    EXPECT_EQ(bottom(4), Yellow);
    const int label = QFontMetrics(S.TimeMarkFont()).height() + 2;
    EXPECT_EQ(S.LeftImage().pixel(1, h - 2), Magenta);
    EXPECT_FALSE(AreaIs(S.LeftImage(), QRect(2, h - label, 20, label - 2), Magenta)); // its text
    EXPECT_EQ(S.LeftImage().pixel(1, h - 2 - label), Yellow);
    S.AddMark("centre", QColor(Magenta)); // would cover them
    lines(1);
    std::vector<std::pair<int, bool>> marks;
    for (const auto& mark : S.Marks())
        marks.push_back({mark.Age, mark.LabelShown});
    EXPECT_EQ(marks,
              (std::vector<std::pair<int, bool>>{{42, true}, {1, true}, {1, true}, {0, false}}));
    EXPECT_EQ(bottom(0), Magenta);

    // Wider and lower: the mark keeps its row and its line.
    lines(10);
    S.resize(WaveW + 62 + 100, 152);
    EXPECT_EQ(S.Marks().back().Age, 10);
    EXPECT_EQ(S.WaveImage().pixel(0, 150 - 11), Magenta);
    // Scrolled out, or cleared with a mark still waiting for its row: gone.
    lines(150);
    EXPECT_TRUE(S.Marks().empty());
    S.AddMark("live", QColor(Magenta));
    S.Clear();
    lines(1);
    EXPECT_TRUE(S.Marks().empty());
    EXPECT_EQ(S.WaveImage().pixel(0, 149), Colour(-100, true));
}

// Labels of a wide level offset need more room: the legend's width grows and stays.
TEST(LegendWidth, GrowsForWiderLabelsOnly)
{
    TSpektroLegend legend;
    const QFontMetrics metrics(legend.LabelFont());
    const int first = legend.NeededWidth();
    EXPECT_GE(first, TSpektroLegend::BarWidth + 5 + metrics.horizontalAdvance("-140"));
    legend.SetScale(-140, 0, -1000);
    EXPECT_GE(legend.NeededWidth(),
              TSpektroLegend::BarWidth + 5 + metrics.horizontalAdvance("-1140"));
    const int wide = legend.NeededWidth();
    legend.SetScale(-140, 0, 0);
    EXPECT_EQ(legend.NeededWidth(), wide);
    EXPECT_GT(wide, first);
}
