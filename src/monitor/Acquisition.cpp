#include "Acquisition.h"

#include "DateTimeU.h"
#include "FrameProcessor.h"
#include "LabelSchedule.h"
#include "MonitorLog.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace quillex::monitor {

namespace {

constexpr double SecondsPerDay = 86400.0;

std::string Every(double Seconds)
{
    char text[48];
    std::snprintf(text, sizeof text, "trying again every %g s", Seconds);
    return text;
}

std::string WithoutTerminating(std::string Text)
{
    // The window's texts end the program; the monitor tries again instead.
    for (const char* tail : {", terminating.", " terminating."})
        if (Text.size() > std::strlen(tail) &&
            Text.compare(Text.size() - std::strlen(tail), std::string::npos, tail) == 0)
            Text.resize(Text.size() - std::strlen(tail));
    return Text;
}

TFrameSettings FrameSettingsOf(const TMonitorSettings& S)
{
    return {S.Exponent, S.Window, S.Averaging, S.Inverted, S.FreqOffsetMHz, S.LevelOffsetDb};
}

} // namespace

TAcquisition::TAcquisition(TOutputQueue& Queue, const TMonitorClock& Clock, double RetrySeconds,
                           station::TStation* View)
    : FQueue(Queue), FClock(Clock), FRetrySeconds(RetrySeconds), FRandom(std::random_device()()),
      FView(View)
{
    // The writer needs no levels of every frame: the interval's fold is converted once.
    FRecipe.SetLevelsWanted(false);
}

TAcquisition::~TAcquisition()
{
    Stop();
    Join();
}

void TAcquisition::Start(std::shared_ptr<const TMonitorSettings> Settings, const TLimits& Limits)
{
    FTime = std::make_unique<TTimeKeeper>(FClock);
    FTime->OnStep = [](double Step) {
        char text[96];
        std::snprintf(text, sizeof text, "the wall clock stepped by %+.1f s", Step);
        LogWarning(text);
    };
    FSettings = std::move(Settings);
    if (!FSettings->Debug)
        FReceiver = std::make_unique<TReceiverSession>();
    Configure(*FSettings, Limits);
    FThread = std::thread([this] {
        pthread_setname_np(pthread_self(), "qx-acquire"); // for top -H and the benchmarks
        Run();
    });
}

void TAcquisition::Reconfigure(std::shared_ptr<const TMonitorSettings> Settings,
                               const TLimits& Limits)
{
    {
        std::lock_guard lock(FMutex);
        FPendingSettings = std::move(Settings);
        FPendingLimits = Limits;
    }
    FWake.notify_all();
}

void TAcquisition::Stop()
{
    FStop = true;
    FWake.notify_all();
    if (FReceiver)
        FReceiver->Wake();
}

void TAcquisition::Join()
{
    if (FThread.joinable())
        FThread.join();
}

void TAcquisition::Configure(const TMonitorSettings& S, const TLimits& Limits)
{
    FRecipe.Configure(FrameSettingsOf(S));
    std::vector<TBand> bands;
    for (const TMonitorBand& b : S.Bands)
        bands.push_back({b.LowMHz, b.HighMHz});
    FRecipe.SetBands(std::move(bands), S.OccupancyDb);
    FRecipe.SetLimits(Limits);
    FRecipe.SetHoldOffSeconds(S.HoldOffS);
    FFold.assign(size_t(FRecipe.N()), 0.0f);
    FIntervalFrames = 0;
    if (FReceiver)
        FReceiver->Apply({S.AttenuatorDb, S.Dither, S.Preamp});
    ViewConfigure(S);
}

void TAcquisition::Apply()
{
    std::shared_ptr<const TMonitorSettings> settings;
    TLimits limits;
    {
        std::lock_guard lock(FMutex);
        if (!FPendingSettings)
            return;
        settings = std::move(FPendingSettings);
        limits = FPendingLimits;
    }
    // The interval under way ends with what it has, under the settings it began with.
    EndInterval(FTime->Now());
    FSettings = settings;
    Configure(*FSettings, limits);
    TOutMessage m;
    m.Kind = TOutMessage::TKind::Settings;
    m.Settings = FSettings;
    FQueue.Push(std::move(m));
}

void TAcquisition::Run()
{
    const TTimeKeeper::TNow start = FTime->Now();
    FStartMonotonic = start.Monotonic;
    FNextFrame = start.Monotonic;
    FNextStamp = start.Steady;
    // Intervals that divide the day start at its multiples (a minute's on the minute).
    const double interval = FSettings->StatsIntervalS;
    const double ofDay = (start.Wall - std::floor(start.Wall)) * SecondsPerDay;
    const bool aligned = std::fmod(SecondsPerDay, interval) == 0;
    FIntervalStart = start.Monotonic;
    FIntervalWall = start.Wall;
    FIntervalEnd = start.Monotonic + (aligned ? interval - std::fmod(ofDay, interval) : interval);
    FNextStatus = start.Monotonic + StatusSeconds;
    if (FSettings->Debug)
        Delivering(true);

    while (!FStop) {
        Apply();
        const TTimeKeeper::TNow now = FTime->Now();
        if (FSettings->DurationS > 0 && now.Monotonic - FStartMonotonic >= FSettings->DurationS)
            break;
        if (FView && now.Monotonic >= FNextStatus)
            ViewStatus(now.Monotonic);
        if (now.Monotonic >= FIntervalEnd) {
            EndInterval(now);
            continue;
        }
        if (TakeBlock(now))
            Process(FTime->Now());
    }
    EndInterval(FTime->Now());
    EndRun();
    if (FReceiver)
        FReceiver->Close();
    TOutMessage stop;
    stop.Kind = TOutMessage::TKind::Stop;
    // The last message must arrive: the writer ends with it.
    while (!FQueue.Push(std::move(stop)))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    FEnded = true;
}

double TAcquisition::NextDeadline() const
{
    double deadline = FIntervalEnd;
    if (FSettings->DurationS > 0)
        deadline = std::min(deadline, FStartMonotonic + FSettings->DurationS);
    if (FView)
        deadline = std::min(deadline, FNextStatus);
    return deadline;
}

void TAcquisition::WaitUntil(double Monotonic)
{
    const double seconds = std::min(Monotonic, NextDeadline()) - FClock.MonotonicSeconds();
    if (seconds <= 0)
        return;
    std::unique_lock lock(FMutex);
    FWake.wait_for(lock, std::chrono::duration<double>(seconds),
                   [this] { return FStop.load() || FPendingSettings != nullptr; });
}

bool TAcquisition::TakeBlock(const TTimeKeeper::TNow& Now)
{
    // The frame rate paces the frames on the monotonic clock; a frame more than a period late
    // (a stall) starts the schedule afresh rather than hurrying the next ones.
    const int rate = FSettings->FrameRate;
    const double perSecond = rate > 0 ? rate : FSettings->Debug ? DebugBlockRate : 0;
    if (perSecond > 0) {
        if (Now.Monotonic < FNextFrame) {
            WaitUntil(FNextFrame);
            return false;
        }
        const double period = 1.0 / perSecond, late = Now.Monotonic - FNextFrame;
        // Frames the schedule skips while the receiver delivers are lost to the monitor.
        if (late > period && FDelivering)
            FSkipped += int64_t(late / period);
        FNextFrame = late > period ? Now.Monotonic + period : FNextFrame + period;
    }
    if (FSettings->Debug) {
        SynthesizeDebugBlock(FBlock.data(), 2 * FRecipe.N(), FRandom);
        return true;
    }
    const bool delivering = FDelivering;
    if (!ReadReceiver(Now))
        return false;
    // The schedule starts again at the receiver's first block: the time it took to open and
    // start is a gap, not frames lost.
    if (!delivering && perSecond > 0)
        FNextFrame = FClock.MonotonicSeconds() + 1.0 / perSecond;
    return true;
}

bool TAcquisition::ReadReceiver(const TTimeKeeper::TNow& Now)
{
    if (!FReceiver->IsOpen()) {
        if (Now.Monotonic < FNextRetry) {
            WaitUntil(FNextRetry);
            return false;
        }
        const std::string error =
            FReceiver->Open({FSettings->AttenuatorDb, FSettings->Dither, FSettings->Preamp});
        if (!error.empty()) {
            Fault("receiver: " + WithoutTerminating(error), Now.Monotonic);
            return false;
        }
    }
    switch (FReceiver->Read(FBlock.data())) {
    case TReceiverSession::TRead::Block: {
        // Told once the receiver delivers: at the start and after each fault.
        const bool first = !std::exchange(FOpenLogged, true);
        if (std::exchange(FFaultLogged, false) || first) {
            LogInfo("receiver open: " + FReceiver->LibraryPath());
            if (FReceiver->IsSimulated())
                LogInfo("simulated receiver: " + FReceiver->LibraryPath());
            Delivering(true);
        }
        return true;
    }
    case TReceiverSession::TRead::Failed:
        Fault("receiver fault: its read failed", FClock.MonotonicSeconds());
        return false;
    case TReceiverSession::TRead::TimedOut:
        Fault("receiver fault: no block within 2 s", FClock.MonotonicSeconds());
        return false;
    case TReceiverSession::TRead::Woken:
        return false;
    }
    return false;
}

// One line per fault, however often the receiver is tried until it delivers again.
void TAcquisition::Fault(const std::string& Reason, double Monotonic)
{
    if (!std::exchange(FFaultLogged, true))
        LogError(Reason + "; receiver closed, " + Every(FRetrySeconds));
    Delivering(false);
    FReceiver->Close();
    FNextRetry = Monotonic + FRetrySeconds;
    // The frames after the gap do not follow on from those before it.
    EndRun();
}

void TAcquisition::Process(const TTimeKeeper::TNow& Now)
{
    if (!FRecipe.Process(FBlock.data(), FFrame, {Now.Wall, Now.Steady}))
        return;
    FRunOpen = true;
    if (FIntervalFrames++ == 0) {
        FIntervalFirst = FFrame;
        std::fill(FFold.begin(), FFold.end(), 0.0f);
    }
    FFrames = ++FFrame;
    const float* averages = FRecipe.Averages();
    for (size_t k = 0; k < FFold.size(); ++k)
        FFold[k] = std::max(FFold[k], averages[k]);
    ViewFrame(Now);
    const TLimitStep& step = FRecipe.LimitStep();
    if (step.EndedCount > 0) {
        TOutMessage m;
        m.Kind = TOutMessage::TKind::Episodes;
        m.Step = step;
        FQueue.Push(std::move(m));
    }
    if (FSettings->RecordOnAlarm || FSettings->RecordAll) {
        // A frame of about every second carries its time, as the window's recordings do.
        double stamp = 0;
        if (IsDue(Now.Steady, FNextStamp)) {
            stamp = Now.Wall;
            const int rate = FSettings->FrameRate;
            FNextStamp = Now.Steady +
                         SecondsToDays(rate > 0 ? LabelIntervalSeconds(TPacing::Fast, rate) : 1.0);
        }
        FQueue.PushFrame(stamp, Now.Steady, Now.Wall, FRecipe.Beyond(), FBlock.data());
    }
}

void TAcquisition::EndInterval(const TTimeKeeper::TNow& Now)
{
    const double length = FSettings->StatsIntervalS;
    const double start = FIntervalWall;
    // The next interval begins where this one ended, or now when the clock left it far behind.
    const double end = std::min(FIntervalEnd, Now.Monotonic);
    FIntervalStart = Now.Monotonic - FIntervalEnd > length ? Now.Monotonic : end;
    FIntervalWall = Now.Wall - SecondsToDays(Now.Monotonic - FIntervalStart);
    FIntervalEnd = FIntervalStart + length;
    const int64_t refused = FQueue.RefusedFrames();
    if (refused > FRefusedSeen) {
        LogWarning("the writer falls behind: " + std::to_string(refused - FRefusedSeen) +
                   " frames not recorded");
        FRefusedSeen = refused;
    }
    TOutMessage m;
    m.Kind = TOutMessage::TKind::Interval;
    if (FIntervalFrames > 0) {
        auto out = std::make_unique<TIntervalOutput>();
        out->Start = start;
        out->FirstFrame = FIntervalFirst;
        out->Frames = FIntervalFrames;
        const std::span<const TBandResult> results = FRecipe.TakeBands();
        for (size_t b = 0; b < results.size() && b < FSettings->Bands.size(); ++b) {
            const TMonitorBand& band = FSettings->Bands[b];
            const TBandResult& r = results[b];
            out->Lines.push_back({band.Name, band.LowMHz, band.HighMHz, r.PowerDbm, r.NoiseDbmHz,
                                  r.OccupancyPct, r.ObwKHz, r.HasPeak ? r.PeakMHz : NAN,
                                  r.HasPeak ? r.PeakDbm : NAN});
        }
        out->Levels.resize(FFold.size());
        LevelsFromAverages(FFold.data(), out->Levels.data(), int(FFold.size()),
                           FSettings->Inverted);
        ViewBands(*out);
        m.Interval = std::move(out);
    } else {
        FRecipe.TakeBands(); // a gap: nothing gathered is carried into the next interval
    }
    FIntervalFrames = 0;
    FQueue.Push(std::move(m));
}

void TAcquisition::EndRun()
{
    if (!std::exchange(FRunOpen, false))
        return;
    TOutMessage m;
    m.Kind = TOutMessage::TKind::RunEnded;
    m.Step = FRecipe.FinishEpisodes();
    ViewEpisodes(m.Step);
    FQueue.Push(std::move(m));
}

} // namespace quillex::monitor
