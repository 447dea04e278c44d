#include "dxColorhis.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMimeData>
#include <QPalette>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

namespace {

// The classic 16 colours as red, green, blue, cell by cell.
constexpr int Classic[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

QRgb ClassicRgb(int cell)
{
    return qRgb(Classic[cell][0], Classic[cell][1], Classic[cell][2]);
}

TColor ClassicValue(int cell)
{
    return Classic[cell][0] | (Classic[cell][1] << 8) | (Classic[cell][2] << 16);
}

struct ShownGrid
{
    QWidget window;
    TColorGridHisto* grid = new TColorGridHisto(&window);
    std::vector<TColor> drags;

    ShownGrid(TGridOrdering ordering, QSize size)
    {
        window.resize(400, 200);
        grid->setGridOrdering(ordering);
        grid->setGeometry(QRect(QPoint(8, 32), size));
        grid->DragStarter = [this](std::unique_ptr<QMimeData> data) {
            const auto c = ColorFromMimeData(data.get());
            drags.push_back(c ? *c : -1);
        };
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    QRgb Pixel(int x, int y) const { return grid->Surface().pixel(x, y) & 0xFFFFFF; }
};

} // namespace

// Cells are Width div columns by Height div rows, the control shrinks to whole cells, and a
// point maps to its cell with out-of-range coordinates taken as the nearest edge.
TEST(ColorGrid, CellGeometryShrinksBoundsAndMapsPoints)
{
    ShownGrid g(TColorGridHisto::go16x1, QSize(335, 16));
    EXPECT_EQ(g.grid->size(), QSize(320, 16));
    EXPECT_EQ(g.grid->CellWidth(), 20);
    EXPECT_EQ(g.grid->CellHeight(), 16);
    EXPECT_EQ(g.grid->SquareFromPos(0, 0), 0);
    EXPECT_EQ(g.grid->SquareFromPos(19, 15), 0);
    EXPECT_EQ(g.grid->SquareFromPos(20, 0), 1);
    EXPECT_EQ(g.grid->SquareFromPos(319, 5), 15);
    EXPECT_EQ(g.grid->SquareFromPos(5000, -40), 15);
    EXPECT_EQ(g.grid->SquareFromPos(-3, 99), 0);

    // Another ordering re-shapes the cells of the same bounds: 4 x 4 of 80 x 4.
    g.grid->setGridOrdering(TColorGridHisto::go4x4);
    EXPECT_EQ(g.grid->size(), QSize(320, 16));
    EXPECT_EQ(g.grid->SquareFromPos(85, 5), 5);
    // 2 columns of 8 rows: 160 x 2, the cell of row 7, column 1 is 15.
    g.grid->setGridOrdering(TColorGridHisto::go2x8);
    EXPECT_EQ(g.grid->SquareFromPos(200, 15), 15);
    g.grid->resize(101, 45);
    EXPECT_EQ(g.grid->size(), QSize(100, 40));
}

// Right and Space walk the cells in reading order, Left backwards; Down walks down each
// column and on to the top of the next, Up the reverse; Home and End jump to the ends. Checked
// for every ordering against the column-by-column order written out here.
TEST(ColorGrid, KeyboardWalkForEveryOrdering)
{
    for (int o = TColorGridHisto::go16x1; o <= TColorGridHisto::go1x16; ++o) {
        SCOPED_TRACE(o);
        ShownGrid g(static_cast<TGridOrdering>(o), QSize(160, 160));
        const int cols = 16 >> o, rows = 1 << o;
        std::vector<int> columnOrder;
        for (int c = 0; c < cols; ++c)
            for (int r = 0; r < rows; ++r)
                columnOrder.push_back(r * cols + c);
        auto walk = [&](Qt::Key key, const std::vector<int>& order) {
            g.grid->setSelection(order[0]);
            for (std::size_t i = 1; i <= order.size(); ++i) {
                QTest::keyClick(g.grid, key);
                ASSERT_EQ(g.grid->Selection(), order[i % order.size()]) << "step " << i;
            }
        };
        walk(Qt::Key_Down, columnOrder);
        walk(Qt::Key_Up, std::vector<int>(columnOrder.rbegin(), columnOrder.rend()));
        std::vector<int> readingOrder(16);
        for (int i = 0; i < 16; ++i)
            readingOrder[i] = i;
        walk(Qt::Key_Right, readingOrder);
        walk(Qt::Key_Space, readingOrder);
        walk(Qt::Key_Left, std::vector<int>(readingOrder.rbegin(), readingOrder.rend()));
        g.grid->setSelection(6);
        QTest::keyClick(g.grid, Qt::Key_End);
        EXPECT_EQ(g.grid->Selection(), 15);
        QTest::keyClick(g.grid, Qt::Key_Home);
        EXPECT_EQ(g.grid->Selection(), 0);
        EXPECT_EQ(g.grid->SelectColor(), ClassicValue(0));
    }
}

// A press of any button selects the cell and starts the drag of its colour before the button
// is released; the drag carries the classic colour of that cell.
TEST(ColorGrid, PressSelectsAndStartsDragAtOnce)
{
    ShownGrid g(TColorGridHisto::go16x1, QSize(320, 16));
    QTest::mousePress(g.grid, Qt::LeftButton, {}, QPoint(9 * 20 + 3, 8));
    ASSERT_EQ(g.drags.size(), 1u);
    EXPECT_EQ(g.drags[0], ClassicValue(9));
    EXPECT_EQ(g.grid->Selection(), 9);
    QTest::mouseRelease(g.grid, Qt::LeftButton, {}, QPoint(9 * 20 + 3, 8));
    EXPECT_EQ(g.drags.size(), 1u);
    QTest::mousePress(g.grid, Qt::RightButton, {}, QPoint(1 * 20 + 19, 15));
    ASSERT_EQ(g.drags.size(), 2u);
    EXPECT_EQ(g.drags[1], ClassicValue(1));
    for (int cell = 0; cell < 16; ++cell) {
        g.grid->setSelection(cell);
        EXPECT_EQ(g.grid->SelectColor(), ClassicValue(cell)) << cell;
    }

    // The payload is refused unless it is a plain colour value under the grid's own type.
    QMimeData other;
    other.setText(QStringLiteral("255"));
    EXPECT_FALSE(ColorFromMimeData(&other));
    other.setData(QLatin1String(ColorMimeType), "0x1000000");
    EXPECT_FALSE(ColorFromMimeData(&other));
    other.setData(QLatin1String(ColorMimeType), "-2147483633");
    EXPECT_FALSE(ColorFromMimeData(&other));
    other.setData(QLatin1String(ColorMimeType), "16777215");
    EXPECT_EQ(ColorFromMimeData(&other), 0xFFFFFF);
}

// With Ctl3D a cell is a button-face rectangle, a two-pixel sunken frame one pixel inside
// (shadow top/left, highlight bottom/right) and the colour inside; without it a black outline
// around the colour. Focus adds an inverting frame to the selected cell only.
TEST(ColorGrid, CellPaintingWithAndWithoutCtl3DAndFocusFrame)
{
    ShownGrid g(TColorGridHisto::go16x1, QSize(320, 16));
    // Unfocused first: the focus frame comes only with the focus.
    g.grid->clearFocus();
    // Marks off, as on the tool bar (they are letters drawn over the cell).
    g.grid->setForegroundEnabled(false);
    g.grid->setBackgroundEnabled(false);
    const QPalette pal = QApplication::palette();
    const QRgb face = pal.color(QPalette::Button).rgb() & 0xFFFFFF;
    const QRgb shadow = pal.color(QPalette::Dark).rgb() & 0xFFFFFF;
    const QRgb light = pal.color(QPalette::Light).rgb() & 0xFFFFFF;
    for (int cell = 0; cell < 16; ++cell) {
        const int x = cell * 20;
        EXPECT_EQ(g.Pixel(x, 0), face) << cell;
        EXPECT_EQ(g.Pixel(x + 1, 1), shadow) << cell;
        EXPECT_EQ(g.Pixel(x + 2, 8), shadow) << cell;
        EXPECT_EQ(g.Pixel(x + 18, 14), light) << cell;
        EXPECT_EQ(g.Pixel(x + 17, 8), light) << cell;
        EXPECT_EQ(g.Pixel(x + 3, 3), ClassicRgb(cell) & 0xFFFFFF) << cell;
        EXPECT_EQ(g.Pixel(x + 16, 12), ClassicRgb(cell) & 0xFFFFFF) << cell;
    }
    g.grid->setSelection(4);
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(g.grid, &in);
    const QRgb navy = ClassicRgb(4) & 0xFFFFFF;
    EXPECT_EQ(g.Pixel(80 + 3, 3), navy ^ 0xFFFFFF);
    EXPECT_EQ(g.Pixel(80 + 4, 3), navy);
    EXPECT_EQ(g.Pixel(80 + 8, 8), navy);
    EXPECT_EQ(g.Pixel(3 * 20 + 3, 3), ClassicRgb(3) & 0xFFFFFF);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(g.grid, &out);
    EXPECT_EQ(g.Pixel(80 + 3, 3), navy);

    g.grid->setCtl3D(false);
    for (int cell : {0, 7, 15}) {
        const int x = cell * 20;
        EXPECT_EQ(g.Pixel(x, 0), 0u) << cell;
        EXPECT_EQ(g.Pixel(x + 19, 15), 0u) << cell;
        EXPECT_EQ(g.Pixel(x + 1, 1), ClassicRgb(cell) & 0xFFFFFF) << cell;
    }
    // Focused without Ctl3D: the outline inverted and, two pixels in, a ring in the colour
    // opposite to the cell's (cyan on red).
    g.grid->setSelection(9);
    QApplication::sendEvent(g.grid, &in);
    EXPECT_EQ(g.Pixel(180, 0), 0xFFFFFFu);
    EXPECT_EQ(g.Pixel(181, 1), 0xFF0000u);
    for (const QPoint ring : {QPoint(182, 2), QPoint(182, 8), QPoint(197, 13), QPoint(190, 2)})
        EXPECT_EQ(g.Pixel(ring.x(), ring.y()), 0x00FFFFu) << ring.x() << "," << ring.y();
    EXPECT_EQ(g.Pixel(183, 3), 0xFF0000u);
    EXPECT_EQ(g.Pixel(196, 12), 0xFF0000u);
    // Cells too low for the ring have none.
    g.grid->resize(320, 4);
    QApplication::sendEvent(g.grid, &in);
    EXPECT_EQ(g.Pixel(190, 0), 0xFFFFFFu);
    EXPECT_EQ(g.Pixel(190, 1), 0xFF0000u);
    EXPECT_EQ(g.Pixel(190, 2), 0xFF0000u);
}

// F and B put the marks on the selected cell and announce it; a disabled mark stays where it
// is unless a key may switch it on.
TEST(ColorGrid, MarksFollowKeysAndNotifyOnlyWhenEnabled)
{
    ShownGrid g(TColorGridHisto::go4x4, QSize(100, 100));
    // A mark is a letter in the colour opposite to the cell's, channel by channel: on purple
    // (128, 0, 128) it is green.
    auto inked = [&](int cell, QRgb ink) {
        int n = 0;
        const QRect r = g.grid->CellRect(cell);
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += g.Pixel(x, y) == ink;
        return n;
    };
    EXPECT_EQ(inked(5, 0x00FF00), 0);
    int changes = 0;
    g.grid->OnChange = [&](QObject*) { ++changes; };
    g.grid->setSelection(5);
    QTest::keyClick(g.grid, Qt::Key_F);
    EXPECT_EQ(g.grid->ForegroundIndex(), 5);
    EXPECT_EQ(changes, 1);
    EXPECT_GT(inked(5, 0x00FF00), 3);
    QTest::keyClick(g.grid, Qt::Key_F);
    EXPECT_EQ(changes, 1);
    g.grid->setSelection(10);
    QTest::keyClicks(g.grid, QStringLiteral("b"));
    EXPECT_EQ(g.grid->BackgroundIndex(), 10);
    EXPECT_EQ(changes, 2);

    g.grid->setForegroundEnabled(false);
    g.grid->setSelection(2);
    QTest::keyClick(g.grid, Qt::Key_F);
    EXPECT_EQ(g.grid->ForegroundIndex(), 5);
    EXPECT_FALSE(g.grid->ForegroundEnabled());
    g.grid->setClickEnablesColor(true);
    QTest::keyClick(g.grid, Qt::Key_F);
    EXPECT_TRUE(g.grid->ForegroundEnabled());
    EXPECT_EQ(g.grid->ForegroundIndex(), 2);
    EXPECT_EQ(changes, 3);
    // Other keys leave the selection alone.
    QTest::keyClick(g.grid, Qt::Key_X);
    EXPECT_EQ(g.grid->Selection(), 2);

    // Both marks on one cell read "FB"; with the background mark off the cell shows "F" alone,
    // and with both off no letter at all. Green (0, 128, 0) takes purple letters.
    g.grid->setForegroundIndex(2);
    g.grid->setBackgroundIndex(2);
    g.grid->setBackgroundEnabled(true);
    const int both = inked(2, 0xFF00FF);
    g.grid->setBackgroundEnabled(false);
    const int alone = inked(2, 0xFF00FF);
    EXPECT_GT(alone, 3);
    EXPECT_GT(both, alone + 3);
    g.grid->setForegroundEnabled(false);
    EXPECT_EQ(inked(2, 0xFF00FF), 0);
}
