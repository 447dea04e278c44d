#pragma once

#include <QKeySequence>
#include <QMainWindow>
#include <QStringList>
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "Clock.h"
#include "FrameRecipe.h"
#include "Prompts.h"
#include "ReceiverAccess.h"
#include "RowJumps.h"
#include "SpkFile.h"
#include "Stoppuhr.h"
#include "Unit1RadioGroup.h"

class QAction;
class QImage;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QRadioButton;
class QScrollArea;
class QScrollBar;
class QSpinBox;
class QSplitter;
class QStatusBar;
class QAction;
class QMenu;
class QTimer;
class QToolButton;
class TDXHistograph;
class TChannelTools;
class TLimitTools;
class TMeasureTools;
class TPanelTools;
class TSpektroNeu;
class TSpektroLegend;

// The analyzer's only window: it owns the plot, the waterfall, the frame recipe and the
// recordings, the receiver access and every control, and runs the acquisition loop.
class TForm1 : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int BlockSamples = 8192;
    static constexpr int SpectrumCapacity = quillex::TFrameRecipe::Capacity;
    static constexpr const char* Title = "Quillex V2.3";
    static constexpr const char* SettingsFileName = "Quillex.ini";
    static constexpr int SettingsPanelWidth = 137;
    // The level-bar panel as designed; the level legend widens it.
    static constexpr int HistoControlPanelWidth = 46;
    // Designed widths of the status panels; a panel widens when its text needs more.
    static constexpr std::array<int, 5> StatusPanelWidths{250, 130, 130, 240, 50};
    static constexpr int FileStatusPanel = 3;

    // Args are the command-line arguments after the program name.
    TForm1(TPrompts& Prompts, TClock& Clock, QStringList Args, QWidget* Parent = nullptr);
    ~TForm1() override;

    // Called instead of quitting the event loop when start-up fails; the default quits
    // the application with the given status.
    std::function<void(int ExitCode)> OnTerminate;
    // Called after every processed frame (lets tests and benchmarks observe the loop).
    std::function<void()> OnFrameProcessed;

    // --- components (object names as in the layout) ---
    QWidget* PnlHistoSpektro;
    TDXHistograph* Histo;
    TSpektroNeu* Spektro;
    QProgressBar* PB;
    QWidget* PnlScrollBarAbout;
    QLabel* PnlCenter;
    QScrollBar* SBFrq;
    QWidget* PnlHistoControl;
    QToolButton* BtnClearDisplay;
    QToolButton* BtnCopy2ClpBrd;
    // "Save display as PNG": in the copy button's context menu, with its shortcut.
    QAction* ActSaveDisplay;
    QToolButton* BtnGrid;
    QWidget* PnlRangeMin;
    QLabel* LblRange;
    QScrollBar* SBRange;
    QLabel* LblMin;
    QScrollBar* SBMin;
    // The waterfall's colour scale beside the level bars, its bar beside the waterfall's rows.
    TSpektroLegend* Legend = nullptr;
    QLabel* PnlAbout;
    // The plot's tool windows, reached by a context menu on the plot and by shortcuts.
    QMenu* HistoMenu;
    QAction* ActToolBar;
    QAction* ActValueBar;
    QWidget* PnlSettings;
    // Scrolls the settings panel's controls where the window is shorter than they need, so
    // the window fits a small or high-density screen.
    QScrollArea* ScrollSettings = nullptr;
    QSplitter* Splitter1;
    TRadioGroup* RGFenster;
    TRadioGroup* RGAtt;
    TRadioGroup* RGBW;
    QGroupBox* GBDisplay;
    QSpinBox* SEFft;
    QSpinBox* SEAvg;
    QCheckBox* CBDither;
    QCheckBox* CBPreamp;
    QGroupBox* GBFilePos;
    QLabel* LblMax;
    QLabel* LblAkt;
    QGroupBox* GBOffsets;
    QLineEdit* EdtFrqOffset;
    QLineEdit* EdtLevelOffset;
    QCheckBox* CBInverted;
    QGroupBox* GBSpeed;
    QSpinBox* SESpeed;
    QRadioButton* RBSync;
    QRadioButton* RBFast;
    QRadioButton* RBSlow;
    QGroupBox* GBControl;
    QToolButton* BtnPlayback;
    QToolButton* BtnLoadFile;
    QToolButton* BtnRecord;
    QToolButton* BtnStartStop;
    QStatusBar* StatusBar;
    std::array<QLabel*, 5> StatusPanels;
    // At the status bar's right end while the simulated receiver is bound.
    QLabel* LblSimulatedReceiver;
    // Markers and hold traces (Unit1Markers.cpp).
    std::unique_ptr<TMeasureTools> Measure;
    // Limit curves and alarms (Unit1Limits.cpp, Unit1Alarms.cpp).
    std::unique_ptr<TLimitTools> Limits;
    // A frame's way from samples to levels, holds, markers and the limit check; and what goes
    // to disk of it: the event log, recordings on alarm and the recording of the Record button.
    quillex::TFrameRecipe Recipe;
    quillex::TFrameRecording Recording;
    // Reference level and scale, typed span, input levels (Unit1Panel.cpp).
    std::unique_ptr<TPanelTools> Panel;
    // Channel power, noise and SNR (Unit1Channel.cpp).
    std::unique_ptr<TChannelTools> Channel;
    QTimer* InitTimer;
    QTimer* Timer1;
    TStoppUhr StoppUhr1;
    TReceiverAccess Receiver;

    // --- state ---
    QString StartDir;
    bool DebugMode = false;
    float FreqOffset = 0.0f;
    // The level offset in force: the one entered (or a recording's), plus the correction to
    // the antenna input while "Input levels" is on. Everything shown and recorded adds it.
    float LevelOffset = 0.0f;
    float EnteredLevelOffset = 0.0f;
    float LiveEnteredLevelOffset = 0.0f; // EnteredLevelOffset before playback
    bool OffsetsEnabled = false;
    std::array<int16_t, BlockSamples> SampleBlock{};
    std::vector<float> WaterfallLine;
    int32_t ViewStartBin = 0;
    // The span the plot shows outside a zoom and the waterfall always, kHz on the plot's axis.
    double CentreKHz = 20000.0;
    double SpanKHz = 40000.0;
    // The span the waterfall shows (the plot's view outside a zoom), kHz.
    float WaterfallMinKHz = 0.0f;
    float WaterfallMaxKHz = 40000.0f;
    bool Reconfiguring = false;
    QString ScanTicker = QStringLiteral(" ");
    int32_t FrameRecordSize = 0;
    int32_t FileFrameCount = 0;
    bool PlaybackMode = false;
    QString PlaybackFileName;
    // The spectral data file read while playing back (Recording writes the recordings).
    struct TSpkFile
    {
        quillex::TSpkReader Reader;
    } SpkFile;
    double LabelInterval = 0.0;
    double ScanInterval = 0.0;
    double AvgFrameTime = 0.0;
    double FrameStamp = 0.0;
    double NextScanDue = 0.0;
    double NextLabelDue = 0.0;
    std::array<int32_t, 18> SettingsSnapshot{};
    // The offsets as the settings file holds them (in the snapshot's units), whether in
    // force or not: start-up hides offsets that are not enabled, but a close compares with
    // the file.
    std::array<int32_t, 3> StoredOffsets{};
    // The snapshot is taken: from here on a close may ask to save.
    bool SettingsLoaded = false;
    // The settings file is too large to be one: read in part, never written.
    bool SettingsFileTooLarge = false;
    // Values handed to the plot by the clear button until the next frame.
    std::vector<float> ClearedSpectrum;
    // Where the waterfall's picture jumps: the rows followed so far, the file loaded (a new
    // number per load), the record index of the frame just read and the clock at the frame
    // just taken.
    quillex::TJumpTracker RowJumps;
    int64_t PlaybackFileId = 0;
    int64_t PlaybackRecord = 0;
    // The file played has an offsets header; without one, a record's stamp that the program
    // never writes says it is probably no recording (warned once, rows then marked by index).
    bool PlaybackHeaded = false;
    bool PlaybackStampsImplausible = false;
    double FrameTime = 0.0;
    // The file panel's own text while a recording on alarm stands over it.
    QString FileStatusText, AlarmRecordingText;
    // The same moment on the clock's Elapsed, in days, for durations.
    double FrameElapsed = 0.0;
    // Frames processed since the run started: a live frame's index in the episodes.
    int64_t LiveFrame = 0;
    // Recording progress: renewed once a second while recording.
    QTimer* RecordStatusTimer;
    double RecordStart = 0.0;
    int64_t RecordFrames = 0;
    bool DiskSpaceWarned = false;
    // Bytes free on the disk holding a path, -1 when unknown; replaceable for tests.
    std::function<int64_t(const QString& Path)> FreeDiskBytes;
    // A tick of the acquisition loop is under way.
    bool InTick = false;
    // Start-up ended the program.
    bool Terminated = false;
    // The close steps (FormClose) have begun.
    bool Ending = false;
    int ExitCode = 0;

    // --- life cycle ---
    void FormCreate();
    void InitTimerTimer();
    bool FormCloseQuery();
    void FormClose();
    // Ends at once without questions (SIGTERM, a repeated termination request, or the event
    // loop ended by other means); the settings file stays as it is: stops a run, then the steps of
    // FormClose (acquisition off, receiver closed, recording closed), then leaves the event loop.
    // The steps run once per program, whichever path reaches them first.
    void EndWithoutQuestions();
    void BtnStartStopClick();
    void WaitMs(int Ms);

    // --- acquisition loop ---
    void Timer1Timer();
    // One frame of the tick: read or received, stamped and processed.
    void TakeFrame();
    void StampFrame();
    void ProcessFrame();
    // The frame settings as the controls hold them go to the recipe (nothing happens when they
    // are as they were): every frame, and at once from the controls that change them.
    void ConfigureRecipe();
    // A control that a frame depends on changed: the recipe, the tools and the plot follow.
    void FrameSettingsChanged();
    void RunLive();
    void RunPlayback();

    // --- receiver and analysis controls ---
    void RGBWClick();
    void SBFrqChange();
    void RGAttClick();
    void CBDitherClick();
    void CBPreampClick();
    void RGFensterClick();
    void SEFftChange();
    // Returns false when the key is discarded.
    bool SEFftKeyPress(QWidget* Sender, QChar Key);
    void SESpeedChange();
    void RBFastClick();
    void RBSlowClick();
    void RBSyncClick();
    void ReselectBandwidth();
    void ApplyOffsetFields();
    // The span around a centre (kHz on the plot's axis), both kept within the spectrum: the
    // plot, the scroll bar, the bandwidth buttons, the typed fields and the waterfall follow.
    void ShowSpan(double CentreKHz, double SpanKHz);
    // The span of a "Bandwidth" button, from its text.
    double ButtonSpanKHz(int Index) const;
    // A new correction to the antenna input (switch, attenuator, preamplifier, playback).
    void ApplyLevelOffset();

    // --- recording and playback ---
    void BtnRecordClick();
    void BtnPlaybackClick();
    void BtnLoadFileClick();
    void PBMouseUp(int X);
    void WriteRecordingHeader();
    // False when no whole frame was read (end of file): the tick then shows nothing.
    bool ReadPlaybackFrame();
    void CheckPlaybackStamp(int64_t Record, double Stamp);
    void CloseSpkFile();

    // --- display controls and status bar ---
    void SBMinChange();
    void SBRangeChange();
    void HistoYAxis(double Value, QString& Output);
    void HistoXAxis(double Value, QString& Output);
    void HistoCrossMove(QObject* Sender, float X, float Y, int Serie, int Index);
    void PnlHistoControlResize();
    void BtnClearDisplayClick();
    void BtnCopy2ClpBrdClick();
    // Saves the same picture as the copy to a PNG file chosen in a save dialog.
    void SaveDisplayClick();
    void BtnGridClick();
    void HistoGridVisibleChange();
    void PnlAboutClick();
    QString AboutText() const;
    QString PlotToolsHint() const;
    void HistoContextMenu(const QPoint& Pos);
    void SetStatusText(int Panel, const QString& Text);
    // A recording on alarm being written: its text (empty when none) stands in the file panel
    // over the panel's own, which comes back when it ends; the hint has the whole file name.
    void ShowAlarmRecording(const QString& Text, const QString& Hint);
    // The first panel's text: the FFT's size and resolution.
    QString FftStatusText() const;
    QString StatusText(int Panel) const;
    // The display panel as the copy and the saved PNG show it: plot, waterfall and, beside
    // the waterfall, the level legend.
    QImage DisplayPicture();
    // The legend follows the level bars and the level offset.
    void UpdateLegend();
    void PlaceLegend();
    // How much wider the legend makes the window than designed, so that plot and waterfall
    // keep their designed widths in a window of the default size.
    int LegendExtraWidth() const;

    // --- marks where the waterfall's picture jumps ---
    quillex::TRowState WaterfallRowState() const;
    void MarkWaterfallJump();

    // --- recording progress ---
    void StartRecordStatus();
    void RecordStatusTick();
    QString RecordStatusText() const;

    // --- settings ---
    QString SettingsPath() const;
    void LoadSettings();
    bool SaveSettings();
    std::array<int32_t, 18> CurrentSettings() const;

    TPrompts& Prompts() const { return FPrompts; }

    // Runs a handler; a run-time error it raises is shown once in the error box and
    // goes no further (Qt's event loop does not carry exceptions).
    template <class F> void Guard(F&& Handler)
    {
        try {
            Handler();
        } catch (const std::exception& e) {
            ShowException(e);
        } catch (...) {
            ShowException(std::runtime_error("Unknown error"));
        }
    }

protected:
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void BuildLayout();
    QWidget* BuildDisplayPanel();
    QWidget* BuildHistoControlPanel();
    QWidget* BuildSettingsPanel();
    QWidget* BuildAnalysisGroups();
    QWidget* BuildRunGroups();
    QGroupBox* BuildDisplayGroup(QWidget* Parent);
    QGroupBox* BuildOffsetsGroup(QWidget* Parent);
    QGroupBox* BuildSpeedGroup(QWidget* Parent);
    QGroupBox* BuildControlGroup(QWidget* Parent);
    void BuildStatusBar();
    void FitSettingsPanel();
    void ConfigureHisto();
    void BuildPlotToolsMenu();
    void ConnectHandlers();
    void Terminate(const QString& Message);
    void ShowSimulatorNotice();
    QString WithSimulatorNotice(const QString& Caption) const;
    void ShowException(const std::exception& E);
    void RunSyncLoop(bool Playback);
    int FftSize() const;
    // ShowSpan sets the bandwidth group: its click is not the user's.
    bool ShowingSpan = false;
    void UpdateWaterfallGeometry();
    void UpdateWaterfallAxis();
    void ShowOffsets();
    void SizeFrequencyPanel();
    void KeepWindowOnScreen();
    void LoadPlaybackFile(const QString& FileName);
    void UnloadPlaybackFile();
    void StopPlayback();
    void RewindPlayback();
    void SetFilePosition(int64_t Position);
    void StopRecordingAfterError(const QString& Message);
    void RecordingFailed(quillex::TRecordingOutput Output, const std::string& Message);
    // What the recipe wants of a frame's time: the clock live; played back, the recording's
    // times, looked up only when limits or recording on alarm need them.
    quillex::TFrameTime TimeOfFrame();

    TPrompts& FPrompts;
    TClock& FClock;
    QStringList FArgs;
    std::mt19937 FDebugRandom;
};

// Control heights of 0 hide a panel, as the window's layout always did.
void SetPanelHeight(QWidget* Panel, int Height);
// A key of the window's own, named for the tests.
QAction* AddWindowAction(QWidget& Window, const QString& Text, const char* Name, QKeySequence Keys);
// A printf-style number with the locale's decimal separator.
QString LocalFormat(const char* Format, double Value);
// An offset typed or stored with "," or "." as separator; throws std::runtime_error
// with the conversion message for anything else.
double ParseOffset(const QString& Text);
// The key filter of the numeric fields: digits, control keys, separators and minus.
bool OffsetKeyPasses(QChar Key);
// The decimal separator of the machine's locale, for the offsets headers of recordings.
char SystemDecimalSeparator();
// Bytes free on the disk holding Path (QStorageInfo), -1 when unknown.
int64_t DefaultFreeDiskBytes(const QString& Path);
