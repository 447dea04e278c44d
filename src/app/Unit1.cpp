#include "Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "SpektroNeu.h"
#include "Unit1Channel.h"
#include "Unit1Limits.h"
#include "Unit1Markers.h"
#include "Unit1Panel.h"
#include "dxHisto.h"

void SetPanelHeight(QWidget* Panel, int Height)
{
    Panel->setVisible(Height > 0);
    if (Height > 0)
        Panel->setFixedHeight(Height);
}

QAction* AddWindowAction(QWidget& Window, const QString& Text, const char* Name, QKeySequence Keys)
{
    auto* a = new QAction(Text, &Window);
    a->setObjectName(QLatin1String(Name));
    a->setShortcut(Keys);
    // Only while the window is active, and never when a text field wants the key: Qt asks
    // the focused field first, and the fields take typed letters and Ctrl+arrows.
    a->setShortcutContext(Qt::WindowShortcut);
    Window.addAction(a);
    return a;
}

TForm1::TForm1(TPrompts& Prompts, TClock& Clock, QStringList Args, QWidget* Parent)
    : QMainWindow(Parent), InitTimer(new QTimer(this)), Timer1(new QTimer(this)), FPrompts(Prompts),
      FClock(Clock), FArgs(std::move(Args))
{
    OnTerminate = [](int Code) { QCoreApplication::exit(Code); };
    ClearedSpectrum.assign(SpectrumCapacity, 1e-5f);
    // Reserved once so that a bandwidth or size change never reallocates mid-run.
    WaterfallLine.reserve(SpectrumCapacity);

    Recipe.Configure({12, wnHanning, 1, false, 0, 0});
    Recording.OnFailure = [this](quillex::TRecordingOutput Output, const std::string& Message) {
        RecordingFailed(Output, Message);
    };
    InitTimer->setObjectName(QStringLiteral("InitTimer"));
    InitTimer->setInterval(100);
    InitTimer->setSingleShot(true);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    RecordStatusTimer = new QTimer(this);
    RecordStatusTimer->setObjectName(QStringLiteral("RecordStatusTimer"));
    RecordStatusTimer->setInterval(1000);
    FreeDiskBytes = DefaultFreeDiskBytes;

    BuildLayout();
    ConnectHandlers();
    Panel->Connect();
    Channel->Connect();
    FormCreate();
}

TForm1::~TForm1()
{
    // ~QWidget closes the window after our members are gone; a field losing focus then would
    // still call its handler (editingFinished), so the children's links to us end here.
    for (QObject* child : findChildren<QObject*>())
        QObject::disconnect(child, nullptr, this, nullptr);
    InitTimer->stop();
    Timer1->stop();
}

void TForm1::BuildLayout()
{
    setObjectName(QStringLiteral("Form1"));
    QFont formFont(QStringLiteral("MS Sans Serif"));
    formFont.setPixelSize(11);
    setFont(formFont);
    setGeometry(284, 135, 845, 790);
    Measure = std::make_unique<TMeasureTools>(*this);
    Limits = std::make_unique<TLimitTools>(*this);
    Panel = std::make_unique<TPanelTools>(*this);
    Channel = std::make_unique<TChannelTools>(*this);

    auto* central = new QWidget(this);
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(BuildDisplayPanel(), 1);
    row->addWidget(BuildHistoControlPanel());
    row->addWidget(BuildSettingsPanel());
    setCentralWidget(central);
    BuildStatusBar();
    resize(width() + LegendExtraWidth(), height());
}

void TForm1::BuildStatusBar()
{
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    StatusBar->setFont(font);
    // The panels sit side by side in a row of their own: the status bar's own spacing
    // between widgets and its size grip would take the room the simulator's notice needs
    // to keep the window within a 960-pixel-wide screen (1920 pixels at scale 2).
    StatusBar->setSizeGripEnabled(false);
    auto* panels = new QWidget(StatusBar);
    auto* panelRow = new QHBoxLayout(panels);
    panelRow->setContentsMargins(0, 0, 0, 0);
    panelRow->setSpacing(2);
    // The longest text each panel shows (a file name has no such bound; the frequency
    // panel's depends on the offsets: SizeFrequencyPanel).
    std::array<QStringList, 5> longest;
    for (int n = 256; n <= 4096; n *= 2)
        longest[0] << QStringLiteral("FFT: %1 Points").arg(n) +
                          LocalFormat("    Resolution:%6.3f kHz", 40000.0 / n);
    longest[2] << QStringLiteral("1000 FramesPerSec");
    longest[4] << QStringLiteral(" *********");
    for (std::size_t i = 0; i < StatusPanelWidths.size(); ++i) {
        auto* panel = new QLabel(panels);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        // The designed widths assume a narrow font; a panel is as wide as its longest
        // text needs in the font actually used, from the start, so the window does not
        // grow while it runs.
        int width = StatusPanelWidths[i];
        for (const QString& text : longest[i]) {
            panel->setText(text);
            width = std::max(width, panel->sizeHint().width());
        }
        panel->clear();
        panel->setMinimumWidth(width);
        // Room to spare goes to the file's panel, whose name may be long.
        panelRow->addWidget(panel, i == FileStatusPanel ? 1 : 0);
        StatusPanels[i] = panel;
    }
    SizeFrequencyPanel();
    StatusBar->addWidget(panels, 1);
    // The simulator's signal must never pass for the antenna's: a notice that stands out
    // from the panels, shown once the bound library turns out to be the simulator.
    LblSimulatedReceiver = new QLabel(QStringLiteral("simulated receiver"), StatusBar);
    LblSimulatedReceiver->setObjectName(QStringLiteral("LblSimulatedReceiver"));
    LblSimulatedReceiver->setStyleSheet(
        QStringLiteral("QLabel { background: #ffd000; color: black; padding: 0 3px; }"));
    // In the window's own smaller font, so that the notice fits beside the designed panels.
    LblSimulatedReceiver->setFont(this->font());
    LblSimulatedReceiver->hide();
    StatusBar->addPermanentWidget(Panel->BuildStatusNotice(StatusBar));
    StatusBar->addPermanentWidget(LblSimulatedReceiver);
    setStatusBar(StatusBar);
}

// The frequency panel is as wide as its longest text with the offset in force and the one the
// settings file holds, so that the pointer's read-out never widens the window (which would
// then count as the user's change); only a new offset may.
void TForm1::SizeFrequencyPanel()
{
    QLabel* panel = StatusPanels[1];
    const QString shown = panel->text();
    int width = StatusPanelWidths[1];
    QStringList texts{LocalFormat("Center: %0.2f MHz", 40.0)};
    for (const double offset : {double(FreqOffset), StoredOffsets[0] / 1000.0})
        for (const double mhz : {offset, offset + 40.0})
            texts << LocalFormat("Cursor: %0.3f MHz", mhz);
    for (const QString& text : texts) {
        panel->setText(text);
        width = std::max(width, panel->sizeHint().width());
    }
    panel->setText(shown);
    panel->setMinimumWidth(width);
}

void TForm1::FormCreate()
{
    FrameRecordSize = 16392;
    SetPanelHeight(PB, 0);
    Reconfiguring = false;
    ScanTicker = QStringLiteral(" ");
    BtnPlayback->setChecked(false);
    RBFast->setChecked(true);
    // Until the receiver is up, a click could reach an unbound library or vectors that
    // do not exist yet.
    centralWidget()->setEnabled(false);
    InitTimer->start();
}

void TForm1::Terminate(const QString& Message)
{
    FPrompts.ShowMessage(Message);
    Terminated = true;
    ExitCode = 1;
    hide();
    if (OnTerminate)
        OnTerminate(ExitCode);
}

void TForm1::ShowSimulatorNotice()
{
    const bool simulated = Receiver.IsSimulated();
    LblSimulatedReceiver->setVisible(simulated);
    if (!simulated)
        return;
    const QString path = QString::fromStdString(Receiver.LibraryPath());
    LblSimulatedReceiver->setToolTip(
        QStringLiteral("The samples come from the simulated receiver library %1, not from a "
                       "receiver.")
            .arg(path));
    // Someone who starts the program from a terminal reads it there too.
    std::fprintf(stderr, "quillex: simulated receiver: %s\n", path.toLocal8Bit().constData());
}

QString TForm1::WithSimulatorNotice(const QString& Caption) const
{
    return Receiver.IsSimulated() ? Caption + QStringLiteral(" - simulated receiver") : Caption;
}

void TForm1::InitTimerTimer()
{
    InitTimer->stop();
    StartDir = QDir::currentPath();
    if (!StartDir.endsWith(QLatin1Char('/')))
        StartDir += QLatin1Char('/');

    const bool bound = Receiver.BindReceiverLibrary(
        [this](const std::string& Text) { FPrompts.ShowMessage(QString::fromStdString(Text)); });
    if (!bound) {
        Terminate(QStringLiteral("Perseus not found, terminating."));
        return;
    }
    ShowSimulatorNotice();
    const uint32_t version = Receiver.ReceiverDllVersion();
    QString caption = QStringLiteral("DllVersion: %1.%2 - waiting for Perseus ...")
                          .arg(version >> 16)
                          .arg(version & 0xFFFFu);

    DebugMode = !FArgs.isEmpty() && FArgs.first().trimmed().toUpper() == QLatin1String("DEBUG");
    if (DebugMode)
        caption += QStringLiteral(" - Debug-Mode");
    setWindowTitle(WithSimulatorNotice(caption));
    if (!DebugMode) {
        if (!Receiver.ReceiverOpen()) {
            Terminate(QStringLiteral("Perseus not found, terminating."));
            return;
        }
        if (!Receiver.ReceiverFirmwareDownload()) {
            Terminate(QStringLiteral("perseusds16v11.hex not found terminating."));
            return;
        }
        const std::string fpga = Receiver.ReceiverFpgaConfig();
        if (fpga != "OK") {
            Terminate(QString::fromStdString(fpga) + QStringLiteral(", terminating."));
            return;
        }
    }

    LoadSettings();
    KeepWindowOnScreen();

    ShowSpan(CentreKHz, SpanKHz);

    GBFilePos->setVisible(false);
    BtnLoadFile->setEnabled(false);
    SESpeedChange();
    SEFftChange();
    Receiver.ReceiverSetPreselector(10);
    Receiver.ReceiverSetAcquisition(true);

    // Debug mode keeps its mark in the title so that nobody mistakes the synthetic
    // signal for the antenna.
    setWindowTitle(
        WithSimulatorNotice(DebugMode ? QStringLiteral("%1 - Debug-Mode").arg(QLatin1String(Title))
                                      : QString::fromLatin1(Title)));
    if (OffsetsEnabled) {
        ShowOffsets();
    } else {
        // No mirrored spectrum without the box that undoes it.
        FreqOffset = 0.0f;
        LevelOffset = 0.0f;
        EnteredLevelOffset = 0.0f;
        CBInverted->setChecked(false);
        SetPanelHeight(GBOffsets, 0);
    }
    // The levels at the input, and the plot's level axis, with the offsets as they start.
    ApplyLevelOffset();
    Panel->ApplyScale();
    // The waterfall's scale follows the level bars from the start, not from their first move.
    SBMinChange();
    ReselectBandwidth();
    SizeFrequencyPanel();
    // A panel sized for the offsets may widen the window: before the snapshot. The width
    // passes up three layouts (panels, status bar, window), each with an event of its own.
    for (int depth = 0; depth < 3; ++depth)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    // Taken once every control is settled, so that start-up's own corrections never
    // count as the user's changes; but the offsets compare with what the file holds.
    SettingsSnapshot = CurrentSettings();
    std::copy(StoredOffsets.begin(), StoredOffsets.end(), SettingsSnapshot.end() - 3);
    Panel->TakeSnapshot();
    SettingsLoaded = true;
    centralWidget()->setEnabled(true);
}

void TForm1::KeepWindowOnScreen()
{
    const QRect frame = frameGeometry();
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return;
    for (const QScreen* screen : screens)
        if (screen->availableGeometry().intersects(frame))
            return;
    // Saved on a screen that is gone: shown where it can be reached again.
    move(QGuiApplication::primaryScreen()->availableGeometry().topLeft());
}

void TForm1::closeEvent(QCloseEvent* Event)
{
    // A start-up failure ends the program without asking and without saving; before
    // the settings are loaded there is nothing to save either, and after the close
    // steps have run there is nothing left to do.
    if (Terminated || Ending || !SettingsLoaded) {
        InitTimer->stop();
        Event->accept();
        return;
    }
    bool canClose = false;
    Guard([this, &canClose] { canClose = FormCloseQuery(); });
    if (!canClose) {
        Event->ignore();
        return;
    }
    Guard([this] { FormClose(); });
    Event->accept();
}

bool TForm1::FormCloseQuery()
{
    // The full stop, not only the released button: a refused close must not leave
    // Timer1 ticking with the button up.
    if (BtnStartStop->isChecked()) {
        BtnStartStop->setChecked(false);
        BtnStartStopClick();
    }
    return SaveSettings();
}

void TForm1::FormClose()
{
    if (std::exchange(Ending, true))
        return;
    if (!DebugMode) {
        Receiver.ReceiverSetAcquisition(false);
        WaitMs(50);
        Receiver.ReceiverClose();
    }
    if (BtnRecord->isChecked())
        CloseSpkFile();
    Receiver.ReleaseReceiverLibrary();
}

void TForm1::EndWithoutQuestions()
{
    // A start-up failure ends without the close steps, as it always did.
    if (!Terminated && !Ending) {
        if (BtnStartStop->isChecked()) {
            BtnStartStop->setChecked(false);
            Guard([this] { BtnStartStopClick(); });
        }
        Guard([this] { FormClose(); });
    }
    hide();
    QCoreApplication::exit(ExitCode);
}

void TForm1::BtnStartStopClick()
{
    // Off before the run starts: a sync loop returns only when it has ended.
    BtnPlayback->setEnabled(!BtnStartStop->isChecked());
    // No run shows the frame rate of an earlier one; a sync loop writes its own.
    if (BtnStartStop->isChecked())
        SetStatusText(2, QString());
    if (BtnStartStop->isChecked())
        Limits->RunStarted();
    else if (!InTick)
        Limits->RunEnded();
    if (PlaybackMode) {
        RunPlayback();
    } else {
        SESpeedChange();
        if (RBSlow->isChecked())
            NextLabelDue = FClock.Now();
        if (BtnStartStop->isChecked() && BtnRecord->isChecked())
            WriteRecordingHeader();
        RunLive();
    }
    BtnPlayback->setEnabled(!BtnStartStop->isChecked());
}

void TForm1::WaitMs(int Ms)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < Ms) {
        QThread::msleep(1);
        QCoreApplication::processEvents();
    }
}

void TForm1::ShowException(const std::exception& E)
{
    FPrompts.ShowError(QString::fromUtf8(E.what()));
}

int TForm1::FftSize() const
{
    return Recipe.N();
}
