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
#include <QPainterPath>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
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

// The glyph designs on their 24 x 24 square: strokes in round-capped pens, the curve most of them
// show, arrows with heads 3 back and 2.5 across, double arrows pointing out from the middle.
// Separate strokes: where they cross, each is blended on its own.
void Stroke(QPainter& p, QColor c, double w, std::initializer_list<QLineF> lines = {})
{
    p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    for (const QLineF& l : lines)
        p.drawLine(l);
}

void Wave(QPainter& p)
{
    Stroke(p, QColor(0, 110, 0), 1.8);
    QPainterPath w(QPointF(3, 14));
    w.cubicTo(7, 4, 10, 20, 13, 12);
    w.cubicTo(16, 6, 18, 14, 21, 10);
    p.drawPath(w);
}

void Arrows(QPainter& p, QPointF a, QPointF b)
{
    const QPointF m = (a + b) / 2;
    for (QPointF to : {a, b}) {
        const QPointF d = (to - m) / std::hypot(to.x() - m.x(), to.y() - m.y());
        const QPointF n(-d.y(), d.x());
        p.drawLine(m, to);
        p.drawLine(to, to - 3 * d + 2.5 * n);
        p.drawLine(to, to - 3 * d - 2.5 * n);
    }
}

void Design(QPainter& p, TToolGlyph g)
{
    const QColor ink(32, 32, 32), ref(200, 0, 0), accent(0, 70, 180);
    using L = QLineF;
    switch (g) {
    case TToolGlyph::HairCross:
        Stroke(p, ink, 1.6, {L(12, 2, 12, 22), L(2, 12, 22, 12)});
        Stroke(p, ref, 1.6);
        p.drawEllipse(QPointF(12, 12), 4.5, 4.5);
        return;
    case TToolGlyph::Zoom:
        Stroke(p, ink, 2.2);
        p.drawEllipse(QPointF(10, 10), 6, 6);
        p.drawLine(L(14.5, 14.5, 21, 21));
        Stroke(p, accent, 1.6, {L(7, 10, 13, 10), L(10, 7, 10, 13)});
        return;
    case TToolGlyph::LowerRef:
    case TToolGlyph::UpperRef: {
        Wave(p);
        Stroke(p, ref, 2.2);
        const double e = g == TToolGlyph::UpperRef ? 5 : 20, c = e == 5 ? 1 : 24;
        QPainterPath arc(QPointF(3, e));
        arc.cubicTo(9, c, 15, c, 21, e);
        p.drawPath(arc);
        return;
    }
    case TToolGlyph::Curves:
        Wave(p);
        Stroke(p, ink, 1.4, {L(13, 5, 13, 19), L(6, 12, 20, 12)});
        return;
    case TToolGlyph::Calculate:
        Stroke(p, ink, 1.6, {L(5, 3, 5, 21), L(19, 3, 19, 21)});
        Stroke(p, accent, 1.6);
        return Arrows(p, {6.5, 12}, {17.5, 12});
    case TToolGlyph::AutoScale:
        Wave(p);
        Stroke(p, accent, 1.6);
        return Arrows(p, {21, 2.5}, {21, 21.5});
    case TToolGlyph::Capture:
        Stroke(p, ink, 1.6, {L(4, 3, 20, 3), L(4, 21, 20, 21)});
        Stroke(p, accent, 1.8);
        return Arrows(p, {12, 5}, {12, 19});
    case TToolGlyph::ValueBar:
        Stroke(p, ink, 1.5);
        p.setBrush(QColor(255, 255, 230));
        p.drawRect(QRectF(3, 4, 18, 16));
        Stroke(p, ink, 1.5, {L(3, 8, 21, 8)});
        Stroke(p, accent, 1.6, {L(6, 12, 18, 12), L(6, 16, 14, 16)});
        return;
    case TToolGlyph::Title:
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRect(QRectF(4, 3, 16, 3.5));
        p.drawRect(QRectF(10.25, 3, 3.5, 18));
        return;
    case TToolGlyph::Grid:
        Stroke(p, ink, 1.4);
        p.drawRect(QRectF(3, 3, 18, 18));
        Stroke(p, ink, 1.4, {L(9, 3, 9, 21), L(3, 9, 21, 9), L(15, 3, 15, 21), L(3, 15, 21, 15)});
        return;
    case TToolGlyph::Axis:
        Stroke(p, ink, 1.8, {L(5, 2, 5, 19), L(5, 19, 22, 19)});
        for (double v : {9.0, 14.0, 19.0})
            Stroke(p, ink, 1.3, {L(v, 19, v, 22), L(2, v - 5, 5, v - 5)});
        return;
    }
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
    p.h.setShowToolBar(false);
    values->move(tools->pos());
    p.h.setShowToolBar(true);
    EXPECT_FALSE(below());

    // Where the value bar just fits below the tool bar it goes there; a pixel lower, above.
    for (const int lower : {0, 1}) {
        reopen(tools->x(), area.bottom() + 1 - tools->frameGeometry().height() -
                               values->frameGeometry().height() + lower);
        EXPECT_EQ(below(), lower == 0);
    }
    // A tool bar reaching past the screen's right edge: the value bar ends at that edge.
    reopen(area.right() + 11 - values->frameGeometry().width(), area.top() + 40);
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

// Each button shows its own glyph, drawn afresh as vectors at the size asked for, centred and
// scaled on the largest square of the rectangle; a disabled glyph is drawn at 35 % opacity.
// Compared pixel for pixel with the design painted here.
TEST(PlotToolBar, GlyphsMatchTheirDesignsAtEverySize)
{
    ToolPlot p;
    TFormToolBar* bar = p.Bar();
    // Left to right the buttons show the glyphs in their declared order.
    QList<QToolButton*> buttons = bar->findChildren<QToolButton*>();
    std::sort(buttons.begin(), buttons.end(),
              [](QToolButton* a, QToolButton* b) { return a->x() < b->x(); });
    ASSERT_EQ(buttons.size(), int(TToolGlyph::Axis) + 1);
    const QRect rects[] = {{0, 0, 24, 24}, {0, 0, 48, 48}, {3, 5, 56, 32}, {7, 2, 30, 54}};
    for (int glyph = 0; glyph < buttons.size(); ++glyph)
        for (const QRect& r : rects)
            for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
                SCOPED_TRACE(std::to_string(glyph) + " " + std::to_string(r.width()) + "x" +
                             std::to_string(r.height()) + " mode " + std::to_string(mode));
                QImage got(64, 64, QImage::Format_ARGB32_Premultiplied), want = got;
                got.fill(Qt::transparent);
                want.fill(Qt::transparent);
                {
                    QPainter g(&got);
                    buttons[glyph]->icon().paint(&g, r, Qt::AlignCenter, mode);
                    QPainter w(&want);
                    w.setRenderHint(QPainter::Antialiasing);
                    const double side = std::min(r.width(), r.height());
                    w.translate(r.x() + (r.width() - side) / 2, r.y() + (r.height() - side) / 2);
                    w.scale(side / 24, side / 24);
                    w.setOpacity(mode == QIcon::Disabled ? 0.35 : 1);
                    Design(w, TToolGlyph(glyph));
                }
                EXPECT_TRUE(got == want);
            }
    // What Qt asks for when it wants a bitmap of a given size in device pixels.
    const QImage big = bar->BGrid->icon().pixmap(QSize(96, 96)).toImage();
    ASSERT_EQ(big.size(), QSize(96, 96));
    EXPECT_EQ(qAlpha(big.pixel(12, 48)), 255);
    EXPECT_EQ(qAlpha(big.pixel(20, 48)), 0);
}
