// The plot tool bar.

#include "dx_Etb.h"

#include "dxColorhis.h"
#include "dxHistoInt.h"
#include "dxToolGlyphs.h"
#include "dx_Efa.h"
#include "dx_Efg.h"
#include "dx_Eft.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

TFormToolBar::TFormToolBar(QWidget* parent)
    // A tool window of the plot's window: above that window, never above dialogs or other
    // programs.
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormToolBar"));
    setWindowTitle(QStringLiteral("Tools"));
    setFixedSize(337, 54);
    QFont f = font();
    f.setBold(true);
    setFont(f);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    auto button = [this](const char* name, int left, TToolGlyph glyph, const char* hint,
                         bool checkable) {
        auto* b = new QToolButton(this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(left, 3, 25, 25);
        b->setIcon(ToolGlyphIcon(glyph));
        b->setIconSize(QSize(19, 19));
        b->setToolTip(QString::fromLatin1(hint));
        b->setCheckable(checkable);
        b->setAutoRaise(!checkable);
        return b;
    };
    BShowCross = button("BShowCross", 8, TToolGlyph::HairCross, "Hair cross", true);
    BModeZoom = button("BModeZoom", 40, TToolGlyph::Zoom, "Zoom", true);
    BModeLowerRef =
        button("BModeLowerRef", 64, TToolGlyph::LowerRef, "lower reference curve", true);
    BModeMeasure = button("BModeMeasure", 88, TToolGlyph::Curves, "curves", true);
    BModeCalculate = button("BModeCalculate", 112, TToolGlyph::Calculate, "Measure", true);
    BModeUpperRef =
        button("BModeUpperRef", 136, TToolGlyph::UpperRef, "upper reference curve", true);
    BAutoScale = button("BAutoScale", 168, TToolGlyph::AutoScale, "Autoscale", true);
    BCapture = button("BCapture", 192, TToolGlyph::Capture, "capture", false);
    BValueBar = button("BValueBar", 224, TToolGlyph::ValueBar, "Show values", true);
    BTitle = button("BTitle", 256, TToolGlyph::Title, "Labeling", false);
    BGrid = button("BGrid", 280, TToolGlyph::Grid, "Grid", false);
    BView = button("BView", 304, TToolGlyph::Axis, "Measurements", false);

    // The mode buttons: one is always down, a click on the pressed one keeps it down.
    ModeGroup = new QButtonGroup(this);
    ModeGroup->setExclusive(true);
    ModeGroup->addButton(BModeMeasure, modeMeasure);
    ModeGroup->addButton(BModeLowerRef, modeLowerRef);
    ModeGroup->addButton(BModeUpperRef, modeUpperRef);
    ModeGroup->addButton(BModeZoom, modeZoom);
    ModeGroup->addButton(BModeCalculate, modeCalculate);
    BModeMeasure->setChecked(true);

    ColorGridHisto1 = new TColorGridHisto(this);
    ColorGridHisto1->setObjectName(QStringLiteral("ColorGridHisto1"));
    ColorGridHisto1->setGridOrdering(TColorGridHisto::go16x1);
    ColorGridHisto1->setForegroundEnabled(false);
    ColorGridHisto1->setBackgroundEnabled(false);
    ColorGridHisto1->setGeometry(8, 32, 320, 16);
    ColorGridHisto1->setToolTip(QStringLiteral("Colors"));
    ColorGridHisto1->setCursor(Qt::CrossCursor);

    FormTitle = new TFormTitle(this);
    FormGrid = new TFormGrid(this);
    FormAxis = new TFormAxis(this);

    // Clicks only (not the synchronisation, which sets buttons without clicking them).
    connect(BShowCross, &QToolButton::clicked, this, [this](bool down) {
        if (m_histo)
            m_histo->setShowCross(down);
    });
    connect(ModeGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (m_histo && ModeGroup->button(id)->isChecked())
            m_histo->setMode(static_cast<TDXMode>(id));
    });
    connect(BAutoScale, &QToolButton::clicked, this, [this](bool down) {
        if (m_histo)
            m_histo->setAutoScale(down);
    });
    connect(BCapture, &QToolButton::clicked, this, [this] {
        if (m_histo)
            m_histo->ScaleOnce();
    });
    connect(BValueBar, &QToolButton::clicked, this, [this](bool down) {
        if (m_histo)
            m_histo->setShowValueBar(down);
    });
    connect(BTitle, &QToolButton::clicked, FormTitle, &QDialog::exec);
    connect(BGrid, &QToolButton::clicked, FormGrid, &QDialog::exec);
    connect(BView, &QToolButton::clicked, FormAxis, &QDialog::exec);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TFormToolBar::Timer1Timer);
    Timer1->start();
}

void TFormToolBar::SetHisto(TDXHistographInt* Histo)
{
    m_histo = Histo;
    FormTitle->SetHisto(Histo);
    FormGrid->SetHisto(Histo);
    FormAxis->SetHisto(Histo);
}

void TFormToolBar::Timer1Timer()
{
    if (!m_histo)
        return;
    BValueBar->setChecked(m_histo->ShowValueBar());
    BShowCross->setChecked(m_histo->ShowCross());
    BAutoScale->setChecked(m_histo->AutoScale());
    if (QAbstractButton* mode = ModeGroup->button(m_histo->Mode()))
        mode->setChecked(true);
}

bool TFormToolBar::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show)
        Timer1Timer();
    return QWidget::event(event);
}

void TFormToolBar::closeEvent(QCloseEvent* event)
{
    if (m_histo)
        m_histo->setShowToolBar(false);
    QWidget::closeEvent(event);
}
