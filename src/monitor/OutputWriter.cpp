#include "OutputWriter.h"

#include "DateTimeU.h"
#include "MonitorLog.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace quillex::monitor {

namespace {

constexpr double Megabyte = 1e6;
constexpr int64_t RecordBytes = 16392;
// A row of the day's image stands for at least a minute: a day is then at most 1440 rows
// (an image of about 18 MB in memory), whatever the statistics interval.
constexpr double MinRowSeconds = 60;

std::string MakeFolder(const std::string& Path)
{
    if (::mkdir(Path.c_str(), 0755) == 0 || errno == EEXIST) {
        struct stat info
        {
        };
        if (::stat(Path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            return {};
        return Path + " is not a folder";
    }
    return "cannot create " + Path + ": " + std::strerror(errno);
}

int64_t FileBytes(const std::string& Path)
{
    struct stat info
    {
    };
    return ::stat(Path.c_str(), &info) == 0 ? int64_t(info.st_size) : 0;
}

// The highest part number of Hour's continuous recordings under Out, 0 when there is none.
int LastPart(const std::string& Out, const std::string& Hour)
{
    int last = 0;
    const std::string prefix = Out + "/recordings/" + Hour;
    for (const TRecordingFile& f : ListRecordings(Out))
        if (f.Path.compare(0, prefix.size(), prefix) == 0)
            last = std::max(last, f.Path[prefix.size()] == '_'
                                      ? std::atoi(f.Path.c_str() + prefix.size() + 1)
                                      : 1);
    return last;
}

} // namespace

int64_t TOutputWriter::SystemFreeBytes(const std::string& Path)
{
    struct statvfs info
    {
    };
    if (::statvfs(Path.c_str(), &info) != 0)
        return -1;
    return int64_t(info.f_bavail) * int64_t(info.f_frsize);
}

TOutputWriter::TOutputWriter(std::string Out, TOutputQueue& Queue, const TMonitorClock& Clock,
                             TFreeBytes FreeBytes)
    : FOut(std::move(Out)), FQueue(Queue), FClock(Clock), FFreeBytes(std::move(FreeBytes)),
      FStats(FOut + "/stats")
{
    FRecording.OnFailure = [this](TRecordingOutput Output, const std::string& Message) {
        Failed(Output == TRecordingOutput::EventLog ? EventsOut
               : Output == TRecordingOutput::Alarms ? AlarmsOut
                                                    : ContinuousOut,
               Message);
    };
}

TOutputWriter::~TOutputWriter()
{
    if (FThread.joinable())
        FThread.join();
}

std::string TOutputWriter::Prepare()
{
    // The output folder itself may need its parent made first ("created if missing").
    for (size_t slash = FOut.find('/', 1); slash != std::string::npos;
         slash = FOut.find('/', slash + 1))
        ::mkdir(FOut.substr(0, slash).c_str(), 0755);
    for (const std::string& folder :
         {FOut, FOut + "/stats", FOut + "/alarms", FOut + "/recordings", FOut + "/waterfall"})
        if (std::string error = MakeFolder(folder); !error.empty())
            return error;
    if (!FText.HasFont())
        LogWarning("no font found (fonts-liberation2): the day images have no texts");
    return {};
}

void TOutputWriter::Start(std::shared_ptr<const TMonitorSettings> Settings)
{
    FSettings = std::move(Settings);
    FThread = std::thread([this] {
        pthread_setname_np(pthread_self(), "qx-writer");
        Run();
    });
}

void TOutputWriter::Join()
{
    if (FThread.joinable())
        FThread.join();
}

void TOutputWriter::Run()
{
    try {
        FRecording.OpenEventLog(FOut + "/events.csv");
    } catch (const ELimitLogError& e) {
        Failed(EventsOut, e.what());
    }
    Apply(*FSettings);
    Periodic(true);
    for (;;) {
        const int16_t* block = nullptr;
        TOutMessage* message = FQueue.Front(0.5, &block);
        if (message != nullptr) {
            const bool stop = message->Kind == TOutMessage::TKind::Stop;
            Handle(*message, block);
            FQueue.Pop();
            if (stop)
                break;
        }
        Periodic(false);
    }
    Finish();
}

void TOutputWriter::Handle(TOutMessage& M, const int16_t* Block)
{
    switch (M.Kind) {
    case TOutMessage::TKind::Frame:
        Frame(M, Block);
        break;
    case TOutMessage::TKind::Interval:
        Interval(M.Interval.get());
        break;
    case TOutMessage::TKind::Episodes:
        FRecording.LogEpisodes(M.Step);
        break;
    case TOutMessage::TKind::RunEnded:
        FRecording.RunEnded(M.Step);
        break;
    case TOutMessage::TKind::Settings:
        if (M.Settings) {
            FSettings = M.Settings;
            Apply(*FSettings);
        }
        break;
    case TOutMessage::TKind::Stop:
        break;
    }
}

void TOutputWriter::Apply(const TMonitorSettings& S)
{
    const bool alarms = S.RecordOnAlarm && !FPaused;
    // New seconds or offsets count from the next alarm on: a recording under way keeps those
    // it began with (starting again would close it).
    if (alarms && !FFailing[AlarmsOut])
        FRestartAlarms = true;
    else if (!alarms && FRecording.Alarms().Active()) {
        try {
            FRecording.StopAlarms();
        } catch (const EAlarmRecordError& e) {
            Failed(AlarmsOut, e.what());
        }
    }
    if ((!S.RecordAll || FPaused) && FRecording.Continuous().IsOpen()) {
        try {
            FRecording.StopContinuous();
        } catch (const ESpkError& e) {
            Failed(ContinuousOut, e.what());
        }
        FContinuousHour.clear();
    }
}

bool TOutputWriter::RecordingsWanted() const
{
    return FSettings->RecordOnAlarm || FSettings->RecordAll;
}

void TOutputWriter::StartAlarms()
{
    TAlarmRecordingSettings s;
    s.Folder = FOut + "/alarms";
    s.PreSeconds = FSettings->PreS;
    s.PostSeconds = FSettings->PostS;
    s.FreqOffset = FSettings->FreqOffsetMHz;
    s.LevelOffset = FSettings->LevelOffsetDb;
    s.Inverted = FSettings->Inverted;
    FRecording.StartAlarms(s);
}

void TOutputWriter::Frame(const TOutMessage& M, const int16_t* Block)
{
    if (FPaused)
        return;
    if (FRestartAlarms && !FRecording.Alarms().Recording()) {
        FRestartAlarms = false;
        StartAlarms();
    }
    if (FSettings->RecordAll && (!FFailing[ContinuousOut] || FRetryContinuous))
        ContinuousFor(M.Wall);
    if (FSettings->DiskBudgetMB > 0)
        KeepBudget();
    FRecording.Frame({M.Stamp, {M.Wall, M.Steady}, Block, M.Beyond});
}

// The continuous recording's file for a frame at Wall: a file per hour, in parts when the
// budget asks for them; no file is ever replaced.
void TOutputWriter::ContinuousFor(double Wall)
{
    const std::string hour = FormatDateTime("yyyy-mm-dd_hh", Wall);
    const TSpkWriter& writer = FRecording.Continuous();
    const int64_t partBytes = int64_t(FSettings->DiskBudgetMB * Megabyte / PartsPerBudget);
    const bool full = FSettings->DiskBudgetMB > 0 && (writer.RecordCount() + 1) * RecordBytes >
                                                         std::max(partBytes, 2 * RecordBytes);
    if (writer.IsOpen() && hour == FContinuousHour && !full)
        return;
    FRetryContinuous = false;
    // Parts count up within the hour, past any of an earlier run, so that their names keep
    // their order even when the budget has deleted the first ones.
    if (hour != FContinuousHour)
        FContinuousPart = LastPart(FOut, hour);
    const std::string base = FOut + "/recordings/" + hour;
    std::string name;
    do {
        ++FContinuousPart;
        name = FContinuousPart == 1 ? base + ".spk"
                                    : base + "_" + std::to_string(FContinuousPart) + ".spk";
    } while (::access(name.c_str(), F_OK) == 0);
    try {
        FRecording.StopContinuous();
        FRecording.StartContinuous(
            name, {FSettings->FreqOffsetMHz, FSettings->LevelOffsetDb, FSettings->Inverted, '.'});
        FContinuousHour = hour;
        Succeeded(ContinuousOut, "the continuous recording");
    } catch (const ESpkError& e) {
        FContinuousHour.clear();
        Failed(ContinuousOut, e.what());
    }
}

void TOutputWriter::KeepBudget()
{
    const std::string continuous =
        FRecording.Continuous().IsOpen() ? FRecording.Continuous().FileName() : std::string();
    const std::string alarm =
        FRecording.Alarms().Recording() ? FRecording.Alarms().FileName() : std::string();
    const double now = FClock.MonotonicSeconds();
    if (now >= FNextScan || continuous != FScannedContinuous || alarm != FScannedAlarm) {
        FFiles = ListRecordings(FOut);
        FScannedContinuous = continuous;
        FScannedAlarm = alarm;
        FNextScan = now + BudgetScanSeconds;
    }
    // The files being written count as they are now; the rest as scanned.
    std::vector<std::string> keep;
    int64_t open = 0;
    if (!continuous.empty()) {
        keep.push_back(continuous);
        open += FRecording.Continuous().RecordCount() * RecordBytes;
    }
    if (!alarm.empty()) {
        keep.push_back(alarm);
        open += FileBytes(alarm);
    }
    std::vector<TRecordingFile> closed;
    for (const TRecordingFile& f : FFiles)
        if (f.Path != continuous && f.Path != alarm)
            closed.push_back(f);
    // What this frame may add: a record to each file, and the ring when an alarm opens.
    const bool mayOpen = FRecording.Alarms().Active() && alarm.empty();
    const int64_t incoming = RecordBytes * (2 + (mayOpen ? FRecording.RingFrames() + 1 : 0));
    std::vector<std::string> deleted;
    const int64_t budget = int64_t(FSettings->DiskBudgetMB * Megabyte);
    if (KeepWithinBudget(closed, budget - open, incoming, keep, deleted) == 0)
        return;
    for (const std::string& name : deleted)
        std::erase_if(FFiles, [&](const TRecordingFile& f) { return f.Path == name; });
    // The first deletion is told, then a count every few minutes: a budget kept by deleting
    // a part every few seconds would fill the log.
    FDeleted += int64_t(deleted.size());
    if (now >= FNextDeletionLog) {
        LogInfo("disk budget: deleted " + std::to_string(FDeleted) + " recording" +
                (FDeleted == 1 ? "" : "s") + " since the last report, the last " + deleted.back());
        FDeleted = 0;
        FNextDeletionLog = now + DeletionLogSeconds;
    }
}

void TOutputWriter::Interval(const TIntervalOutput* I)
{
    // What failed is tried again now.
    if (FFailing[EventsOut] || FRecording.PendingEpisodes() > 0) {
        try {
            FRecording.RetryEventLog();
            Succeeded(EventsOut, "the event log");
        } catch (const ELimitLogError& e) {
            Failed(EventsOut, e.what());
        }
    }
    if (FFailing[AlarmsOut] && FSettings->RecordOnAlarm && !FPaused) {
        FRestartAlarms = true;
        Succeeded(AlarmsOut, "recording on alarm");
    }
    // The next frame opens a new part of the continuous recording, or fails again.
    FRetryContinuous = FFailing[ContinuousOut];
    if (I == nullptr)
        return;
    // Without bands there are no statistics, only the image.
    if (!I->Lines.empty()) {
        if (std::string error = FStats.Add(*I); !error.empty())
            Failed(StatsOut, error);
        else
            Succeeded(StatsOut, "the statistics");
    }
    if (!I->Levels.empty())
        AddToImage(*I);
}

void TOutputWriter::AddToImage(const TIntervalOutput& I)
{
    const double day = std::floor(I.Start);
    if (FImage && FImage->Settings().Day != day) {
        WriteImage();
        FImage.reset();
    }
    if (!FImage) {
        TDayImageSettings s;
        s.Day = day;
        s.Columns = int(I.Levels.size());
        s.RowSeconds = std::max(FSettings->StatsIntervalS, MinRowSeconds);
        s.ZMin = float(FSettings->MinDbm - FSettings->LevelOffsetDb);
        s.ZMax = float(FSettings->MaxDbm - FSettings->LevelOffsetDb);
        s.LevelOffsetDb = FSettings->LevelOffsetDb;
        s.FreqOffsetMHz = FSettings->FreqOffsetMHz;
        FImage = std::make_unique<TDayImage>(s, FText);
        // The rows of a run earlier today stay in the picture.
        TRgbImage earlier;
        const std::string file = FOut + "/waterfall/" + FormatDateTime("yyyy-mm-dd", day) + ".png";
        if (ReadPng(file, earlier) && !FImage->Adopt(earlier))
            LogWarning(file + " has another layout: it is drawn anew");
        FImageRow = -1;
    }
    const int row = FImage->RowOf(I.Start);
    FImage->AddSpectrum(I.Start, I.Levels.data(), int(I.Levels.size()));
    FImageDirty = true;
    // Renewed when a row is begun; rows of several intervals are written once they change.
    if (row != FImageRow) {
        WriteImage();
        FImageRow = row;
    }
}

void TOutputWriter::WriteImage()
{
    if (!FImage || !FImageDirty)
        return;
    const std::string file =
        FOut + "/waterfall/" + FormatDateTime("yyyy-mm-dd", FImage->Settings().Day) + ".png";
    if (std::string error = WritePngReplacing(FImage->Image(), file); !error.empty()) {
        Failed(ImageOut, error);
        return;
    }
    FImageDirty = false;
    Succeeded(ImageOut, "the day's image");
}

void TOutputWriter::Periodic(bool Force)
{
    const double now = FClock.MonotonicSeconds();
    if (!Force && now < FNextFreeCheck)
        return;
    FNextFreeCheck = now + FreeSpaceCheckSeconds;
    if (!RecordingsWanted())
        return;
    const int64_t free = FFreeBytes ? FFreeBytes(FOut) : -1;
    const double minimum = FSettings->MinFreeMB * Megabyte;
    if (free >= 0 && double(free) < minimum && !FPaused) {
        FPaused = true;
        LogWarning("recordings paused: " + std::to_string(free / 1000000) +
                   " MB free on the disk of " + FOut + ", less than --min-free-mb " +
                   std::to_string(int64_t(FSettings->MinFreeMB)));
        PauseRecordings();
    } else if (FPaused && (free < 0 || double(free) >= minimum)) {
        FPaused = false;
        LogInfo("recordings go on: " + std::to_string(free / 1000000) + " MB free");
        Apply(*FSettings);
    }
}

void TOutputWriter::PauseRecordings()
{
    try {
        FRecording.StopAlarms();
    } catch (const EAlarmRecordError& e) {
        Failed(AlarmsOut, e.what());
    }
    try {
        FRecording.StopContinuous();
    } catch (const ESpkError& e) {
        Failed(ContinuousOut, e.what());
    }
    FContinuousHour.clear();
}

void TOutputWriter::Finish()
{
    WriteImage();
    PauseRecordings();
    if (FRecording.PendingEpisodes() > 0) {
        try {
            FRecording.RetryEventLog();
        } catch (const ELimitLogError& e) {
            LogError(std::to_string(FRecording.PendingEpisodes()) +
                     " episodes could not be logged: " + e.what());
        }
    }
    FRecording.CloseEventLog();
}

void TOutputWriter::Failed(TOutput Output, const std::string& Message)
{
    if (!std::exchange(FFailing[size_t(Output)], true))
        LogError(Message + (Output == StatsOut || Output == EventsOut || Output == ImageOut
                                ? " (kept, tried again with the next interval)"
                                : " (tried again with the next interval)"));
}

void TOutputWriter::Succeeded(TOutput Output, const char* What)
{
    if (std::exchange(FFailing[size_t(Output)], false))
        LogInfo(std::string(What) + " works again");
}

} // namespace quillex::monitor
