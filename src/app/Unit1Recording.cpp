#include "Unit1.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <limits>
#include <optional>
#include <stdexcept>
#include <vector>

#include "FrameProcessor.h"
#include "FrameTimes.h"
#include "Unit1Limits.h"
#include "Unit1Panel.h"

namespace {

const QString SpkExtension = QStringLiteral("spk");
const QString SpkFilter = QStringLiteral("Spectral Data|*.spk|All files|*.*");
constexpr int OffsetsPanelHeight = 91;
constexpr int FilePositionBarHeight = 18;

QString WithoutFolder(const QString& Path)
{
    return QFileInfo(Path).fileName();
}

std::string NativePath(const QString& Path)
{
    return QFile::encodeName(Path).toStdString();
}

// Stops Timer1 while a modal dialog is open and restores it however the handler ends.
class TTimerPause
{
public:
    explicit TTimerPause(QTimer* Timer) : FTimer(Timer), FWasActive(Timer->isActive())
    {
        FTimer->stop();
    }
    ~TTimerPause()
    {
        if (FWasActive && FRestore)
            FTimer->start();
    }
    TTimerPause(const TTimerPause&) = delete;
    TTimerPause& operator=(const TTimerPause&) = delete;
    // The timer stays off when the handler ends.
    void KeepStopped() { FRestore = false; }

private:
    QTimer* FTimer;
    bool FWasActive;
    bool FRestore = true;
};

} // namespace

void TForm1::BtnRecordClick()
{
    TTimerPause pause(Timer1);
    if (BtnRecord->isChecked()) {
        const QString name = FPrompts.SaveFileName(StartDir, SpkExtension, SpkFilter);
        if (name.isEmpty()) {
            SetStatusText(3, QString());
            BtnRecord->setChecked(false);
        } else {
            try {
                Recording.StartContinuous(NativePath(name));
            } catch (const quillex::ESpkError&) {
                // A button left down without a file would fail on every frame.
                BtnRecord->setChecked(false);
                SetStatusText(3, QString());
                throw;
            }
            SetStatusText(3, QStringLiteral("Record to ") + WithoutFolder(name));
            StartRecordStatus();
        }
    } else {
        SetStatusText(3, QString());
        SetStatusText(4, QString());
    }
    BtnPlayback->setEnabled(!BtnRecord->isChecked() && !BtnStartStop->isChecked());
    if (!BtnRecord->isChecked())
        Recording.StopContinuous();
}

char SystemDecimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point.front().unicode() < 0x80)
        return static_cast<char>(point.front().unicode());
    return '.';
}

void TForm1::WriteRecordingHeader()
{
    try {
        Recording.AppendContinuousHeader(
            {FreqOffset, LevelOffset, CBInverted->isChecked(), SystemDecimalSeparator()});
    } catch (const quillex::ESpkError& e) {
        StopRecordingAfterError(QStringLiteral("Recording stopped: ") +
                                QString::fromLocal8Bit(e.what()));
    }
}

void TForm1::RecordingFailed(quillex::TRecordingOutput Output, const std::string& Message)
{
    if (Output == quillex::TRecordingOutput::Continuous)
        StopRecordingAfterError(QString::fromLocal8Bit(Message.c_str()));
    else
        Limits->RecordingFailed(Output, QString::fromStdString(Message));
}

void TForm1::StopRecordingAfterError(const QString& Message)
{
    // The acquisition goes on; only the recording ends, with whole records kept. The
    // state is settled before the message, whose dialog lets ticks run.
    BtnRecord->setChecked(false);
    SetStatusText(3, QString());
    SetStatusText(4, QString());
    try {
        Recording.StopContinuous();
    } catch (const quillex::ESpkError&) {
        // The first failure is the one worth reporting.
    }
    BtnPlayback->setEnabled(!BtnStartStop->isChecked());
    FPrompts.ShowError(Message);
}

void TForm1::CloseSpkFile()
{
    SpkFile.Reader.Close();
    Recording.StopContinuous();
}

void TForm1::BtnPlaybackClick()
{
    if (BtnPlayback->isChecked()) {
        LiveEnteredLevelOffset = EnteredLevelOffset;
        BtnRecord->setEnabled(false);
        BtnLoadFile->setEnabled(true);
        RBFast->setChecked(true);
        RBSlow->setEnabled(false);
        RBSlow->setVisible(false);
        BtnStartStop->setEnabled(false);
        GBFilePos->setVisible(true);
        SetFilePosition(0);
        SetPanelHeight(PB, FilePositionBarHeight);
        RBSync->setText(QStringLiteral("Harddisk sync"));
        PlaybackMode = true;
    } else {
        BtnStartStop->setChecked(false);
        BtnStartStop->setEnabled(true);
        GBFilePos->setVisible(false);
        BtnRecord->setEnabled(true);
        BtnLoadFile->setEnabled(false);
        UnloadPlaybackFile();
        // A recording's offset already holds the input levels it was made with; live, the
        // user's own offset comes back, or the switch would correct the levels twice.
        EnteredLevelOffset = LiveEnteredLevelOffset;
        ShowOffsets();
        RBSync->setText(QStringLiteral("Perseus sync"));
        RBSlow->setVisible(true);
        RBSlow->setEnabled(true);
        SetPanelHeight(PB, 0);
        PlaybackMode = false;
    }
    // The switch to input levels acts on the receiver's samples only.
    ApplyLevelOffset();
}

void TForm1::BtnLoadFileClick()
{
    TTimerPause pause(Timer1);
    const QString name = FPrompts.OpenFileName(StartDir, SpkExtension, SpkFilter);
    if (name.isEmpty()) {
        SetStatusText(3, QString());
    } else {
        pause.KeepStopped();
        try {
            LoadPlaybackFile(name);
        } catch (...) {
            BtnStartStop->setEnabled(!PlaybackFileName.isEmpty());
            throw;
        }
    }
    BtnStartStop->setEnabled(!PlaybackFileName.isEmpty());
}

void TForm1::LoadPlaybackFile(const QString& FileName)
{
    // A running playback is stopped completely, so that every control is as after Stop.
    StopPlayback();
    UnloadPlaybackFile();

    quillex::TSpkReader& reader = SpkFile.Reader;
    std::vector<uint8_t> first(quillex::FrameRecordSize);
    std::optional<quillex::TOffsetsHeader> header;
    reader.Open(NativePath(FileName));
    try {
        header = quillex::ParseOffsetsHeader(first.data(), reader.ReadRaw(first.data()));
    } catch (const quillex::ESpkError& e) {
        reader.Close();
        throw std::runtime_error(WithoutFolder(FileName).toStdString() + ": " + e.what());
    }

    const int64_t count = reader.RecordCount();
    if (count > std::numeric_limits<int32_t>::max()) {
        reader.Close();
        throw std::runtime_error(WithoutFolder(FileName).toStdString() +
                                 ": the file holds too many frames");
    }
    PlaybackFileName = FileName;
    ++PlaybackFileId;
    PlaybackHeaded = header.has_value();
    PlaybackStampsImplausible = false;
    SetStatusText(3, QStringLiteral("File: ") + WithoutFolder(FileName));
    FileFrameCount = static_cast<int32_t>(count);
    LblMax->setText(QStringLiteral("Max: %1").arg(FileFrameCount));
    PB->setRange(1, std::max(1, FileFrameCount));
    SetFilePosition(0);
    LblAkt->setText(QStringLiteral("Pos: 0"));

    if (header) {
        CBInverted->setChecked(header->Inverted);
        FreqOffset = static_cast<float>(header->FreqOffset);
        EnteredLevelOffset = static_cast<float>(header->LevelOffset);
        LevelOffset = static_cast<float>(double(EnteredLevelOffset) + Panel->InputLevelDb());
        OffsetsEnabled = true;
        SetPanelHeight(GBOffsets, OffsetsPanelHeight);
    } else {
        OffsetsEnabled = false;
        SetPanelHeight(GBOffsets, 0);
        FreqOffset = 0.0f;
        LevelOffset = static_cast<float>(Panel->InputLevelDb());
        EnteredLevelOffset = 0.0f;
        CBInverted->setChecked(false);
    }
    // The hidden edits follow too, so nothing stale comes back with them.
    ShowOffsets();
    SizeFrequencyPanel();
    Limits->PlaybackLoaded(FileName, header ? 1 : 0, count - 1);
    ReselectBandwidth();
    SBMinChange();
    Panel->ApplyScale();
    CheckPlaybackStamp(0, quillex::RecordStamp(first.data()));
}

void TForm1::CheckPlaybackStamp(int64_t Record, double Stamp)
{
    if (PlaybackHeaded || PlaybackStampsImplausible || quillex::IsPlausibleStamp(Stamp))
        return;
    PlaybackStampsImplausible = true;
    // It still plays: the user may know better. The same words as the exporter's.
    FPrompts.ShowWarning(QString::fromStdString(quillex::ImplausibleStampWarning(
        WithoutFolder(PlaybackFileName).toStdString(), Record, Stamp)));
}

void TForm1::UnloadPlaybackFile()
{
    SpkFile.Reader.Close();
    PlaybackFileName.clear();
    FileFrameCount = 0;
    SetStatusText(3, QString());
    LblMax->clear();
    LblAkt->clear();
    SetFilePosition(0);
}

void TForm1::PBMouseUp(int X)
{
    const int width = PB->width();
    if (PlaybackFileName.isEmpty() || width <= 0)
        return;
    // Kept on the bar, so that a release beside it neither plays the header nor
    // seeks past the end.
    SetFilePosition(quillex::RoundHalfEven(double(PB->maximum()) / width * X));
    LblAkt->setText(QStringLiteral("Pos: %1").arg(PB->value()));
    SpkFile.Reader.Seek(PB->value());
    // The next frame does not follow the last one played: open episodes end there, as at
    // the end of a run, rather than joining frames that were never played.
    Limits->RunEnded();
}

void TForm1::SetFilePosition(int64_t Position)
{
    PB->setValue(static_cast<int>(
        std::clamp<int64_t>(Position, PB->minimum(), std::max(PB->minimum(), PB->maximum()))));
}

void TForm1::StopPlayback()
{
    if (!BtnStartStop->isChecked())
        return;
    BtnStartStop->setChecked(false);
    BtnStartStopClick();
}

void TForm1::RewindPlayback()
{
    SpkFile.Reader.Seek(0);
    SetFilePosition(0);
    LblAkt->setText(QStringLiteral("Pos: %1").arg(PB->value()));
}

bool TForm1::ReadPlaybackFrame()
{
    quillex::TSpkReader& reader = SpkFile.Reader;
    if (!reader.IsOpen()) {
        StopPlayback();
        return false;
    }
    quillex::TSpkReadResult result;
    try {
        result = reader.ReadRecord(FrameStamp, SampleBlock.data());
    } catch (const quillex::ESpkError&) {
        // One message, not one per tick.
        StopPlayback();
        throw;
    }
    const bool whole = result == quillex::TSpkReadResult::Full;
    if (whole) {
        PlaybackRecord = reader.Position() - 1;
        CheckPlaybackStamp(PlaybackRecord, FrameStamp);
        SetFilePosition(reader.Position());
        LblAkt->setText(QStringLiteral("Pos: %1").arg(PB->value()));
    }
    if (!whole || reader.AtEnd()) {
        StopPlayback();
        RewindPlayback();
    }
    return whole;
}

void TForm1::RunPlayback()
{
    if (BtnStartStop->isChecked()) {
        if (!SpkFile.Reader.IsOpen()) {
            BtnStartStop->setChecked(false);
            return;
        }
        SpkFile.Reader.Seek(PB->value());
        if (RBSync->isChecked()) {
            RBFast->setEnabled(false);
            RunSyncLoop(true);
        } else {
            Timer1->start();
            RBSync->setEnabled(false);
        }
    } else {
        Timer1->stop();
        RBFast->setEnabled(true);
        RBSync->setEnabled(true);
    }
}
