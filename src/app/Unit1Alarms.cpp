// Limit alarms of the main window: each processed frame against the curves, its episodes in
// the status bar, the trace and the waterfall, the event log and recording on alarm.

#include "Unit1Limits.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <algorithm>
#include <cmath>
#include <limits>

#include "MarkerPosition.h"
#include "SpektroNeu.h"
#include "Unit1.h"
#include "dxHisto.h"

using quillex::TLimitKind;

namespace {

// Limit marks share the trace's warning colour.
const QColor LimitMarkColour(0xff, 0x00, 0x00);
const QString AlarmStyle = QStringLiteral("QLabel { background: #ff4040; color: white; }");
const QString EventLogFilter = QStringLiteral("Event log (*.csv)|*.csv|All files|*");

} // namespace

void TLimitTools::PlaybackLoaded(const QString& FileName, int64_t First, int64_t Last)
{
    FTimes.reset();
    FStamps.reset();
    FTimed = -1;
    if (Last < First)
        return;
    try {
        FStamps = std::make_unique<quillex::TSpkStampReader>(FileName.toStdString());
    } catch (const std::exception&) {
        return; // the frames then have no times, as when the file has no stamps
    }
    quillex::TSpkStampReader* stamps = FStamps.get();
    FTimes = std::make_unique<quillex::TFrameTimes>(
        First, Last, [stamps](int64_t Frame) { return (*stamps)(Frame); });
    // Whether the frames have times is worked out when a frame first needs one: a recording
    // without stamps is read to its end for that, which the load itself must not cost.
    FTimedFrames = {First, Last};
}

int64_t TLimitTools::StampsRead() const
{
    return FTimes ? FTimes->StampsRead() : 0;
}

double TLimitTools::PlaybackTime()
{
    // Every frame has a time exactly when two have: the first and one more.
    if (FTimes && FTimed < 0) {
        const auto [first, last] = FTimedFrames;
        try {
            FTimed = FTimes->TimeOf(first) && FTimes->TimeOf(last > first ? first + 1 : first);
        } catch (const std::exception&) {
            FTimed = 0;
        }
    }
    // Frames of a recording without times count as one moment, as in the exporter.
    if (!FTimes || FTimed != 1)
        return 0.0;
    try {
        const double time = FTimes->TimeOf(FForm.PlaybackRecord).value_or(0.0);
        FTimes->Forget(FForm.PlaybackRecord);
        return time;
    } catch (const std::exception&) {
        FTimed = 0;
        return 0.0;
    }
}

void TLimitTools::FrameProcessed()
{
    FTraceBins = FRecipe.N();
    if (!FRecipe.LimitChecked() && !FWarningShown)
        return;
    ViewChanged();
    MarkStarts(FRecipe.LimitStep());
    ShowBeyond(FRecipe.Beyond());
    ShowAlarm();
}

void TLimitTools::FrameRecorded()
{
    if (FRecording.Alarms().Active())
        ShowRecording();
}

void TLimitTools::RunStarted()
{
    FForm.LiveFrame = 0;
    // The recordings' headers carry the offsets in force when the run starts.
    if (CBRecordOnAlarm->isChecked() && !StartRecorder())
        CBRecordOnAlarm->setChecked(false);
}

void TLimitTools::RunEnded()
{
    FRecording.RunEnded(FRecipe.FinishEpisodes());
    ShowRecording();
    ShowBeyond(false);
    ShowAlarm();
}

void TLimitTools::RecordingFailed(quillex::TRecordingOutput Output, const QString& Message)
{
    // Settled before the message, whose dialog lets ticks run.
    if (Output == quillex::TRecordingOutput::EventLog) {
        FRecording.CloseEventLog();
        CBEventLog->setChecked(false);
    } else {
        CBRecordOnAlarm->setChecked(false);
        ShowRecording();
    }
    FForm.Prompts().ShowWarning(Message);
}

void TLimitTools::ShowRecording()
{
    const quillex::TAlarmRecorder& recorder = FRecording.Alarms();
    if (!recorder.Recording()) {
        FForm.ShowAlarmRecording({}, {});
        return;
    }
    const QString size =
        LocalFormat("%0.1f MB", double(recorder.RecordCount()) * quillex::FrameRecordSize / 1e6);
    const QString file = QString::fromStdString(recorder.FileName());
    FForm.ShowAlarmRecording(QStringLiteral("Alarm record  ") + size + QStringLiteral("  ") +
                                 QFileInfo(file).fileName(),
                             QStringLiteral("Alarm record ") + file + QStringLiteral("  ") + size);
}

void TLimitTools::MarkStarts(const quillex::TLimitStep& Step)
{
    for (TLimitKind kind : {TLimitKind::Upper, TLimitKind::Lower})
        if (Step.Started[int(kind)])
            FForm.Spektro->AddMark(kind == TLimitKind::Upper ? QStringLiteral("upper limit")
                                                             : QStringLiteral("lower limit"),
                                   LimitMarkColour);
}

void TLimitTools::ShowBeyond(bool Any)
{
    TDXHistograph* histo = FForm.Histo;
    if (!Any) {
        if (FWarningShown && histo->SeriesNumber() >= WarningSeries)
            histo->AssignSeriesData(nullptr, 0, WarningSeries);
        FWarningShown = false;
        return;
    }
    // The trace where it is beyond a curve; beside it, the curve itself, so that the stroke
    // (a single bin beyond too) rises from the curve and never marks the trace short of it.
    const quillex::TLimitCheck& check = FRecipe.LimitCheck();
    const int n = check.Grid().N;
    uint8_t* mask = FMask.data();
    check.BeyondMask(mask);
    const float* levels = FRecipe.Levels();
    const float* upper = check.Displayed(TLimitKind::Upper);
    const float* lower = check.Displayed(TLimitKind::Lower);
    float* warning = FWarning.data();
    const float none = std::numeric_limits<float>::quiet_NaN();
    for (int d = 0; d < n; ++d) {
        if (mask[d] != 0) {
            warning[d] = levels[d];
            continue;
        }
        const int left = d > 0 ? mask[d - 1] : 0, right = d + 1 < n ? mask[d + 1] : 0;
        if ((left | right) == 0) {
            warning[d] = none;
            continue;
        }
        // Bit 1: above the upper limit. Where the curve ends here, its neighbour's level.
        const int kind = (left | right) & 1 ? 1 : 2;
        const float* curve = kind == 1 ? upper : lower;
        const int beside = left & kind ? d - 1 : d + 1;
        warning[d] = std::isnan(curve[d]) ? curve[beside] : curve[d];
    }
    if (histo->SeriesNumber() < WarningSeries)
        histo->setSeriesNumber(WarningSeries);
    histo->AssignSeriesData(warning, n, WarningSeries);
    FWarningShown = true;
}

QString TLimitTools::AlarmText() const
{
    if (!FAlarmShown)
        return {};
    const int decimals = quillex::MarkerFrequencyDecimals(FRecipe.N());
    const double excess =
        FAlarmKind == TLimitKind::Upper ? FAlarmWorst.ExcessDb : -FAlarmWorst.ExcessDb;
    const std::string mhz = "%0." + std::to_string(decimals) + "f MHz";
    return LocalFormat("LIMIT %+0.1f dB @ ", excess) + LocalFormat(mhz.c_str(), FAlarmWorst.MHz);
}

void TLimitTools::ShowAlarm()
{
    QLabel* panel = FForm.StatusPanels[0];
    const quillex::TLimitEpisodes& episodes = FRecipe.Episodes();
    const bool upper = episodes.IsOpen(TLimitKind::Upper);
    const bool lower = episodes.IsOpen(TLimitKind::Lower);
    if (!upper && !lower) {
        if (FAlarmShown) {
            FAlarmShown = false;
            panel->setStyleSheet(QString());
            FForm.SetStatusText(0, FForm.FftStatusText());
        }
        return;
    }
    // The larger excess of the open episodes; each is the worst of its frames so far.
    TLimitKind kind = upper ? TLimitKind::Upper : TLimitKind::Lower;
    if (upper && lower &&
        episodes.Current(TLimitKind::Lower).Worst.ExcessDb >
            episodes.Current(TLimitKind::Upper).Worst.ExcessDb)
        kind = TLimitKind::Lower;
    const quillex::TLimitWorst& worst = episodes.Current(kind).Worst;
    // Formatted only when it changes: most frames of an episode do not make it worse.
    if (FAlarmShown && kind == FAlarmKind && worst.MHz == FAlarmWorst.MHz &&
        worst.ExcessDb == FAlarmWorst.ExcessDb)
        return;
    if (!FAlarmShown)
        panel->setStyleSheet(AlarmStyle);
    FAlarmShown = true;
    FAlarmKind = kind;
    FAlarmWorst = worst;
    FForm.SetStatusText(0, AlarmText());
}

void TLimitTools::EventLogToggled(bool On)
{
    if (!On) {
        FRecording.CloseEventLog();
        return;
    }
    const QString name = FForm.Prompts().SaveFileName(
        FEventLogFile.isEmpty() ? FForm.StartDir : QFileInfo(FEventLogFile).path(),
        QStringLiteral("csv"), EventLogFilter);
    if (!name.isEmpty())
        FEventLogFile = name;
    CBEventLog->setChecked(!name.isEmpty() && OpenEventLog());
}

bool TLimitTools::OpenEventLog()
{
    try {
        FRecording.OpenEventLog(FEventLogFile.toStdString());
        return true;
    } catch (const quillex::ELimitLogError& e) {
        // Not kept for later: the box is off.
        FRecording.CloseEventLog();
        FForm.Prompts().ShowMessage(QString::fromStdString(e.what()));
        return false;
    }
}

void TLimitTools::RecordOnAlarmToggled(bool On)
{
    if (!On) {
        try {
            FRecording.StopAlarms();
        } catch (const quillex::EAlarmRecordError& e) {
            FForm.Prompts().ShowWarning(QString::fromStdString(e.what()));
        }
        ShowRecording();
        return;
    }
    const QString folder =
        FForm.Prompts().FolderName(FAlarmFolder.isEmpty() ? FForm.StartDir : FAlarmFolder);
    if (!folder.isEmpty())
        FAlarmFolder = folder;
    CBRecordOnAlarm->setChecked(!folder.isEmpty() && StartRecorder());
}

bool TLimitTools::StartRecorder()
{
    if (!QFileInfo(FAlarmFolder).isDir()) {
        FForm.Prompts().ShowMessage(
            QStringLiteral("Record on alarm: the folder %1 does not exist.").arg(FAlarmFolder));
        return false;
    }
    FRecording.StartAlarms(RecorderSettings());
    return true;
}

quillex::TAlarmRecordingSettings TLimitTools::RecorderSettings() const
{
    quillex::TAlarmRecordingSettings s;
    s.Folder = FAlarmFolder.toStdString();
    s.PreSeconds = SEPreSeconds->value();
    s.PostSeconds = SEPostSeconds->value();
    s.FreqOffset = FForm.FreqOffset;
    s.LevelOffset = FForm.LevelOffset;
    s.Inverted = FForm.CBInverted->isChecked();
    s.DecimalSeparator = SystemDecimalSeparator();
    return s;
}
