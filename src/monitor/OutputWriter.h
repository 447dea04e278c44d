#pragma once

#include "DayImage.h"
#include "DiskBudget.h"
#include "FrameRecipe.h"
#include "MonitorClock.h"
#include "OutputQueue.h"
#include "StatsFile.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// The monitor's writer thread: everything that touches the disk, fed by the queue from the
// acquisition. Under the output folder: stats/ (band statistics per day), events.csv (the
// limit episodes), alarms/ (recordings on alarm), recordings/ (continuous, hourly, in parts
// under a disk budget), waterfall/ (an image per day). A failed output is logged once and
// tried again with the next interval; the others go on. Recordings pause while the disk has
// less than the minimum free, and the oldest are deleted to keep their total within the
// budget.
namespace quillex::monitor {

class TOutputWriter
{
public:
    // Bytes free to an unprivileged writer on the disk holding Path; -1 when unknown.
    using TFreeBytes = std::function<int64_t(const std::string& Path)>;
    static int64_t SystemFreeBytes(const std::string& Path);

    static constexpr double FreeSpaceCheckSeconds = 5;
    static constexpr double BudgetScanSeconds = 10;
    // A continuous recording is cut into parts of this share of the budget, so the budget
    // can be kept by deleting whole older parts.
    static constexpr int PartsPerBudget = 8;
    static constexpr double DeletionLogSeconds = 600;

    TOutputWriter(std::string Out, TOutputQueue& Queue, const TMonitorClock& Clock,
                  TFreeBytes FreeBytes);
    ~TOutputWriter();
    TOutputWriter(const TOutputWriter&) = delete;
    TOutputWriter& operator=(const TOutputWriter&) = delete;

    // Creates the folders; an empty text, or why the output folder cannot be used.
    std::string Prepare();
    void Start(std::shared_ptr<const TMonitorSettings> Settings);
    // Returns once the Stop message has been handled.
    void Join();

private:
    enum TOutput { StatsOut, EventsOut, AlarmsOut, ContinuousOut, ImageOut, OutputCount };

    void Run();
    void Handle(TOutMessage& Message, const int16_t* Block);
    void Apply(const TMonitorSettings& Settings);
    void Frame(const TOutMessage& Message, const int16_t* Block);
    void Interval(const TIntervalOutput* Interval);
    void Periodic(bool Force);
    void Finish();

    bool RecordingsWanted() const;
    void StartAlarms();
    void PauseRecordings();
    void ContinuousFor(double Wall);
    void KeepBudget();
    void AddToImage(const TIntervalOutput& Interval);
    void WriteImage();
    void Failed(TOutput Output, const std::string& Message);
    void Succeeded(TOutput Output, const char* What);

    std::string FOut;
    TOutputQueue& FQueue;
    const TMonitorClock& FClock;
    TFreeBytes FFreeBytes;
    std::thread FThread;
    std::shared_ptr<const TMonitorSettings> FSettings;

    TFrameRecording FRecording;
    TStatsFile FStats;
    TTextRenderer FText;
    std::unique_ptr<TDayImage> FImage;
    int FImageRow = -1; // the row last written into the image's file
    bool FImageDirty = false;

    std::array<bool, OutputCount> FFailing{};
    bool FPaused = false; // recordings paused for want of free space
    bool FRetryContinuous = false;
    bool FRestartAlarms = false;        // (re)start recording on alarm once no recording is open
    std::string FContinuousHour;        // "YYYY-MM-DD_HH" of the continuous file open
    int FContinuousPart = 0;            // its part of the hour, from 1
    std::vector<TRecordingFile> FFiles; // as last scanned
    std::string FScannedContinuous, FScannedAlarm;
    double FNextFreeCheck = 0, FNextScan = 0, FNextDeletionLog = 0;
    int64_t FDeleted = 0; // recordings deleted since the last report
};

} // namespace quillex::monitor
