// Reach of the plot's tool windows from the main window: a context menu on the plot and two
// shortcuts. Nothing here is stored in the settings.

#include "Unit1.h"

#include <QAction>
#include <QMenu>

#include "Unit1Markers.h"
#include "dxHisto.h"

void TForm1::BuildPlotToolsMenu()
{
    ActToolBar = new QAction(QStringLiteral("Plot tool bar"), this);
    ActToolBar->setObjectName(QStringLiteral("ActToolBar"));
    ActToolBar->setCheckable(true);
    ActToolBar->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    ActValueBar = new QAction(QStringLiteral("Value bar"), this);
    ActValueBar->setObjectName(QStringLiteral("ActValueBar"));
    ActValueBar->setCheckable(true);
    ActValueBar->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    for (QAction* action : {ActToolBar, ActValueBar}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    // The window's state is read when triggered: either window may have been closed by its own
    // close box since.
    connect(ActToolBar, &QAction::triggered, this,
            [this] { Guard([this] { Histo->setShowToolBar(!Histo->ShowToolBar()); }); });
    connect(ActValueBar, &QAction::triggered, this,
            [this] { Guard([this] { Histo->setShowValueBar(!Histo->ShowValueBar()); }); });

    HistoMenu = new QMenu(this);
    HistoMenu->setObjectName(QStringLiteral("HistoMenu"));
    HistoMenu->addAction(ActToolBar);
    HistoMenu->addAction(ActValueBar);
    connect(HistoMenu, &QMenu::aboutToShow, this, [this] {
        ActToolBar->setChecked(Histo->ShowToolBar());
        ActValueBar->setChecked(Histo->ShowValueBar());
    });
    // The menu takes the release of the press that opened it, however it closes.
    connect(HistoMenu, &QMenu::aboutToHide, Histo, &TDXHistographInt::EndPress);
    Histo->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Histo, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& Pos) { Guard([this, Pos] { HistoContextMenu(Pos); }); });
}

void TForm1::HistoContextMenu(const QPoint& Pos)
{
    // Zoom mode undoes a zoom and calculate mode places the second cross with the right button;
    // there the right button stays theirs (the shortcuts still reach the tool windows).
    const TDXMode mode = Histo->Mode();
    if (mode == modeZoom || mode == modeCalculate)
        return;
    Measure->SetMenuPlace(Pos);
    HistoMenu->popup(Histo->mapToGlobal(Pos));
}

QString TForm1::PlotToolsHint() const
{
    return QStringLiteral("Plot tools (zoom, reference curves, measuring, value display, "
                          "titles, grid, axes and colours): right-click the spectrum plot or "
                          "press %1 for the tool bar, %2 for the value bar.")
        .arg(ActToolBar->shortcut().toString(QKeySequence::NativeText),
             ActValueBar->shortcut().toString(QKeySequence::NativeText));
}
