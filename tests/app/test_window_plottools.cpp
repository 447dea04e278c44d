#include "test_window_support.h"

#include <QTest>

#include "MarkerTable.h"
#include "dx_Eca.h"
#include "dx_Efg.h"
#include "dx_Etb.h"

namespace {

void OpenContextMenu(QWidget* Plot, QPoint At)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, At, Plot->mapToGlobal(At));
    QCoreApplication::sendEvent(Plot, &event);
}

} // namespace

// The plot's tool bar and value bar are reached from the main window by their shortcuts and by
// a context menu on the plot, and the About box says how; none of it touches the settings. In
// zoom and calculate mode the right button stays theirs (it undoes a zoom, places the second
// cross): only the other modes open the menu.
TEST_F(WindowTest, PlotToolWindowsReachedByShortcutsAndContextMenu)
{
    StartShown();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    const auto settings = Form->CurrentSettings();
    TDXHistograph* plot = Form->Histo;
    QWindow* window = Form->windowHandle();
    EXPECT_FALSE(plot->ShowToolBar());
    for (const auto& [mode, opens] : {std::pair{modeZoom, false}, std::pair{modeCalculate, false},
                                      std::pair{modeMeasure, true}}) {
        plot->setMode(mode);
        OpenContextMenu(plot, QPoint(300, 100));
        EXPECT_EQ(Form->HistoMenu->isVisible(), opens) << mode;
        Form->HistoMenu->close();
    }

    const auto press = [this](Qt::Key Key, Qt::KeyboardModifiers Modifiers) {
        Form->activateWindow(); // a tool window shown last has the focus
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
        QTest::keyClick(Form.get(), Key, Modifiers);
    };
    press(Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(plot->ShowToolBar());
    ASSERT_NE(plot->ToolBar(), nullptr);
    EXPECT_TRUE(plot->ToolBar()->isVisible());
    press(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(plot->ShowValueBar());
    EXPECT_EQ(plot->ValueBar()->X1->text(), "0.0000"); // the C locale's separator
    // Tool windows of the main window (the marker table too): above it, never above all.
    Form->Measure->ActMarkerTable->trigger();
    for (QWidget* tool :
         {static_cast<QWidget*>(plot->ToolBar()), static_cast<QWidget*>(plot->ValueBar()),
          static_cast<QWidget*>(Form->Measure->Table())}) {
        EXPECT_EQ(tool->windowType(), Qt::Tool);
        EXPECT_FALSE(tool->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_EQ(tool->windowHandle()->transientParent(), window);
    }
    Form->Measure->Table()->close();
    press(Qt::Key_T, Qt::ControlModifier);
    EXPECT_FALSE(plot->ShowToolBar());
    EXPECT_FALSE(plot->ToolBar()->isVisible());

    // The menu shows which windows are open; a window closed by its own close box reads closed.
    plot->ValueBar()->close();
    OpenContextMenu(plot, QPoint(300, 100));
    ASSERT_TRUE(Form->HistoMenu->isVisible());
    EXPECT_FALSE(Form->ActToolBar->isChecked());
    EXPECT_FALSE(Form->ActValueBar->isChecked());
    Form->ActToolBar->trigger();
    Form->HistoMenu->close();
    EXPECT_TRUE(plot->ToolBar()->isVisible());
    plot->ToolBar()->close();
    EXPECT_FALSE(plot->ShowToolBar());
    OpenContextMenu(plot, QPoint(300, 100));
    ASSERT_TRUE(Form->HistoMenu->isVisible());
    EXPECT_FALSE(Form->ActToolBar->isChecked());
    Form->HistoMenu->close();

    const QString about = Form->AboutText();
    EXPECT_TRUE(about.contains(Form->ActToolBar->shortcut().toString(QKeySequence::NativeText)));
    EXPECT_TRUE(about.contains(Form->ActValueBar->shortcut().toString(QKeySequence::NativeText)));
    EXPECT_TRUE(about.contains(QStringLiteral("right-click")));
    EXPECT_EQ(Form->CurrentSettings(), settings);

    // The plot's menu takes the release of the right press that opened it: once the menu has
    // closed, the plot holds no button. In calculate mode mere moves place no cross and report
    // nothing, and a real click places cross 1 as ever.
    Form->BtnClearDisplay->click(); // a flat curve for the crosses to snap to
    int calculations = 0;
    plot->OnCalculate = [&](QObject*, int, int, float, float, float, float) { ++calculations; };
    // Input sent to the window takes the window system's path: a right press opens the context
    // menu, an open menu takes the input.
    const QPoint at = In(plot).topLeft() + QPoint(300, 100);
    QTest::mousePress(window, Qt::RightButton, {}, at);
    QTest::mouseRelease(window, Qt::RightButton, {}, at);
    ASSERT_TRUE(Form->HistoMenu->isVisible());
    QTest::keyClick(Form->HistoMenu, Qt::Key_Escape);
    ASSERT_FALSE(Form->HistoMenu->isVisible());
    plot->setMode(modeCalculate);
    for (const QPoint p : {QPoint(200, 80), QPoint(400, 120)})
        QTest::mouseMove(window, In(plot).topLeft() + p);
    EXPECT_EQ(calculations, 0);
    EXPECT_FALSE(plot->CrossSlot(0).Drawn || plot->CrossSlot(1).Drawn);
    QTest::mouseClick(window, Qt::LeftButton, {}, In(plot).topLeft() + QPoint(400, 120));
    EXPECT_TRUE(plot->CrossSlot(0).Drawn && plot->CrossSlot(0).MouseX == 400);
}

// A zoom is a part of the span on show. Moving the centre or choosing another bandwidth
// replaces it, so plot, waterfall and scroll bar agree again and undo has nothing to bring back.
TEST_F(WindowTest, NewSpanReplacesTheZoom)
{
    StartShown();
    TDXHistograph* plot = Form->Histo;
    plot->setMode(modeZoom);
    const auto zoom = [&] {
        const int y = plot->height() / 2;
        QTest::mousePress(plot, Qt::LeftButton, {}, QPoint(200, y - 20));
        QTest::mouseMove(plot, QPoint(400, y + 20));
        QTest::mouseRelease(plot, Qt::LeftButton, {}, QPoint(400, y + 20));
        ASSERT_TRUE(plot->Zoomed());
    };
    const auto agrees = [&](int HalfKHz) {
        EXPECT_FALSE(plot->Zoomed());
        EXPECT_FLOAT_EQ(plot->ViewXCurrentMin(), float(Form->SBFrq->value() - HalfKHz));
        EXPECT_FLOAT_EQ(plot->ViewXCurrentMax(), float(Form->SBFrq->value() + HalfKHz));
    };
    Form->RGBW->setItemIndex(1); // 10 MHz
    Form->SBFrq->setValue(15000);
    zoom();
    Form->SBFrq->setValue(20000);
    agrees(5000);
    const auto view = std::pair(plot->ViewXCurrentMin(), plot->ViewXCurrentMax());
    QTest::mouseClick(plot, Qt::RightButton, {}, QPoint(300, plot->height() / 2));
    EXPECT_EQ(std::pair(plot->ViewXCurrentMin(), plot->ViewXCurrentMax()), view);

    zoom();
    Form->RGBW->setItemIndex(2); // 20 MHz around the same centre
    EXPECT_EQ(Form->SBFrq->value(), 20000);
    agrees(10000);

    // The grid button shows the plot's grid whatever changed it: the grid dialog (its Cancel
    // too), or a partial grid set in code, which the button shows without widening it.
    plot->setShowToolBar(true);
    TFormGrid* dialog = plot->ToolBar()->FormGrid;
    dialog->show();
    dialog->CBGridVisible->click();
    EXPECT_TRUE(Form->BtnGrid->isChecked());
    dialog->CancelButton->click();
    EXPECT_FALSE(Form->BtnGrid->isChecked());
    plot->setGridVisible(grdHor);
    EXPECT_TRUE(Form->BtnGrid->isChecked());
    EXPECT_EQ(plot->GridVisible(), grdHor);
}
