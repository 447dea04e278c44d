#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "FrameRecipe.h"
#include "FrameTimes.h"
#include "dxColors.h"
#include "dxHistoInt.h"

class QAction;
class QCheckBox;
class QDoubleSpinBox;
class QGroupBox;
class QToolButton;
class QWidget;
class TForm1;
class TIniFile;

// The window's limit lines and alarms: an upper and a lower limit curve over frequency as
// displayed, shown and bent as the plot's reference curves; the episodes of the frames the
// recipe checks against them in the status bar, the trace and the waterfall's margin; the
// switches of the event log and of recordings on alarm. The check, the episodes and the files
// are the window's recipe and recording.
class TLimitTools
{
public:
    static constexpr const char* SettingsSection = "Limits";
    // Plot series: the two reference curves, then the trace's parts beyond them.
    static constexpr int UpperSeries = 5, LowerSeries = 6, WarningSeries = 7;
    // One colour of their own, far from the live trace's green and the holds' colours.
    static constexpr TColor LimitColor = 0xFF8040, WarningColor = clRed;
    static constexpr double DefaultOffsetDb = 6.0;
    static constexpr double DefaultPreSeconds = 5.0, DefaultPostSeconds = 5.0;

    explicit TLimitTools(TForm1& Form);
    ~TLimitTools();
    TLimitTools(const TLimitTools&) = delete;
    TLimitTools& operator=(const TLimitTools&) = delete;

    // Built with the window's layout: the plot's limit series and context menu items (after the
    // markers'), and the "Limits" button of the settings panel, whose pop-up holds the
    // "Limits" group (the panel has no height to spare for it).
    void BuildMenu();
    QToolButton* BuildLimitsButton(QWidget* Parent);

    // --- curves ---
    void FromTraceClick(quillex::TLimitKind Kind);
    void FlatLimitClick();
    void ClearLimitsClick();
    void SaveLimitsClick();
    void LoadLimitsClick();
    // Reads a limits file; false, with one message and the curves as they were, when it cannot.
    bool LoadLimitsFile(const QString& FileName);
    const quillex::TLimits& Limits() const;
    const QString& LimitsFile() const { return FLimitsFile; }
    // The highest plot series the limits use, 1 without curves.
    int HighestSeries() const;
    // The FFT size, the offsets or the mirroring may have changed: the resampled curves shown.
    void ViewChanged();

    // --- alarms, every processed frame (Unit1Alarms.cpp) ---
    // After the recipe and before the plot and waterfall get the frame.
    void FrameProcessed();
    // After the recording took the frame: the recording on alarm in the status bar.
    void FrameRecorded();
    void RunStarted();
    // The end of a run, of a recording or a seek in it: open episodes end and are logged.
    void RunEnded();
    void PlaybackLoaded(const QString& FileName, int64_t First, int64_t Last);
    // The time of the frame played back (PlaybackRecord), as the exporter has it.
    double PlaybackTime();
    // A log or recording on alarm that failed is off now: its box too, with one warning.
    void RecordingFailed(quillex::TRecordingOutput Output, const QString& Message);
    // The status text of the open episode's worst point, empty while none is open.
    QString AlarmText() const;
    const QString& EventLogFile() const { return FEventLogFile; }
    const QString& AlarmFolder() const { return FAlarmFolder; }
    // Stamps of the recording loaded for playback read so far, for the frames' times.
    int64_t StampsRead() const;
    QString KeysHint() const;

    // --- settings: the section "Limits" (Ini null: no file) ---
    void LoadSettings(const TIniFile* Ini);
    void SaveSettings(TIniFile& Ini) const;
    // Curves made or bent and not saved count as a change.
    bool SettingsChanged() const;
    // Before the settings are saved: curves not saved yet go to the limits file (one asked
    // for when there is none), so that they come back at the next start.
    void SaveChangedCurves();

    // --- controls ---
    QToolButton* BtnLimits = nullptr;
    QGroupBox* GBLimits = nullptr;
    QDoubleSpinBox* SEUpperOffset = nullptr;
    QDoubleSpinBox* SELowerOffset = nullptr;
    QDoubleSpinBox* SEHoldOff = nullptr;
    QCheckBox* CBEventLog = nullptr;
    QCheckBox* CBRecordOnAlarm = nullptr;
    QDoubleSpinBox* SEPreSeconds = nullptr;
    QDoubleSpinBox* SEPostSeconds = nullptr;
    QAction* ActUpperFromTrace = nullptr;
    QAction* ActLowerFromTrace = nullptr;
    QAction* ActFlatLimit = nullptr;
    QAction* ActClearLimits = nullptr;
    QAction* ActSaveLimits = nullptr;
    QAction* ActLoadLimits = nullptr;

private:
    struct TSettings
    {
        QString LimitsFile, EventLogFile, AlarmFolder;
        bool EventLog = false, RecordOnAlarm = false;
        double UpperOffset = DefaultOffsetDb, LowerOffset = DefaultOffsetDb;
        double HoldOff = quillex::TLimitEpisodes::DefaultHoldOffSeconds;
        double Pre = DefaultPreSeconds, Post = DefaultPostSeconds;
        bool operator==(const TSettings&) const = default;
    };

    // New curves: the check resampled, the plot's reference curves anew.
    void SetLimits(const quillex::TLimits& Limits);
    void WriteCurves(const QString& FileName);
    void ShowCurves();
    // The limit series' kinds and colours, whatever changed them since.
    void StyleSeries();
    QGroupBox* BuildLimitsGroup();
    void ReferenceBent(int Series);
    void NoReference(TDXHistographInt::TDXMode Mode);
    void Repaint();
    void EventLogToggled(bool On);
    void RecordOnAlarmToggled(bool On);
    bool OpenEventLog();
    bool StartRecorder();
    quillex::TAlarmRecordingSettings RecorderSettings() const;
    TSettings CurrentSettings() const;

    // Unit1Alarms.cpp
    void ShowRecording();
    void MarkStarts(const quillex::TLimitStep& Step);
    void ShowBeyond(bool Any);
    void ShowAlarm();

    TForm1& FForm;
    quillex::TFrameRecipe& FRecipe;
    quillex::TFrameRecording& FRecording;
    QString FLimitsFile, FEventLogFile, FAlarmFolder;
    TSettings FSnapshot;
    bool FCurvesUnsaved = false;
    // The bins of the last frame's trace: a limit from the trace needs one at the FFT's size.
    int FTraceBins = 0;
    // The trace's levels where it is beyond a curve (NaN elsewhere), and the check's mask.
    std::vector<float> FWarning;
    std::vector<uint8_t> FMask;
    bool FWarningShown = false;
    // The frames of the recording played back, for their times as the exporter has them.
    std::unique_ptr<quillex::TSpkStampReader> FStamps;
    std::unique_ptr<quillex::TFrameTimes> FTimes;
    int FTimed = -1; // unknown until a frame played needs its time
    std::pair<int64_t, int64_t> FTimedFrames;
    // The grid the plot's reference curves were last given on.
    quillex::TLimitGrid FShownGrid;
    // What the status panel shows: the episode's worst point as last formatted.
    bool FAlarmShown = false;
    quillex::TLimitWorst FAlarmWorst;
    quillex::TLimitKind FAlarmKind = quillex::TLimitKind::Upper;
};
