#include "dxColorhis.h"
#include "plot_interaction_support.h"

#include <QMimeData>
#include <QTest>
#include <gtest/gtest.h>

#include <string>
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
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    QRgb Pixel(int x, int y) const { return grid->Surface().pixel(x, y) & 0xFFFFFF; }
};

} // namespace

// Cells are Width div columns by Height div rows, the control shrinks to whole cells, and a
// point maps to its cell with out-of-range coordinates taken as the nearest edge.
TEST(ColorGrid, CellGeometryShrinksBoundsAndMapsPoints)
{
    // A new grid is 4 x 4 cells of 25 x 25.
    EXPECT_EQ(TColorGridHisto().size(), QSize(100, 100));
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
    // Too narrow for a cell per column: no width, every point on the first column.
    g.grid->setGridOrdering(TColorGridHisto::go16x1);
    g.grid->resize(10, 16);
    EXPECT_EQ(g.grid->SquareFromPos(5, 3), 0);

    // Cells and orderings take the ends of their ranges and ignore what lies beyond.
    using Set = void (TColorGridHisto::*)(int);
    using Get = int (TColorGridHisto::*)() const;
    for (const auto& [set, get] :
         {std::pair<Set, Get>{&TColorGridHisto::setSelection, &TColorGridHisto::Selection},
          {&TColorGridHisto::setForegroundIndex, &TColorGridHisto::ForegroundIndex},
          {&TColorGridHisto::setBackgroundIndex, &TColorGridHisto::BackgroundIndex}})
        for (const int end : {15, 0}) {
            (g.grid->*set)(end);
            (g.grid->*set)(16);
            (g.grid->*set)(-1);
            EXPECT_EQ((g.grid->*get)(), end);
        }
    for (const int end : {TColorGridHisto::go1x16, TColorGridHisto::go16x1}) {
        g.grid->setGridOrdering(TGridOrdering(end));
        g.grid->setGridOrdering(TGridOrdering(TColorGridHisto::go1x16 + 1));
        EXPECT_EQ(g.grid->GridOrdering(), end);
    }
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

    // The payload is refused unless it is a plain colour value under the grid's own type.
    QMimeData other;
    other.setText(QStringLiteral("255"));
    EXPECT_FALSE(ColorFromMimeData(&other));
    for (const char* bad : {"0x1000000", "-2147483633"}) {
        other.setData(QLatin1String(ColorMimeType), bad);
        EXPECT_FALSE(ColorFromMimeData(&other)) << bad;
    }
    other.setData(QLatin1String(ColorMimeType), "16777215");
    EXPECT_EQ(ColorFromMimeData(&other), 0xFFFFFF);
}

// Every ordering, flat cells too, with and without Ctl3D: each cell shows its classic colour at
// its middle, the focused one apart; marks moved about leave what a fresh paint gives.
TEST(ColorGrid, CellsShowTheirColoursInEveryShape)
{
    const std::pair<TGridOrdering, QSize> cases[] = {
        {TColorGridHisto::go16x1, {320, 16}}, {TColorGridHisto::go8x2, {88, 14}},
        {TColorGridHisto::go4x4, {100, 100}}, {TColorGridHisto::go2x8, {22, 80}},
        {TColorGridHisto::go1x16, {9, 112}},  {TColorGridHisto::go16x1, {96, 5}}};
    for (const auto& [ordering, size] : cases)
        for (const bool ctl3D : {true, false}) {
            SCOPED_TRACE(std::to_string(size.width()) + (ctl3D ? " 3D" : " flat"));
            ShownGrid g(ordering, size);
            g.grid->setForegroundEnabled(false);
            g.grid->setBackgroundEnabled(false);
            g.grid->setCtl3D(ctl3D && size.height() > 5);
            const int cols = 16 >> ordering, cw = size.width() / cols,
                      ch = size.height() / (16 / cols);
            for (const bool focused : {false, true}) {
                focused ? g.grid->setFocus() : g.grid->clearFocus();
                g.grid->setSelection(focused ? 9 : 4);
                for (int i = 0; i < 16; ++i) // the focus frame may cross the middle
                    EXPECT_TRUE((focused && i == 9) ||
                                g.Pixel(i % cols * cw + cw / 2, i / cols * ch + ch / 2) ==
                                    (ClassicRgb(i) & 0xFFFFFF))
                        << i;
            }
            g.grid->setForegroundEnabled(true);
            for (int cell : {9, 11, 9, 2}) {
                g.grid->setForegroundIndex(cell);
                const QImage moved = g.grid->Surface().copy();
                g.grid->setCtl3D(!g.grid->Ctl3D());
                g.grid->setCtl3D(!g.grid->Ctl3D());
                EXPECT_EQ(plottest::Differing(moved, g.grid->Surface()), 0) << cell;
            }
        }
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
