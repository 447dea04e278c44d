#include "dxToolGlyphs.h"
#include "dx_Eca.h"
#include "dx_Efa.h"
#include "dx_Efg.h"
#include "dx_Eft.h"
#include "dx_Etb.h"
#include "plot_interaction_support.h"

#include <QApplication>
#include <QButtonGroup>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

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

// The tool bar exists once asked for, a tool window (above its main window only) captioned with the
// plot's top title; its close box switches ShowToolBar off. Clicks run the actions: the mode
// buttons are exclusive and stay down when clicked again, the flags toggle, capture scales once to
// the data, and the dialog buttons open their dialog modally on the plot.
TEST(PlotToolBar, ShownOnRequestCaptionedAndDrivingThePlot)
{
    ToolPlot p;
    EXPECT_EQ(p.h.ToolBar(), nullptr);
    TFormToolBar* bar = p.Bar();
    ASSERT_NE(bar, nullptr);
    bar->Timer1->stop();
    EXPECT_TRUE(bar->isVisible() && bar->isWindow());
    EXPECT_FALSE(bar->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(bar->windowType(), Qt::Tool);
    p.h.setTitleTop(QStringLiteral("Band 2"));
    EXPECT_EQ(bar->windowTitle(), QStringLiteral("Tools: Band 2"));
    bar->close();
    EXPECT_FALSE(p.h.ShowToolBar());
    p.h.setShowToolBar(true);
    EXPECT_EQ(p.h.ToolBar(), bar);
    EXPECT_TRUE(bar->isVisible());

    for (const auto& [button, mode] : {std::pair{bar->BModeZoom, modeZoom},
                                       {bar->BModeLowerRef, modeLowerRef},
                                       {bar->BModeUpperRef, modeUpperRef},
                                       {bar->BModeCalculate, modeCalculate},
                                       {bar->BModeMeasure, modeMeasure}})
        for (int click = 0; click < 2; ++click) {
            QTest::mouseClick(button, Qt::LeftButton);
            EXPECT_EQ(p.h.Mode(), mode);
            EXPECT_EQ(bar->ModeGroup->checkedButton(), button);
        }
    for (const bool expected : {false, true}) {
        QTest::mouseClick(bar->BShowCross, Qt::LeftButton);
        EXPECT_EQ(p.h.ShowCross(), expected);
        QTest::mouseClick(bar->BValueBar, Qt::LeftButton);
        EXPECT_EQ(p.h.ShowValueBar(), !expected);
    }
    // Data from -130 to -60 fill less than 40 % of a view of -200 .. 0: capture sets a span of
    // 100 centred on the data, and leaves scaling off.
    p.h.setViewYMin(-200);
    QTest::mouseClick(bar->BCapture, Qt::LeftButton);
    EXPECT_FLOAT_EQ(p.h.ViewYMin(), -145.0f);
    EXPECT_FLOAT_EQ(p.h.ViewYMax(), -45.0f);
    EXPECT_FALSE(p.h.AutoScale());
    QTest::mouseClick(bar->BAutoScale, Qt::LeftButton);
    EXPECT_TRUE(p.h.AutoScale());

    for (const auto& [button, dialog] :
         {std::pair<QToolButton*, QDialog*>{bar->BTitle, bar->FormTitle},
          {bar->BGrid, bar->FormGrid},
          {bar->BView, bar->FormAxis}}) {
        QWidget* modal = nullptr;
        QTimer::singleShot(0, [&modal, shown = dialog] {
            modal = QApplication::activeModalWidget();
            shown->reject();
        });
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(modal, dialog);
        EXPECT_FALSE(button->isChecked()); // a plain button, not a switch
    }
}

// The value bar opens where it leaves the tool bar uncovered: just below it, or just above it
// where the screen ends below, on the screen either way. A place that covers nothing is kept.
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
    // The value bar opened again with the tool bar moved to (x, y) and itself over it.
    const auto reopen = [&](int x, int y) {
        p.h.setShowValueBar(false);
        tools->move(x, y);
        values->move(tools->pos());
        p.h.setShowValueBar(true);
    };
    p.h.setShowValueBar(true);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(values));
    EXPECT_TRUE(below());
    reopen(tools->x(), area.bottom() - tools->frameGeometry().height() - 20);
    EXPECT_FALSE(below());

    p.h.setShowValueBar(false);
    const QPoint elsewhere = area.topLeft() + QPoint(10, 10);
    values->move(elsewhere);
    p.h.setShowValueBar(true);
    EXPECT_EQ(values->pos(), elsewhere);
    // A tool bar reaching past the screen's right edge: the value bar ends at that edge.
    reopen(area.right() + 11 - values->frameGeometry().width(), area.top() + 40);
    EXPECT_EQ(values->frameGeometry().right(), area.right());
}

// Changes made elsewhere reach the buttons at the next tick of the tool bar's timer, also while
// it is hidden: a mode set in code, the fallback to measure mode when a reference bend finds no
// reference curve, the hair cross and auto scale flags, and a value bar closed by its close box.
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
    plottest::Click(p.h, Qt::LeftButton, 200, 150);
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

// Each button shows a glyph of its own, drawn as vectors centred on the largest square of the
// rectangle asked for, fainter when disabled, and at full size when Qt asks for a bitmap.
TEST(PlotToolBar, EachButtonHasItsOwnScalableGlyph)
{
    ToolPlot p;
    QList<QToolButton*> buttons = p.Bar()->findChildren<QToolButton*>();
    ASSERT_EQ(buttons.size(), int(TToolGlyph::Axis) + 1);
    const auto paint = [](const QIcon& icon, QRect r, QIcon::Mode mode) {
        QImage img(64, 64, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter g(&img);
        icon.paint(&g, r, Qt::AlignCenter, mode);
        return img;
    };
    // The box of the painted pixels and their greatest opacity.
    const auto ink = [](const QImage& img, int& alpha) {
        QRect box;
        alpha = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (const int a = qAlpha(img.pixel(x, y)); a > 0) {
                    box |= QRect(x, y, 1, 1);
                    alpha = std::max(alpha, a);
                }
        return box;
    };
    std::vector<QImage> seen;
    int alpha = 0, faint = 0;
    // Antialiasing may reach a pixel beyond the square.
    for (QToolButton* b : buttons) {
        const QImage normal = paint(b->icon(), {0, 0, 24, 24}, QIcon::Normal);
        EXPECT_TRUE(QRect(-1, -1, 26, 26).contains(ink(normal, alpha)));
        EXPECT_EQ(std::count(seen.begin(), seen.end(), normal), 0);
        seen.push_back(normal);
        ink(paint(b->icon(), {0, 0, 24, 24}, QIcon::Disabled), faint);
        EXPECT_TRUE(faint > 0 && faint < 0.8 * alpha) << faint << " " << alpha;
        // A wide rectangle: the glyph spans the 32 x 32 square at its middle.
        const QRect box = ink(paint(b->icon(), {3, 5, 56, 32}, QIcon::Normal), alpha);
        EXPECT_TRUE(QRect(14, 4, 34, 34).contains(box) && std::max(box.width(), box.height()) > 20);
    }
    const QImage big = p.Bar()->BGrid->icon().pixmap(QSize(96, 96)).toImage();
    ASSERT_EQ(big.size(), QSize(96, 96));
    EXPECT_EQ(qAlpha(big.pixel(12, 48)), 255);
    EXPECT_EQ(qAlpha(big.pixel(20, 48)), 0);
}
