#include "SpektroNeu.h"

#include <QApplication>
#include <QBackingStore>
#include <QFontMetrics>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr QRgb Black = 0xff000000u;

// Whether every pixel of the area, clipped to the image, has the colour.
bool AreaIs(const QImage& Image, QRect Area, QRgb Colour)
{
    Area &= Image.rect();
    QImage want(Area.size(), Image.format());
    want.fill(Colour);
    return Image.copy(Area) == want;
}

// Rows Y .. Y + N - 1 across the whole image.
QRect Rows(int Y, int N = 1)
{
    return QRect(0, Y, 1 << 20, N);
}

// What the window surface shows of an area, once every requested paint has passed the
// platform's update timer.
QImage Shown(const QWidget* Area)
{
    QTest::qWait(30);
    const auto* surface =
        dynamic_cast<const QImage*>(Area->window()->backingStore()->paintDevice());
    if (surface == nullptr) {
        ADD_FAILURE() << "the window has no raster surface";
        return QImage();
    }
    return surface->copy(QRect(Area->mapTo(Area->window(), QPoint(0, 0)), Area->size()));
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
    // A right margin narrows the waterfall and its map; a negative margin is refused.
    S.setGapRight(20);
    S.setGapLeft(-5);
    EXPECT_EQ(S.GapLeft(), 60);
    EXPECT_EQ(S.ColumnIndex().size(), std::size_t(WaveW - 20));
    EXPECT_EQ(S.RightImage().size(), QSize(20, 1));
    // Margins wider than the control leave no waterfall, and drawing still does no harm.
    S.setGapLeft(5000);
    EXPECT_EQ(S.WaveImage().width(), 0);
    S.AddLine(Line(16, -90));
    S.AddTimeMark("hh:nn:ss", 46000.5);
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
    // A ten-pixel tick across the axis, two rows above the bottom.
    for (int x = 40; x < 60; ++x)
        EXPECT_EQ(marked.pixel(x, WaveH - 2) == Black, x >= 46 && x <= 55) << x;
    // Ink inside the text's box only, and the text ends before the tick.
    const int textW = QFontMetrics(S.TimeMarkFont()).horizontalAdvance("12:00:00");
    ASSERT_LT(textW, 45);
    EXPECT_FALSE(AreaIs(marked, QRect(0, WaveH - 12, textW + 1, 12), Menu));
    EXPECT_TRUE(AreaIs(marked, QRect(textW + 1, WaveH - 12, 45 - textW, 12), Menu));
    EXPECT_TRUE(AreaIs(marked, QRect(0, 0, 46, WaveH - 12), Menu));

    const int lines = 25;
    for (int i = 0; i < lines; ++i)
        S.AddLine(Line(8, -90));
    const QImage moved = S.LeftImage();
    EXPECT_EQ(Shown(S.LeftBox()), moved);
    EXPECT_EQ(moved.copy(0, WaveH - 12 - lines, 60, 11), marked.copy(0, WaveH - 12, 60, 11));

    // Clear, then one line: one row above black, and the time axis pixel beside it.
    S.Clear();
    EXPECT_TRUE(AreaIs(S.WaveImage(), Rows(0, WaveH), Black));
    EXPECT_TRUE(AreaIs(S.LeftImage(), Rows(0, WaveH), Menu));

    S.AddLine(Line(64, -70));
    EXPECT_EQ(Bottom(10), Colour(-70));
    EXPECT_TRUE(AreaIs(S.WaveImage(), Rows(0, WaveH - 1), Black));
    // The time axis: one pixel ten pixels left of the waterfall, none in a narrow margin.
    EXPECT_EQ(S.LeftImage().pixel(50, WaveH - 1), Black);
    EXPECT_EQ(S.LeftImage().pixel(49, WaveH - 1), Menu);
    EXPECT_EQ(S.LeftImage().pixel(50, WaveH - 2), Menu);
    S.setGapLeft(9);
    S.AddLine(Line(64, -70));
    EXPECT_TRUE(AreaIs(S.LeftImage(), Rows(WaveH - 1), Menu));
}

TEST_F(Waterfall, ResizeKeepsTopLeftAndCutsNewestRowsWhenLower)
{
    for (int i = 0; i < WaveH; ++i)
        S.AddLine(Line(32, -140.0f + 2.0f * float(i)));
    const QImage before = S.WaveImage();

    S.resize(S.width(), WaveH - 10 + 2);
    const QImage lower = S.WaveImage();
    EXPECT_EQ(lower, before.copy(0, 0, WaveW, WaveH - 10));

    S.resize(S.width() + 30, WaveH + 2);
    const QImage higher = S.WaveImage();
    ASSERT_EQ(higher.size(), QSize(WaveW + 30, WaveH));
    EXPECT_EQ(higher.copy(0, 0, WaveW, WaveH - 10), lower);
    EXPECT_TRUE(AreaIs(higher, Rows(WaveH - 10, 10), Black));
    EXPECT_TRUE(AreaIs(higher, QRect(WaveW, 0, 30, WaveH), Black));
    // The map follows the new width at once.
    ASSERT_EQ(S.ColumnIndex().size(), std::size_t(WaveW + 30));
    EXPECT_EQ(S.ColumnIndex().back(), 31);

    S.AddLine(Line(32, -40));
    EXPECT_EQ(Bottom(100), 0xffff0000u);
    EXPECT_EQ(S.WaveImage().copy(0, 0, WaveW, WaveH - 11), lower.copy(0, 1, WaveW, WaveH - 11));
}

// The window must show the images, whether rows are moved on screen (NoFlicker) or repainted
// whole, across lines with and without event processing, time marks and clearing.
TEST_F(Waterfall, WindowSurfaceShowsTheImages)
{
    EXPECT_EQ(S.LeftBox()->geometry(), QRect(1, 1, 60, WaveH));
    EXPECT_EQ(S.WaveBox()->geometry(), QRect(61, 1, WaveW, WaveH));
    for (bool noFlicker : {true, false}) {
        S.setNoFlicker(noFlicker);
        for (int i = 0; i < 60; ++i) {
            S.AddLine(Line(300, -140.0f + float((i * 7) % 100)));
            if (i % 9 == 0)
                S.AddTimeMark("hh:nn:ss", 46000.5 + i / 86400.0);
            if (i % 4 == 0)
                QApplication::processEvents();
            if (i == 30)
                S.Clear();
        }
        EXPECT_EQ(Shown(S.WaveBox()), S.WaveImage()) << noFlicker;
        EXPECT_EQ(Shown(S.LeftBox()), S.LeftImage()) << noFlicker;
    }
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
