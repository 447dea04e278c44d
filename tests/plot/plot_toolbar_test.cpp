#include "dxColorhis.h"
#include "dxHistoInt.h"
#include "dxToolGlyphs.h"
#include "dx_Eca.h"
#include "dx_Efa.h"
#include "dx_Efg.h"
#include "dx_Eft.h"
#include "dx_Etb.h"
#include "plot_interaction_support.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <vector>

namespace {

struct ToolPlot
{
    TDXHistographInt h;
    std::vector<float> data;

    ToolPlot()
    {
        h.resize(400, 300);
        plottest::SetX(h, 0, 100);
        plottest::SetY(h, -140, 0);
        h.setViewYGap(10);
        for (int i = 0; i < 101; ++i)
            data.push_back(-130.0f + 70.0f * (i % 7) / 6.0f);
        h.SetSeriesData(data.data(), int(data.size()), 1);
        h.setTitleTop(QStringLiteral("Spectrum"));
        h.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&h));
    }
    TFormToolBar* Bar()
    {
        h.setShowToolBar(true);
        return h.ToolBar();
    }
};

// Lets the event loop run until `done` holds or about two seconds have passed.
bool WaitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 200 && !done(); ++i)
        QTest::qWait(10);
    return done();
}

} // namespace

// The tool bar exists only once asked for, is a stay-on-top tool window captioned with the
// plot's top title, and its close box switches the plot's ShowToolBar off.
TEST(PlotToolBar, ShownOnRequestCaptionedAndClosedByItsCloseBox)
{
    ToolPlot p;
    EXPECT_EQ(p.h.ToolBar(), nullptr);
    EXPECT_FALSE(p.h.ShowToolBar());
    TFormToolBar* bar = p.Bar();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(bar->isWindow());
    EXPECT_TRUE(bar->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(bar->windowType(), Qt::Tool);
    EXPECT_EQ(bar->windowTitle(), QStringLiteral("Tools: Spectrum"));
    p.h.setTitleTop(QStringLiteral("Band 2"));
    EXPECT_EQ(bar->windowTitle(), QStringLiteral("Tools: Band 2"));

    bar->close();
    EXPECT_FALSE(p.h.ShowToolBar());
    EXPECT_FALSE(bar->isVisible());
    p.h.setShowToolBar(true);
    EXPECT_EQ(p.h.ToolBar(), bar);
    EXPECT_TRUE(bar->isVisible());
    p.h.setShowToolBar(false);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(p.h.ToolBar(), bar);
    // Its timer keeps running while it is hidden.
    EXPECT_TRUE(bar->Timer1->isActive());
    EXPECT_EQ(bar->Timer1->interval(), 1000);
}

// Changes made elsewhere reach the buttons at the next tick of the tool bar's timer, also while
// it is hidden: a mode set in code, the fallback to measure mode when a reference bend finds no
// reference curve, the hair cross and auto scale flags, and a value bar closed by its close box.
// The value bar opens where it leaves the tool bar uncovered: just below it, or just above it
// where the screen ends below, on the screen either way; also when the tool bar opens second.
// A place that covers nothing is kept.
TEST(PlotToolBar, ValueBarOpensClearOfTheToolBar)
{
    ToolPlot p;
    TFormToolBar* tools = p.Bar();
    TFormCalculateBar* values = p.h.ValueBar();
    const QRect area = tools->screen()->availableGeometry();
    // True below the tool bar, false above it; adjoining either way (a few pixels of frame
    // estimate between them at most), never overlapping, on the screen.
    const auto below = [&] {
        const QRect t = tools->frameGeometry(), v = values->frameGeometry();
        const int gap = v.top() > t.bottom() ? v.top() - t.bottom() : t.top() - v.bottom();
        EXPECT_TRUE(!t.intersects(v) && gap <= 4 && v.left() == t.left()) << gap;
        EXPECT_TRUE(area.contains(v));
        return v.top() > t.bottom();
    };
    p.h.setShowValueBar(true);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(values));
    EXPECT_TRUE(below());
    p.h.setShowValueBar(false);
    tools->move(tools->x(), area.bottom() - tools->frameGeometry().height() - 20);
    values->move(tools->pos());
    p.h.setShowValueBar(true);
    EXPECT_FALSE(below());

    p.h.setShowValueBar(false);
    const QPoint elsewhere = area.topLeft() + QPoint(10, 10);
    values->move(elsewhere);
    p.h.setShowValueBar(true);
    EXPECT_EQ(values->pos(), elsewhere);
    p.h.setShowToolBar(false);
    values->move(tools->pos());
    p.h.setShowToolBar(true);
    EXPECT_FALSE(below());

    // Where the value bar just fits below the tool bar it goes there; a pixel lower, above.
    for (const int lower : {0, 1}) {
        p.h.setShowValueBar(false);
        tools->move(tools->x(), area.bottom() + 1 - tools->frameGeometry().height() -
                                    values->frameGeometry().height() + lower);
        values->move(tools->pos());
        p.h.setShowValueBar(true);
        EXPECT_EQ(below(), lower == 0);
    }
    // A tool bar reaching past the screen's right edge: the value bar ends at that edge.
    p.h.setShowValueBar(false);
    tools->move(area.right() + 11 - values->frameGeometry().width(), area.top() + 40);
    values->move(tools->pos());
    p.h.setShowValueBar(true);
    EXPECT_EQ(values->frameGeometry().right(), area.right());
}

TEST(PlotToolBar, TimerTickMirrorsThePlotOnTheButtons)
{
    ToolPlot p;
    TFormToolBar* bar = p.Bar();
    EXPECT_TRUE(bar->BModeMeasure->isChecked());
    bar->Timer1->setInterval(20);
    p.h.setShowToolBar(false);

    p.h.setMode(modeZoom);
    EXPECT_TRUE(WaitFor([&] { return bar->BModeZoom->isChecked(); }));
    EXPECT_FALSE(bar->BModeMeasure->isChecked());
    p.h.setShowCross(false);
    p.h.setAutoScale(true);
    EXPECT_TRUE(WaitFor([&] { return !bar->BShowCross->isChecked(); }));
    EXPECT_TRUE(WaitFor([&] { return bar->BAutoScale->isChecked(); }));

    p.h.setMode(modeLowerRef);
    EXPECT_TRUE(WaitFor([&] { return bar->BModeLowerRef->isChecked(); }));
    QTest::mousePress(&p.h, Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseRelease(&p.h, Qt::LeftButton, {}, QPoint(200, 150));
    EXPECT_EQ(p.h.Mode(), modeMeasure);
    EXPECT_TRUE(WaitFor([&] { return bar->BModeMeasure->isChecked(); }));

    p.h.setShowToolBar(true);
    QTest::mouseClick(bar->BValueBar, Qt::LeftButton);
    EXPECT_TRUE(p.h.ShowValueBar());
    ASSERT_NE(p.h.ValueBar(), nullptr);
    p.h.ValueBar()->close();
    EXPECT_TRUE(bar->BValueBar->isChecked());
    EXPECT_TRUE(WaitFor([&] { return !bar->BValueBar->isChecked(); }));
    // A tick presses buttons without running their actions.
    EXPECT_FALSE(p.h.ShowValueBar());
    EXPECT_EQ(p.h.Mode(), modeMeasure);
}

// Clicks run the actions: the mode buttons are exclusive and a pressed one stays down when
// clicked again; hair cross, auto scale and value bar follow their buttons; capture scales
// once to the data.
TEST(PlotToolBar, ButtonClicksDriveThePlot)
{
    ToolPlot p;
    TFormToolBar* bar = p.Bar();
    bar->Timer1->stop();
    const std::pair<QToolButton*, TDXMode> modes[] = {{bar->BModeZoom, modeZoom},
                                                      {bar->BModeLowerRef, modeLowerRef},
                                                      {bar->BModeUpperRef, modeUpperRef},
                                                      {bar->BModeCalculate, modeCalculate},
                                                      {bar->BModeMeasure, modeMeasure}};
    for (const auto& [button, mode] : modes) {
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(p.h.Mode(), mode);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_TRUE(button->isChecked());
        EXPECT_EQ(p.h.Mode(), mode);
        EXPECT_EQ(bar->ModeGroup->checkedButton(), button);
    }
    // Each click toggles: the cross starts shown, the value bar hidden.
    for (const bool expected : {false, true}) {
        QTest::mouseClick(bar->BShowCross, Qt::LeftButton);
        EXPECT_EQ(p.h.ShowCross(), expected);
        QTest::mouseClick(bar->BValueBar, Qt::LeftButton);
        EXPECT_EQ(p.h.ShowValueBar(), !expected);
    }

    // Data from -130 to -60 fill less than 40 % of a view of -200 .. 0: capture sets a span of
    // 100 centred on the data.
    p.h.setViewYMin(-200);
    QTest::mouseClick(bar->BCapture, Qt::LeftButton);
    EXPECT_FLOAT_EQ(p.h.ViewYMin(), -145.0f);
    EXPECT_FLOAT_EQ(p.h.ViewYMax(), -45.0f);
    EXPECT_FALSE(p.h.AutoScale());
    QTest::mouseClick(bar->BAutoScale, Qt::LeftButton);
    EXPECT_TRUE(p.h.AutoScale());
}

// The dialog buttons open their dialog modally on the tool bar's plot.
TEST(PlotToolBar, DialogButtonsOpenTheirDialogsOnThePlot)
{
    ToolPlot p;
    TFormToolBar* bar = p.Bar();
    const std::pair<QToolButton*, QDialog*> cases[] = {
        {bar->BTitle, bar->FormTitle}, {bar->BGrid, bar->FormGrid}, {bar->BView, bar->FormAxis}};
    for (const auto& [button, dialog] : cases) {
        QWidget* modal = nullptr;
        QDialog* shown = dialog;
        QTimer::singleShot(0, [&modal, shown] {
            modal = QApplication::activeModalWidget();
            shown->reject();
        });
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(modal, dialog);
    }
    QTimer::singleShot(0, [bar] {
        EXPECT_EQ(bar->FormTitle->ETop->text(), QStringLiteral("Spectrum"));
        EXPECT_EQ(bar->FormAxis->EYMin->text(), QStringLiteral("-140"));
        bar->FormTitle->reject();
    });
    QTest::mouseClick(bar->BTitle, Qt::LeftButton);
}

// The tool bar's grid is one row of 16 cells of 20 x 16 without marks; a colour picked there
// and dropped on the plot's background recolours it.
TEST(PlotToolBar, ColourGridDragsOntoThePlot)
{
    ToolPlot p;
    TFormToolBar* bar = p.Bar();
    TColorGridHisto* grid = bar->ColorGridHisto1;
    EXPECT_EQ(grid->GridOrdering(), TColorGridHisto::go16x1);
    EXPECT_FALSE(grid->ForegroundEnabled());
    EXPECT_FALSE(grid->BackgroundEnabled());
    std::unique_ptr<QMimeData> dragged;
    grid->DragStarter = [&](std::unique_ptr<QMimeData> data) { dragged = std::move(data); };
    QTest::mousePress(grid, Qt::LeftButton, {}, QPoint(12 * 20 + 10, 8));
    ASSERT_TRUE(dragged);
    QDragEnterEvent enter(QPoint(100, 60), Qt::CopyAction, dragged.get(), Qt::LeftButton, {});
    QApplication::sendEvent(&p.h, &enter);
    QDropEvent drop(QPointF(100, 60), Qt::CopyAction, dragged.get(), Qt::LeftButton, {});
    QApplication::sendEvent(&p.h, &drop);
    EXPECT_EQ(p.h.BkColor(), 0xFF0000); // blue, the classic colour of cell 12
}

// Each button shows its own glyph, drawn afresh at the size asked for: at four times the size
// the inked area grows about sixteenfold instead of being a blown-up copy. Glyphs of a
// symmetric design are their own mirror images: the hair cross, the grid and the capture
// arrows both ways, the measure bars and the title's T left to right.
TEST(PlotToolBar, GlyphsAreDistinctDrawnAtEverySizeAndSymmetricByDesign)
{
    ToolPlot p;
    TFormToolBar* bar = p.Bar();
    const QToolButton* buttons[] = {bar->BShowCross,   bar->BModeZoom,      bar->BModeLowerRef,
                                    bar->BModeMeasure, bar->BModeCalculate, bar->BModeUpperRef,
                                    bar->BAutoScale,   bar->BCapture,       bar->BValueBar,
                                    bar->BTitle,       bar->BGrid,          bar->BView};
    const auto inked = [](const QImage& img) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                n += qAlpha(img.pixel(x, y)) > 128;
        return n;
    };
    std::vector<QImage> small;
    for (const QToolButton* b : buttons) {
        SCOPED_TRACE(b->objectName().toStdString());
        const QImage s = b->icon().pixmap(QSize(24, 24)).toImage();
        const QImage l = b->icon().pixmap(QSize(96, 96)).toImage();
        ASSERT_EQ(l.size(), QSize(96, 96));
        EXPECT_GT(inked(s), 10);
        EXPECT_GT(inked(l), 10 * inked(s));
        EXPECT_LT(inked(l), 24 * inked(s));
        for (const QImage& other : small)
            EXPECT_NE(other, s);
        small.push_back(s);
    }
    const std::pair<TToolGlyph, bool> symmetric[] = {{TToolGlyph::HairCross, true},
                                                     {TToolGlyph::Grid, true},
                                                     {TToolGlyph::Capture, true},
                                                     {TToolGlyph::Calculate, false},
                                                     {TToolGlyph::Title, false}};
    // In a rectangle that is not square the glyph is centred, so the symmetry holds there too.
    for (const auto& [glyph, upDown] : symmetric)
        for (QSize size : {QSize(24, 24), QSize(48, 48), QSize(56, 32), QSize(30, 54)}) {
            const QImage img = ToolGlyphIcon(glyph).pixmap(size).toImage();
            ASSERT_EQ(img.size(), size);
            const int w = size.width(), h = size.height();
            int asymmetric = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int a = qAlpha(img.pixel(x, y));
                    asymmetric += std::abs(a - qAlpha(img.pixel(w - 1 - x, y))) > 48;
                    if (upDown)
                        asymmetric += std::abs(a - qAlpha(img.pixel(x, h - 1 - y))) > 48;
                }
            // A few corner pixels where strokes overlap may round differently.
            EXPECT_LE(asymmetric, 6) << int(glyph) << " at " << w << "x" << h;
        }
    // The magnifier's plus sits in the middle of its lens (centre 10, 10 of 24), arms alike.
    const QImage zoom = ToolGlyphIcon(TToolGlyph::Zoom).pixmap(QSize(48, 48)).toImage();
    QRect plus;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) {
            const QRgb c = zoom.pixel(x, y);
            if (qAlpha(c) > 128 && qBlue(c) > qRed(c) + 60)
                plus |= QRect(x, y, 1, 1);
        }
    EXPECT_EQ(plus.width(), plus.height());
    EXPECT_NEAR(plus.left() + plus.width() / 2.0, 20, 1);
    EXPECT_NEAR(plus.top() + plus.height() / 2.0, 20, 1);
}
