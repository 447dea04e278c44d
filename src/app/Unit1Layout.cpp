#include "Unit1.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "DisplayIcons.h"
#include "SpektroNeu.h"
#include "SpektroNeuLegend.h"
#include "Unit1Channel.h"
#include "Unit1Limits.h"
#include "Unit1Markers.h"
#include "Unit1Panel.h"
#include "WheelGuard.h"
#include "dxColors.h"
#include "dxHisto.h"

namespace {

template <class W> W* Named(W* Widget, const char* Name)
{
    Widget->setObjectName(QLatin1String(Name));
    return Widget;
}

QToolButton* SpeedButton(QWidget* Parent, const char* Name, const QString& Text, bool Toggle)
{
    auto* button = Named(new QToolButton(Parent), Name);
    button->setText(Text);
    button->setCheckable(Toggle);
    button->setAutoRaise(false);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return button;
}

QSpinBox* SpinEdit(QWidget* Parent, const char* Name, int Min, int Max, int Value)
{
    auto* spin = Named(new QSpinBox(Parent), Name);
    spin->setRange(Min, Max);
    spin->setValue(Value);
    return spin;
}

QVBoxLayout* Column(QWidget* Owner)
{
    auto* column = new QVBoxLayout(Owner);
    column->setContentsMargins(2, 1, 2, 1);
    column->setSpacing(1);
    return column;
}

} // namespace

QWidget* TForm1::BuildDisplayPanel()
{
    PnlHistoSpektro = Named(new QWidget(this), "PnlHistoSpektro");
    // The clipboard copy finds the panel by this text.
    PnlHistoSpektro->setWindowTitle(QStringLiteral("PnlHistoSpektro"));
    auto* column = new QVBoxLayout(PnlHistoSpektro);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Histo = Named(new TDXHistograph(PnlHistoSpektro), "Histo");
    Histo->setFixedHeight(248);
    ConfigureHisto();
    BuildPlotToolsMenu();
    column->addWidget(Histo);
    column->addWidget(Measure->BuildReadout(PnlHistoSpektro));
    column->addWidget(Channel->BuildReadout(PnlHistoSpektro));
    Limits->BuildMenu();

    Spektro = Named(new TSpektroNeu(PnlHistoSpektro), "Spektro");
    Spektro->setZMin(-140.0f);
    Spektro->setGapLeft(60);
    Spektro->setGapRight(0);
    Spektro->setNoFlicker(true);
    Spektro->setXMin(0);
    Spektro->setXMax(0);
    Spektro->setHighlightMin(0);
    Spektro->setHighlightMax(0);
    column->addWidget(Spektro, 1);
    // The level legend follows the waterfall's rows.
    Spektro->installEventFilter(this);
    Spektro->WaveBox()->installEventFilter(this);
    // The waterfall's columns follow the plot's frequency axis.
    Histo->installEventFilter(this);

    PB = Named(new QProgressBar(PnlHistoSpektro), "PB");
    PB->setToolTip(QStringLiteral("Click to change Fileposition"));
    PB->setMinimum(1);
    PB->setMaximum(100);
    PB->setValue(1);
    PB->setTextVisible(false);
    PB->setFixedHeight(18);
    PB->installEventFilter(this);
    column->addWidget(PB);

    PnlScrollBarAbout = Named(new QWidget(PnlHistoSpektro), "PnlScrollBarAbout");
    PnlScrollBarAbout->setFixedHeight(22);
    auto* bar = new QHBoxLayout(PnlScrollBarAbout);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(0);
    PnlCenter = Named(new QLabel(QStringLiteral("CenterFrq"), PnlScrollBarAbout), "PnlCenter");
    PnlCenter->setFixedWidth(60);
    PnlCenter->setAlignment(Qt::AlignCenter);
    bar->addWidget(PnlCenter);
    SBFrq = Named(new QScrollBar(Qt::Horizontal, PnlScrollBarAbout), "SBFrq");
    SBFrq->setRange(0, 40000);
    SBFrq->setValue(20000);
    SBFrq->setPageStep(1000);
    SBFrq->setSingleStep(10);
    SBFrq->setToolTip(QStringLiteral("Center Frequency"));
    bar->addWidget(SBFrq, 1);
    // The typed centre and span, and the channel's width, beside the centre's scroll bar.
    Panel->BuildSpanFields(PnlScrollBarAbout);
    const auto field = [this, bar](const QString& Caption, QWidget* Field) {
        auto* label = new QLabel(Caption, PnlScrollBarAbout);
        label->setBuddy(Field);
        label->setContentsMargins(6, 0, 2, 0);
        bar->addWidget(label);
        bar->addWidget(Field);
    };
    field(QStringLiteral("Center"), Panel->EdtCenter);
    field(QStringLiteral("Span"), Panel->EdtSpan);
    field(QStringLiteral("Channel"), Channel->BuildChannelField(PnlScrollBarAbout));
    column->addWidget(PnlScrollBarAbout);
    return PnlHistoSpektro;
}

void TForm1::ConfigureHisto()
{
    Histo->setToolTip(QStringLiteral("Center Frequency"));
    Histo->setWindowTitle(QStringLiteral("Histogramm"));
    Histo->setColor(clMenuBar);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    Histo->setFont(font);
    Histo->setFontTitleTop(font);
    Histo->setFontXAxis(font);
    Histo->setFontYAxis(font);
    Histo->setFontTitleBottom(font);
    Histo->setFontTitleLeft(font);
    Histo->setFontTitleRight(font);
    Histo->setBkColor(clBlack);
    Histo->setGapLeft(60);
    Histo->setGapRight(0);
    Histo->setGapTop(10);
    Histo->setGapBottom(20);
    Histo->setViewYMin(-140.0f);
    Histo->setViewYMax(0.1f);
    Histo->setViewYGap(10.0f);
    Histo->setViewYDecimals(0);
    Histo->setViewXNominalMax(40000.0f);
    Histo->setViewXCurrentMax(40000.0f);
    Histo->setViewXDecimals(0);
    Histo->setSeriesNumber(1);
    Histo->setSeriesCurrent(1);
    Histo->setSeriesColor(50688);
    Histo->setReduceFlicker(true);
    Histo->setOwnerDrawXAxis(true);
    Histo->setOwnerDrawYAxis(true);
    Histo->setAutoConfig(false);
    Histo->OnCrossMove = [this](QObject* Sender, float X, float Y, int Serie, int Index) {
        Guard([&] { HistoCrossMove(Sender, X, Y, Serie, Index); });
    };
    Histo->OnXAxis = [this](double Value, QString& Output) { HistoXAxis(Value, Output); };
    Histo->OnYAxis = [this](double Value, QString& Output) { HistoYAxis(Value, Output); };
}

QWidget* TForm1::BuildHistoControlPanel()
{
    PnlHistoControl = Named(new QWidget(this), "PnlHistoControl");
    PnlHistoControl->setFixedWidth(HistoControlPanelWidth);
    auto* column = new QVBoxLayout(PnlHistoControl);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    const auto square = [this](const char* Name, const QString& Hint, bool Toggle) {
        auto* button = Named(new QToolButton(PnlHistoControl), Name);
        button->setFixedSize(33, 33);
        button->setToolTip(Hint);
        button->setCheckable(Toggle);
        // The text stays as the button's name; the icon is what shows.
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setIconSize(QSize(24, 24));
        return button;
    };
    BtnClearDisplay = square("BtnClearDisplay", QStringLiteral("Clear Display"), false);
    BtnClearDisplay->setText(QStringLiteral("C"));
    BtnClearDisplay->setIcon(DisplayIcon(TDisplayIcon::Clear));
    BtnCopy2ClpBrd = square("BtnCopy2ClpBrd", QStringLiteral("Display-->Clipboard"), false);
    BtnCopy2ClpBrd->setText(QStringLiteral("Cp"));
    BtnCopy2ClpBrd->setIcon(DisplayIcon(TDisplayIcon::Copy));
    // The hint keeps its text; saving is offered by the button's context menu, which also
    // shows the shortcut.
    ActSaveDisplay = new QAction(QStringLiteral("Save Display as PNG..."), this);
    ActSaveDisplay->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    ActSaveDisplay->setShortcutContext(Qt::WindowShortcut);
    addAction(ActSaveDisplay);
    BtnCopy2ClpBrd->addAction(ActSaveDisplay);
    BtnCopy2ClpBrd->setContextMenuPolicy(Qt::ActionsContextMenu);
    BtnGrid = square("BtnGrid", QStringLiteral("Grid Lines"), true);
    BtnGrid->setText(QStringLiteral("#"));
    BtnGrid->setIcon(DisplayIcon(TDisplayIcon::Grid));
    for (QToolButton* b : {BtnClearDisplay, BtnCopy2ClpBrd, BtnGrid})
        column->addWidget(b, 0, Qt::AlignHCenter);

    // Labels and bars are placed by PnlHistoControlResize, not by a layout.
    PnlRangeMin = Named(new QWidget(PnlHistoControl), "PnlRangeMin");
    PnlRangeMin->installEventFilter(this);
    LblRange = Named(new QLabel(QStringLiteral("Range"), PnlRangeMin), "LblRange");
    SBRange = Named(new QScrollBar(Qt::Vertical, PnlRangeMin), "SBRange");
    SBRange->setRange(-100, 0);
    SBRange->setValue(0);
    SBRange->setToolTip(QStringLiteral("Level Range"));
    LblMin = Named(new QLabel(QStringLiteral("Min."), PnlRangeMin), "LblMin");
    SBMin = Named(new QScrollBar(Qt::Vertical, PnlRangeMin), "SBMin");
    SBMin->setRange(20, 140);
    SBMin->setValue(120);
    SBMin->setToolTip(QStringLiteral("Min-Level"));
    for (QLabel* l : {LblRange, LblMin}) {
        l->adjustSize();
        l->move(4, l->y());
    }
    Legend = Named(new TSpektroLegend(PnlRangeMin), "Legend");
    column->addWidget(PnlRangeMin, 1);

    PnlAbout = Named(new QLabel(QStringLiteral("About"), PnlHistoControl), "PnlAbout");
    PnlAbout->setFixedHeight(21);
    PnlAbout->setAlignment(Qt::AlignCenter);
    PnlAbout->setAutoFillBackground(true);
    PnlAbout->setStyleSheet(QStringLiteral("background-color: #A6CAF0; font-weight: bold;"));
    PnlAbout->installEventFilter(this);
    column->addWidget(PnlAbout);
    UpdateLegend();
    return PnlHistoControl;
}

QWidget* TForm1::BuildSettingsPanel()
{
    PnlSettings = Named(new QWidget(this), "PnlSettings");
    PnlSettings->setFixedWidth(SettingsPanelWidth);
    PnlSettings->installEventFilter(this);
    auto* outer = new QVBoxLayout(PnlSettings);
    outer->setContentsMargins(0, 0, 0, 0);
    ScrollSettings = Named(new QScrollArea(PnlSettings), "ScrollSettings");
    ScrollSettings->setFrameShape(QFrame::NoFrame);
    ScrollSettings->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The controls fill the panel's height where it has room for them and scroll where not.
    ScrollSettings->setWidgetResizable(true);
    ScrollSettings->verticalScrollBar()->installEventFilter(this);
    outer->setSpacing(0);
    outer->addWidget(ScrollSettings, 1);
    // The run controls stay in sight however short the window: pinned under the part that
    // scrolls, never inside it.
    auto* pinned = new QWidget(PnlSettings);
    Column(pinned)->addWidget(BuildControlGroup(pinned));
    outer->addWidget(pinned);
    Splitter1 = Named(new QSplitter(Qt::Vertical), "Splitter1");
    Splitter1->setHandleWidth(5);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->addWidget(BuildAnalysisGroups());
    Splitter1->addWidget(BuildRunGroups());
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    ScrollSettings->setWidget(Splitter1);
    FitSettingsPanel();
    return PnlSettings;
}

// The splitter's upper part: how the spectrum is analysed and measured.
QWidget* TForm1::BuildAnalysisGroups()
{
    auto* top = new QWidget;
    auto* topColumn = Column(top);
    RGFenster = Named(new TRadioGroup(QStringLiteral("FFT-Windowfunction"),
                                      {QStringLiteral("Rect"), QStringLiteral("Hann"),
                                       QStringLiteral("Hamm"), QStringLiteral("Blackm.")},
                                      2, top),
                      "RGFenster");
    RGAtt = Named(new TRadioGroup(QStringLiteral("Attenuation"),
                                  {QStringLiteral("0 dB"), QStringLiteral("10 dB"),
                                   QStringLiteral("20 dB"), QStringLiteral("30 dB")},
                                  2, top),
                  "RGAtt");
    RGBW = Named(new TRadioGroup(QStringLiteral("Bandwidth"),
                                 {QStringLiteral("5 MHz"), QStringLiteral("10 MHz"),
                                  QStringLiteral("20 MHz"), QStringLiteral("40 MHz")},
                                 2, top),
                 "RGBW");
    for (QWidget* w : {static_cast<QWidget*>(RGFenster), static_cast<QWidget*>(RGAtt),
                       static_cast<QWidget*>(RGBW), static_cast<QWidget*>(BuildDisplayGroup(top))})
        topColumn->addWidget(w);
    QGroupBox* traces = Measure->BuildTracesGroup(top);
    // "Limits" beside "Clear": the panel has no row to spare.
    auto* tracesColumn = static_cast<QVBoxLayout*>(traces->layout());
    tracesColumn->removeWidget(Measure->BtnClearTraces);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(1);
    buttons->addWidget(Measure->BtnClearTraces);
    buttons->addWidget(Limits->BuildLimitsButton(traces));
    tracesColumn->addLayout(buttons);
    topColumn->addWidget(traces);
    topColumn->addStretch(1);
    return top;
}

QGroupBox* TForm1::BuildDisplayGroup(QWidget* Parent)
{
    GBDisplay = Named(new QGroupBox(Parent), "GBDisplay");
    // A caption beside its field, so that the plot's level axis finds room in the panel.
    auto* display = new QGridLayout(GBDisplay);
    display->setContentsMargins(2, 1, 2, 1);
    display->setSpacing(1);
    display->setHorizontalSpacing(2);
    int row = 0;
    const auto captioned = [&](const QString& Caption, QWidget* Field) {
        auto* label = new QLabel(Caption, GBDisplay);
        label->setBuddy(Field);
        display->addWidget(label, row, 0);
        display->addWidget(Field, row++, 1);
    };
    const auto whole = [&](QWidget* Widget) { display->addWidget(Widget, row++, 0, 1, 2); };
    SEFft = SpinEdit(GBDisplay, "SEFft", 8, 12, 11);
    captioned(QStringLiteral("FFT Exponent"), SEFft);
    SEAvg = SpinEdit(GBDisplay, "SEAvg", 1, 64, 1);
    captioned(QStringLiteral("Averaging"), SEAvg);
    Panel->BuildLevelControls(GBDisplay);
    captioned(QStringLiteral("Ref (dBm)"), Panel->SERef);
    captioned(QStringLiteral("dB/div"), Panel->CBDbPerDiv);
    whole(Panel->BtnAutoLevel);
    CBDither = Named(new QCheckBox(QStringLiteral("Dither"), GBDisplay), "CBDither");
    CBPreamp = Named(new QCheckBox(QStringLiteral("Preamp"), GBDisplay), "CBPreamp");
    whole(CBDither);
    whole(CBPreamp);
    whole(Panel->CBInputLevels);
    display->setColumnStretch(1, 1);
    return GBDisplay;
}

// The splitter's lower part: the file position, the offsets and the frame rate.
QWidget* TForm1::BuildRunGroups()
{
    auto* bottom = new QWidget;
    auto* bottomColumn = Column(bottom);
    bottomColumn->addStretch(1);
    GBFilePos = Named(new QGroupBox(QStringLiteral("Fileposition"), bottom), "GBFilePos");
    auto* filePos = Column(GBFilePos);
    LblMax = Named(new QLabel(QStringLiteral("Max"), GBFilePos), "LblMax");
    LblAkt = Named(new QLabel(QStringLiteral("Akt"), GBFilePos), "LblAkt");
    filePos->addWidget(LblMax);
    filePos->addWidget(LblAkt);
    bottomColumn->addWidget(GBFilePos);
    bottomColumn->addWidget(BuildOffsetsGroup(bottom));
    bottomColumn->addWidget(BuildSpeedGroup(bottom));
    return bottom;
}

QGroupBox* TForm1::BuildOffsetsGroup(QWidget* Parent)
{
    GBOffsets = Named(new QGroupBox(QStringLiteral("Offsets"), Parent), "GBOffsets");
    GBOffsets->setFixedHeight(91);
    auto* offsets = new QGridLayout(GBOffsets);
    offsets->setContentsMargins(4, 2, 4, 2);
    offsets->setSpacing(1);
    EdtFrqOffset = Named(new QLineEdit(GBOffsets), "EdtFrqOffset");
    EdtLevelOffset = Named(new QLineEdit(GBOffsets), "EdtLevelOffset");
    offsets->addWidget(new QLabel(QStringLiteral("Freq (MHz)"), GBOffsets), 0, 0);
    offsets->addWidget(EdtFrqOffset, 0, 1);
    offsets->addWidget(new QLabel(QStringLiteral("Level (dB)"), GBOffsets), 1, 0);
    offsets->addWidget(EdtLevelOffset, 1, 1);
    CBInverted = Named(new QCheckBox(QStringLiteral("inverted"), GBOffsets), "CBInverted");
    offsets->addWidget(CBInverted, 2, 0, 1, 2);
    return GBOffsets;
}

QGroupBox* TForm1::BuildSpeedGroup(QWidget* Parent)
{
    GBSpeed = Named(new QGroupBox(QStringLiteral("Framerate (Fps]"), Parent), "GBSpeed");
    auto* speed = Column(GBSpeed);
    SESpeed = SpinEdit(GBSpeed, "SESpeed", 1, 100, 100);
    SESpeed->setToolTip(QStringLiteral("Max depends on your hardware"));
    speed->addWidget(SESpeed);
    RBSync = Named(new QRadioButton(QStringLiteral("Perseus sync"), GBSpeed), "RBSync");
    RBFast = Named(new QRadioButton(QStringLiteral("Fast scan"), GBSpeed), "RBFast");
    RBSlow = Named(new QRadioButton(QStringLiteral("Slow scan"), GBSpeed), "RBSlow");
    for (QRadioButton* rb : {RBSync, RBFast, RBSlow})
        speed->addWidget(rb);
    return GBSpeed;
}

QGroupBox* TForm1::BuildControlGroup(QWidget* Parent)
{
    GBControl = Named(new QGroupBox(Parent), "GBControl");
    auto* control = Column(GBControl);
    BtnPlayback = SpeedButton(GBControl, "BtnPlayback", QStringLiteral("Playback"), true);
    BtnLoadFile = SpeedButton(GBControl, "BtnLoadFile", QStringLiteral("Load File"), false);
    BtnRecord = SpeedButton(GBControl, "BtnRecord", QStringLiteral(" Record "), true);
    BtnStartStop = SpeedButton(GBControl, "BtnStartStop", QStringLiteral("Start/Stop"), true);
    BtnStartStop->setFixedHeight(30);
    for (QToolButton* b : {BtnPlayback, BtnLoadFile, BtnRecord, BtnStartStop})
        control->addWidget(b);
    return GBControl;
}

void TForm1::FitSettingsPanel()
{
    // The designed width assumes a narrow font: a caption or title that needs more in the
    // font actually used widens the panel rather than being cut. A scroll bar, when the window
    // is too short for the controls, gets room of its own beside them.
    const QScrollBar* bar = ScrollSettings->verticalScrollBar();
    const int scroll = bar->isVisibleTo(ScrollSettings) ? bar->sizeHint().width() : 0;
    const int needed = std::max({SettingsPanelWidth, Splitter1->minimumSizeHint().width() + scroll,
                                 GBControl->parentWidget()->minimumSizeHint().width()});
    if (PnlSettings->width() != needed || PnlSettings->minimumWidth() != needed)
        PnlSettings->setFixedWidth(needed);
}

void TForm1::ConnectHandlers()
{
    // Each connection runs its handler at the edge of the event loop, so a run-time
    // error ends there with one error box.
    const auto on = [this](auto Handler) {
        return [this, Handler] { Guard([&] { (this->*Handler)(); }); };
    };

    connect(InitTimer, &QTimer::timeout, this, on(&TForm1::InitTimerTimer));
    connect(Timer1, &QTimer::timeout, this, on(&TForm1::Timer1Timer));
    connect(RecordStatusTimer, &QTimer::timeout, this, on(&TForm1::RecordStatusTick));
    connect(BtnStartStop, &QToolButton::clicked, this, on(&TForm1::BtnStartStopClick));
    connect(BtnRecord, &QToolButton::clicked, this, on(&TForm1::BtnRecordClick));
    connect(BtnPlayback, &QToolButton::clicked, this, on(&TForm1::BtnPlaybackClick));
    connect(BtnLoadFile, &QToolButton::clicked, this, on(&TForm1::BtnLoadFileClick));
    connect(BtnClearDisplay, &QToolButton::clicked, this, on(&TForm1::BtnClearDisplayClick));
    connect(BtnCopy2ClpBrd, &QToolButton::clicked, this, on(&TForm1::BtnCopy2ClpBrdClick));
    connect(ActSaveDisplay, &QAction::triggered, this, on(&TForm1::SaveDisplayClick));
    connect(BtnGrid, &QToolButton::clicked, this, on(&TForm1::BtnGridClick));
    Histo->OnGridVisibleChange = [this](QObject*) { HistoGridVisibleChange(); };

    connect(RGBW, &TRadioGroup::Click, this, on(&TForm1::RGBWClick));
    connect(RGAtt, &TRadioGroup::Click, this, on(&TForm1::RGAttClick));
    connect(RGFenster, &TRadioGroup::Click, this, on(&TForm1::RGFensterClick));
    connect(SBFrq, &QScrollBar::valueChanged, this, on(&TForm1::SBFrqChange));
    connect(SBMin, &QScrollBar::valueChanged, this, on(&TForm1::SBMinChange));
    connect(SBRange, &QScrollBar::valueChanged, this, on(&TForm1::SBRangeChange));
    connect(CBDither, &QCheckBox::toggled, this, on(&TForm1::CBDitherClick));
    connect(CBPreamp, &QCheckBox::toggled, this, on(&TForm1::CBPreampClick));
    connect(SEFft, &QSpinBox::valueChanged, this, on(&TForm1::SEFftChange));
    connect(SEAvg, &QSpinBox::valueChanged, this, on(&TForm1::FrameSettingsChanged));
    connect(CBInverted, &QCheckBox::toggled, this, on(&TForm1::FrameSettingsChanged));
    connect(SESpeed, &QSpinBox::valueChanged, this, on(&TForm1::SESpeedChange));

    // A radio button's handler runs when it becomes selected.
    const auto selected = [this](auto Handler) {
        return [this, Handler](bool Checked) {
            if (Checked)
                Guard([&] { (this->*Handler)(); });
        };
    };
    connect(RBFast, &QRadioButton::toggled, this, selected(&TForm1::RBFastClick));
    connect(RBSlow, &QRadioButton::toggled, this, selected(&TForm1::RBSlowClick));
    connect(RBSync, &QRadioButton::toggled, this, selected(&TForm1::RBSyncClick));

    for (QWidget* w : {static_cast<QWidget*>(SEFft), static_cast<QWidget*>(SEAvg),
                       static_cast<QWidget*>(SESpeed), static_cast<QWidget*>(EdtFrqOffset),
                       static_cast<QWidget*>(EdtLevelOffset)})
        w->installEventFilter(this);
    KeepWheelForScrolling(PnlSettings, ScrollSettings);
}

bool TForm1::eventFilter(QObject* Watched, QEvent* Event)
{
    switch (Event->type()) {
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(Event);
        auto* widget = qobject_cast<QWidget*>(Watched);
        if (widget == nullptr || key->text().size() != 1)
            break;
        bool pass = true;
        Guard([&] { pass = SEFftKeyPress(widget, key->text().front()); });
        return !pass;
    }
    case QEvent::MouseButtonRelease:
        if (Watched == PnlAbout) {
            Guard([this] { PnlAboutClick(); });
        } else if (Watched == PB) {
            const int x = static_cast<QMouseEvent*>(Event)->position().toPoint().x();
            Guard([this, x] { PBMouseUp(x); });
        }
        break;
    case QEvent::Resize:
        if (Watched == PnlRangeMin)
            Guard([this] { PnlHistoControlResize(); });
        if (Watched == PnlRangeMin || Watched == Spektro->WaveBox())
            PlaceLegend();
        if (Watched == Histo || Watched == Spektro->WaveBox())
            UpdateWaterfallAxis();
        break;
    case QEvent::Move:
        if (Watched == Spektro)
            PlaceLegend();
        if (Watched == Histo || Watched == Spektro || Watched == Spektro->WaveBox())
            UpdateWaterfallAxis();
        break;
    case QEvent::LayoutRequest:
        if (Watched == PnlSettings)
            FitSettingsPanel();
        break;
    case QEvent::Show:
    case QEvent::Hide:
        if (ScrollSettings && Watched == ScrollSettings->verticalScrollBar())
            FitSettingsPanel();
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(Watched, Event);
}
