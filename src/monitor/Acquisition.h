#pragma once

#include "FrameRecipe.h"
#include "LimitCurve.h"
#include "MonitorClock.h"
#include "MonitorOptions.h"
#include "OutputQueue.h"
#include "ReceiverSession.h"
#include "Station.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

// The monitor's acquisition thread: takes frames from the receiver (or the synthetic debug
// signal) at the frame rate, runs each through the frame recipe, gathers the statistics
// intervals on the monotonic clock and hands everything that goes to disk to the writer's
// queue, never waiting for it. A receiver that fails or stops delivering is closed with one
// logged line and opened again every few seconds; the intervals go on meanwhile, and one
// without frames writes nothing. With a station view, every frame, the display mapping, a
// status about once a second, the statistics of each interval and each episode's start and
// end go to it as well (AcquisitionView.cpp); it never waits for the view either.
namespace quillex::monitor {

class TAcquisition
{
public:
    // The debug signal's pace when every block is wanted: the simulated receiver's.
    static constexpr double DebugBlockRate = 150;

    // A status for the station view this often.
    static constexpr double StatusSeconds = 1.0;

    // RetrySeconds between attempts to open the receiver. View: the station view to feed, or
    // none; it must be started before Start and stopped after Join.
    TAcquisition(TOutputQueue& Queue, const TMonitorClock& Clock, double RetrySeconds,
                 station::TStation* View = nullptr);
    ~TAcquisition();
    TAcquisition(const TAcquisition&) = delete;
    TAcquisition& operator=(const TAcquisition&) = delete;

    void Start(std::shared_ptr<const TMonitorSettings> Settings, const TLimits& Limits);
    // New settings and limits, taken before the next frame.
    void Reconfigure(std::shared_ptr<const TMonitorSettings> Settings, const TLimits& Limits);
    // Ends the run: the frame under way is finished, the open episodes and the open interval
    // are handed on, the receiver closed, and the writer's last message sent.
    void Stop();
    // The run has ended (by Stop or by its duration).
    bool Ended() const { return FEnded.load(); }
    // Frames processed so far.
    int64_t Frames() const { return FFrames.load(); }
    void Join();

private:
    void Run();
    void Apply();
    void Configure(const TMonitorSettings& Settings, const TLimits& Limits);
    bool TakeBlock(const TTimeKeeper::TNow& Now);
    bool ReadReceiver(const TTimeKeeper::TNow& Now);
    void Process(const TTimeKeeper::TNow& Now);
    void EndInterval(const TTimeKeeper::TNow& Now);
    void EndRun();
    void Fault(const std::string& Reason, double Monotonic);
    void WaitUntil(double Monotonic);
    double NextDeadline() const;
    // The station view's share (AcquisitionView.cpp); each does nothing without a view.
    void ViewConfigure(const TMonitorSettings& Settings);
    void ViewFrame(const TTimeKeeper::TNow& Now);
    void ViewEpisodes(const TLimitStep& Step);
    void ViewBands(const TIntervalOutput& Interval);
    void ViewStatus(double Monotonic);
    // The receiver delivers or not: a change is told to the view at once.
    void Delivering(bool On);

    TOutputQueue& FQueue;
    const TMonitorClock& FClock;
    const double FRetrySeconds;
    std::thread FThread;
    std::atomic<bool> FStop{false}, FEnded{false};
    std::atomic<int64_t> FFrames{0};
    std::mutex FMutex;
    std::condition_variable FWake;
    std::shared_ptr<const TMonitorSettings> FPendingSettings;
    TLimits FPendingLimits;

    std::shared_ptr<const TMonitorSettings> FSettings;
    std::unique_ptr<TTimeKeeper> FTime;
    TFrameRecipe FRecipe;
    std::unique_ptr<TReceiverSession> FReceiver;
    std::mt19937 FRandom;
    std::array<int16_t, TOutputQueue::SampleCount> FBlock{};

    double FStartMonotonic = 0;
    double FNextFrame = 0, FNextRetry = 0;
    bool FFaultLogged = false, FOpenLogged = false, FRunOpen = false;
    double FNextStamp = 0; // steady days
    int64_t FFrame = 0;    // frames received so far
    // The interval under way.
    double FIntervalStart = 0, FIntervalEnd = 0; // monotonic seconds
    double FIntervalWall = 0;                    // its start on the wall clock
    int64_t FIntervalFrames = 0, FIntervalFirst = 0;
    std::vector<float> FFold;
    int64_t FRefusedSeen = 0;

    station::TStation* const FView;
    std::vector<std::pair<std::string, std::string>> FViewSettings; // as the status shows them
    bool FDelivering = false;
    int64_t FSkipped = 0;   // frames the frame rate's schedule skipped after a stall
    double FNextStatus = 0; // monotonic seconds
};

} // namespace quillex::monitor
