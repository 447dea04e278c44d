#include "SpektroNeu.h"

#include <QApplication>
#include <QBackingStore>
#include <QFontMetrics>
#include <QPalette>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using quillex::TBgr;

namespace {

constexpr QRgb Black = 0xff000000u;

QRgb Menu()
{
    return QApplication::palette().color(QPalette::Window).rgb();
}

TBgr Pixel(const QImage& Image, int X, int Y)
{
    const uchar* p = Image.constScanLine(Y) + 4 * X;
    return {p[0], p[1], p[2]};
}

// A control like the main window's: 60-pixel time margin, waterfall of WaveW x WaveH.
struct Waterfall : ::testing::Test
{
    static constexpr int WaveW = 591;
    static constexpr int WaveH = 40;
    TSpektroNeu S;
    quillex::TLevelToColor Scale;

    Waterfall()
    {
        S.setGapLeft(60);
        S.setZMin(-140);
        S.setZMax(-40);
        Scale.SetRange(-140, -40);
        S.resize(WaveW + 60 + 2, WaveH + 2);
        S.show();
    }
    TBgr Colour(int Level, bool Lit = false) const
    {
        return Scale.LevelToColor(Level, Lit ? quillex::SpektroHighlightMask : 0);
    }
    bool RowIs(const QImage& Image, int Y, QRgb Colour) const
    {
        for (int x = 0; x < Image.width(); ++x)
            if (Image.pixel(x, Y) != Colour)
                return false;
        return true;
    }
};

struct PaintCounter : QObject
{
    int Paints = 0;
    bool eventFilter(QObject*, QEvent* Event) override
    {
        Paints += Event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

TEST_F(Waterfall, AreasAndImagesFollowGapsAndSize)
{
    EXPECT_EQ(S.LeftBox()->geometry(), QRect(1, 1, 60, WaveH));
    EXPECT_EQ(S.WaveBox()->geometry(), QRect(61, 1, WaveW, WaveH));
    EXPECT_EQ(S.RightImage().width(), 0);
    EXPECT_EQ(S.WaveImage().size(), QSize(WaveW, WaveH));
    EXPECT_EQ(S.LeftImage().size(), QSize(60, WaveH));
    EXPECT_TRUE(RowIs(S.WaveImage(), 0, Black));
    EXPECT_TRUE(RowIs(S.LeftImage(), WaveH - 1, Menu()));
    EXPECT_EQ(S.ColumnIndex().size(), std::size_t(WaveW));

    S.setGapRight(20);
    S.setGapLeft(-5); // ignored
    EXPECT_EQ(S.GapLeft(), 60);
    EXPECT_EQ(S.WaveImage().width(), WaveW - 20);
    EXPECT_EQ(S.RightImage().size(), QSize(20, WaveH));
    EXPECT_TRUE(RowIs(S.RightImage(), 0, Menu()));
    EXPECT_EQ(S.ColumnIndex().size(), std::size_t(WaveW - 20));

    // Margins wider than the control leave no waterfall and nothing breaks.
    S.setGapLeft(5000);
    EXPECT_EQ(S.WaveImage().width(), 0);
    S.AddLine(std::vector<float>(16, -90.0f));
    S.AddTimeMark("hh:nn:ss", 46000.5);
}

TEST_F(Waterfall, LineColoursColumnsThroughTheMapAndScrollsUp)
{
    std::vector<float> levels(4096);
    for (std::size_t i = 0; i < levels.size(); ++i)
        levels[i] = -140.0f + 100.0f * float(i) / 4095.0f;
    S.AddLine(levels);
    const std::vector<float> flat(4096, -100.0f);
    S.AddLine(flat);

    const QImage img = S.WaveImage();
    EXPECT_EQ(S.ColumnIndex()[1], 7);
    for (int x = 0; x < WaveW; ++x) {
        const int level = quillex::RoundLevel(levels[std::size_t(S.ColumnIndex()[std::size_t(x)])]);
        ASSERT_EQ(Pixel(img, x, WaveH - 2), Colour(level, x == 0)) << x;
        ASSERT_EQ(Pixel(img, x, WaveH - 1), Colour(-100, x == 0)) << x;
    }
    EXPECT_EQ(Pixel(img, WaveW - 1, WaveH - 2), (TBgr{0, 0, 255}));
    EXPECT_TRUE(RowIs(img, WaveH - 3, Black));

    // Ties to even on the level before the colour lookup.
    S.AddLine(std::vector<float>{-89.5f, -88.5f});
    EXPECT_EQ(Pixel(S.WaveImage(), 1, WaveH - 1), Colour(-90));
    EXPECT_EQ(Pixel(S.WaveImage(), WaveW - 1, WaveH - 1), Colour(-88));
    EXPECT_NE(Colour(-90), Colour(-89));
}

TEST_F(Waterfall, HighlightRangeIsInclusiveAndEmptyWhenReversed)
{
    const std::vector<float> flat(100, -100.0f);
    S.setHighlightMin(3);
    S.setHighlightMax(5);
    S.AddLine(flat);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(Pixel(S.WaveImage(), x, WaveH - 1), Colour(-100, x >= 3 && x <= 5)) << x;

    S.setHighlightMin(6);
    S.AddLine(flat);
    for (int x = 0; x < WaveW; ++x)
        ASSERT_EQ(Pixel(S.WaveImage(), x, WaveH - 1), Colour(-100)) << x;
}

TEST_F(Waterfall, NewLineLengthRebuildsTheMapBeforeDrawing)
{
    S.AddLine(std::vector<float>(4096, -140.0f));
    EXPECT_EQ(S.MappedHi(), 4095);
    EXPECT_EQ(S.ColumnIndex().back(), 4095);

    std::vector<float> ramp(10);
    for (int i = 0; i < 10; ++i)
        ramp[std::size_t(i)] = -140.0f + 10.0f * float(i);
    S.AddLine(ramp);
    EXPECT_EQ(S.MappedLo(), 0);
    EXPECT_EQ(S.MappedHi(), 9);
    EXPECT_EQ(S.ColumnIndex().back(), 9);
    EXPECT_EQ(Pixel(S.WaveImage(), WaveW - 1, WaveH - 1), Colour(-50));
    // The middle column sits at 4.5 and takes the even value 4.
    EXPECT_EQ(Pixel(S.WaveImage(), WaveW / 2, WaveH - 1), Colour(-100));

    S.AddLine(std::vector<float>{-60.0f});
    for (int x = 1; x < WaveW; ++x)
        ASSERT_EQ(Pixel(S.WaveImage(), x, WaveH - 1), Colour(-60)) << x;
}

TEST_F(Waterfall, EmptyLineAndFlatAreaPaintNothing)
{
    S.AddLine(std::vector<float>(4096, -60.0f));
    const QImage before = S.WaveImage();
    S.AddLine(std::span<const float>());
    EXPECT_EQ(S.WaveImage(), before);
    EXPECT_EQ(S.MappedHi(), 4095);

    // At most one row high: the map still follows the line, nothing is drawn.
    S.resize(S.width(), 3);
    ASSERT_EQ(S.WaveImage().height(), 1);
    const QImage flat = S.WaveImage();
    S.AddLine(std::vector<float>(20, -40.0f));
    EXPECT_EQ(S.MappedHi(), 19);
    EXPECT_EQ(S.WaveImage(), flat);
}

TEST_F(Waterfall, ReversedScaleDrawsBlackNotGarbage)
{
    S.setZMax(-140);
    S.AddLine(std::vector<float>{-200.0f, -140.0f, -90.0f, 0.0f, 1e30f});
    S.setZMin(-40);
    S.AddLine(std::vector<float>{-200.0f, 0.0f});
    const QImage img = S.WaveImage();
    for (int y : {WaveH - 2, WaveH - 1})
        for (int x = 1; x < WaveW; ++x)
            ASSERT_EQ(img.pixel(x, y), Black) << x << "," << y;
}

TEST_F(Waterfall, ClearThenOneLineShowsOneRowAboveBlack)
{
    for (int i = 0; i < 5; ++i)
        S.AddLine(std::vector<float>(64, -70.0f));
    S.AddTimeMark("hh:nn:ss", 46000.5);
    S.Clear();
    EXPECT_TRUE(RowIs(S.WaveImage(), WaveH - 1, Black));
    for (int y = 0; y < WaveH; ++y)
        ASSERT_TRUE(RowIs(S.LeftImage(), y, Menu())) << y;

    S.AddLine(std::vector<float>(64, -70.0f));
    const QImage img = S.WaveImage();
    EXPECT_EQ(Pixel(img, 10, WaveH - 1), Colour(-70));
    for (int y = 0; y < WaveH - 1; ++y)
        ASSERT_TRUE(RowIs(img, y, Black)) << y;
    // The margin gets the axis pixel ten pixels left of the waterfall.
    EXPECT_EQ(S.LeftImage().pixel(50, WaveH - 1), Black);
    EXPECT_EQ(S.LeftImage().pixel(49, WaveH - 1), Menu());
    EXPECT_EQ(S.LeftImage().pixel(50, WaveH - 2), Menu());
}

TEST_F(Waterfall, TimeMarkShowsWithTheNextLineThenScrollsUp)
{
    // Lines before the mark, so that it later shows from the other half of the row ring.
    for (int i = 0; i < 20; ++i)
        S.AddLine(std::vector<float>(8, -90.0f));
    PaintCounter counter;
    S.LeftBox()->installEventFilter(&counter);
    QApplication::processEvents();
    counter.Paints = 0;

    S.AddTimeMark("hh:nn:ss", 46000.5); // 2025-12-08 12:00:00
    QApplication::processEvents();
    EXPECT_EQ(counter.Paints, 0);

    const QImage marked = S.LeftImage();
    // Ten pixels of tick crossing the axis two rows above the bottom.
    for (int x = 40; x < 60; ++x)
        EXPECT_EQ(marked.pixel(x, WaveH - 2) == Black, x >= 46 && x <= 55) << x;
    // Ink inside the text's box and none between the text and the tick.
    const int textW = QFontMetrics(S.TimeMarkFont()).horizontalAdvance("12:00:00");
    ASSERT_LT(textW, 45);
    int ink = 0;
    for (int y = WaveH - 13; y < WaveH; ++y)
        for (int x = 0; x < 46; ++x) {
            const bool inked = marked.pixel(x, y) != Menu();
            ink += inked;
            if (x > textW || y == WaveH - 13) {
                EXPECT_FALSE(inked) << x << "," << y;
            }
        }
    EXPECT_GT(ink, 20);

    const int lines = 25;
    for (int i = 0; i < lines; ++i)
        S.AddLine(std::vector<float>(8, -90.0f));
    QApplication::processEvents();
    EXPECT_GT(counter.Paints, 0);

    const QImage moved = S.LeftImage();
    for (int y = WaveH - 12; y < WaveH - 1; ++y)
        for (int x = 0; x < 60; ++x)
            ASSERT_EQ(moved.pixel(x, y - lines), marked.pixel(x, y)) << x << "," << y;
}

TEST_F(Waterfall, ResizeKeepsTopLeftAndCutsNewestRowsWhenLower)
{
    // Every row a different colour, newest at the bottom.
    for (int i = 0; i < WaveH; ++i)
        S.AddLine(std::vector<float>(32, -140.0f + 2.0f * float(i)));
    const QImage before = S.WaveImage();

    S.resize(S.width(), WaveH - 10 + 2);
    const QImage lower = S.WaveImage();
    ASSERT_EQ(lower.size(), QSize(WaveW, WaveH - 10));
    EXPECT_EQ(lower, before.copy(0, 0, WaveW, WaveH - 10));

    S.resize(S.width() + 30, WaveH + 2);
    const QImage higher = S.WaveImage();
    ASSERT_EQ(higher.size(), QSize(WaveW + 30, WaveH));
    EXPECT_EQ(higher.copy(0, 0, WaveW, WaveH - 10), lower);
    for (int y = WaveH - 10; y < WaveH; ++y)
        ASSERT_TRUE(RowIs(higher, y, Black)) << y;
    EXPECT_EQ(higher.pixel(WaveW + 5, 0), Black);
    // The map follows the new width without waiting for a line.
    ASSERT_EQ(S.ColumnIndex().size(), std::size_t(WaveW + 30));
    EXPECT_EQ(S.ColumnIndex().back(), 31);

    // The next line pushes the band up from the bottom.
    S.AddLine(std::vector<float>(32, -40.0f));
    EXPECT_EQ(Pixel(S.WaveImage(), 100, WaveH - 1), (TBgr{0, 0, 255}));
    EXPECT_EQ(S.WaveImage().copy(0, 0, WaveW, WaveH - 11), lower.copy(0, 1, WaveW, WaveH - 11));
}

// What the window shows must be the images, whether rows are moved on screen (NoFlicker) or
// repainted whole, across lines with and without event processing, marks and clearing.
TEST_F(Waterfall, WindowSurfaceShowsTheImages)
{
    for (bool noFlicker : {true, false}) {
        S.setNoFlicker(noFlicker);
        S.Clear();
        for (int i = 0; i < 60; ++i) {
            S.AddLine(std::vector<float>(300, -140.0f + float((i * 7) % 100)));
            if (i % 9 == 0)
                S.AddTimeMark("hh:nn:ss", 46000.5 + i / 86400.0);
            if (i % 4 == 0)
                QApplication::processEvents();
            if (i == 30)
                S.Clear();
        }
        QApplication::processEvents();
        const auto* surface = dynamic_cast<const QImage*>(S.backingStore()->paintDevice());
        ASSERT_NE(surface, nullptr);
        const QPoint wave = S.WaveBox()->mapTo(&S, QPoint(0, 0));
        const QPoint left = S.LeftBox()->mapTo(&S, QPoint(0, 0));
        EXPECT_EQ(surface->copy(QRect(wave, S.WaveImage().size())), S.WaveImage()) << noFlicker;
        EXPECT_EQ(surface->copy(QRect(left, S.LeftImage().size())), S.LeftImage()) << noFlicker;
    }
}

TEST_F(Waterfall, MouseActionsComeFromTheWaterfallAreaInItsCoordinates)
{
    std::vector<QString> seen;
    auto note = [&](const char* what, QObject* sender, int x, int y) {
        seen.push_back(QString("%1 %2 %3 %4")
                           .arg(what)
                           .arg(sender == S.WaveBox() ? "wave" : "other")
                           .arg(x)
                           .arg(y));
    };
    S.OnMouseDown = [&](QObject* s, Qt::MouseButton b, Qt::KeyboardModifiers m, int x, int y) {
        EXPECT_EQ(b, Qt::LeftButton);
        EXPECT_EQ(m, Qt::ShiftModifier);
        note("down", s, x, y);
    };
    S.OnMouseUp = [&](QObject* s, Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
        note("up", s, x, y);
    };
    S.OnMouseMove = [&](QObject* s, Qt::KeyboardModifiers, int x, int y) { note("move", s, x, y); };
    S.OnDblClick = [&](QObject* s) { note("dbl", s, 0, 0); };

    QTest::mousePress(S.WaveBox(), Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 7));
    QTest::mouseMove(S.WaveBox(), QPoint(9, 11));
    QTest::mouseRelease(S.WaveBox(), Qt::LeftButton, Qt::ShiftModifier, QPoint(9, 11));
    QTest::mouseDClick(S.WaveBox(), Qt::LeftButton, Qt::ShiftModifier, QPoint(0, 3));
    QTest::mousePress(S.LeftBox(), Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 7));
    QTest::mouseRelease(S.LeftBox(), Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 7));

    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[0], "down wave 5 7");
    EXPECT_EQ(seen[1], "move wave 9 11");
    EXPECT_EQ(seen[2], "up wave 9 11");
    EXPECT_NE(std::find(seen.begin(), seen.end(), "dbl wave 0 0"), seen.end());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "down wave 5 7"), 1);
    for (const QString& s : seen)
        EXPECT_TRUE(s.contains("wave")) << s.toStdString();

    // Unassigned events are simply not raised.
    S.OnMouseDown = nullptr;
    QTest::mousePress(S.WaveBox(), Qt::LeftButton, Qt::ShiftModifier, QPoint(1, 1));
}
