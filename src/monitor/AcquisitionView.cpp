// The acquisition's share of the station view: what the view is told, and when. Everything
// here runs on the acquisition thread; the view copies what it is given under short locks of
// its own, and a frame it cannot take at once it refuses rather than wait.
#include "Acquisition.h"

#include <cstdio>

namespace quillex::monitor {

namespace {

const char* KindName(TLimitKind Kind)
{
    return Kind == TLimitKind::Upper ? "upper" : "lower";
}

} // namespace

void TAcquisition::ViewConfigure(const TMonitorSettings& S)
{
    if (!FView)
        return;
    // The whole 0..40 MHz is monitored: no span of its own.
    FView->SetMapping({S.FreqOffsetMHz, S.LevelOffsetDb, S.Inverted, S.Window, 0, 0});
    FViewSettings.clear();
    for (auto& [key, value] : SettingsList(S))
        if (key != "token" && key != "token-file")
            FViewSettings.emplace_back(std::move(key), std::move(value));
    std::string bands;
    for (const TMonitorBand& b : S.Bands) {
        char range[64];
        std::snprintf(range, sizeof range, "=%.10g:%.10g", b.LowMHz, b.HighMHz);
        bands += (bands.empty() ? "" : " ") + b.Name + range;
    }
    FViewSettings.emplace_back("bands", bands);
}

void TAcquisition::ViewFrame(const TTimeKeeper::TNow& Now)
{
    if (!FView)
        return;
    FView->PublishFrame(FRecipe.Averages(), FRecipe.N(), Now.Wall);
    const TLimitStep& step = FRecipe.LimitStep();
    if (step.EndedCount > 0 || step.Started[0] || step.Started[1])
        ViewEpisodes(step);
}

// The episodes a step ended, then those it started (a kind's end and its next start never
// share a frame, but either kind's may).
void TAcquisition::ViewEpisodes(const TLimitStep& Step)
{
    if (!FView)
        return;
    for (int i = 0; i < Step.EndedCount; ++i) {
        const TLimitEpisode& e = Step.Ended[size_t(i)];
        FView->PublishEvent({true, e.Start, e.End, e.FirstFrame, e.LastFrame, KindName(e.Kind),
                             e.Worst.MHz, e.Worst.Dbm, e.Worst.ExcessDb});
    }
    for (const TLimitKind kind : {TLimitKind::Upper, TLimitKind::Lower}) {
        if (!Step.Started[int(kind)] || !FRecipe.Episodes().IsOpen(kind))
            continue;
        const TLimitEpisode& e = FRecipe.Episodes().Current(kind);
        FView->PublishEvent({false, FRecipe.EpisodeStart(kind), 0, e.FirstFrame, 0, KindName(kind),
                             e.Worst.MHz, e.Worst.Dbm, e.Worst.ExcessDb});
    }
}

void TAcquisition::ViewBands(const TIntervalOutput& Interval)
{
    if (!FView)
        return;
    std::vector<station::TBandRow> rows;
    for (const TBandLine& b : Interval.Lines)
        rows.push_back({Interval.Start, true, Interval.FirstFrame, b.Band, b.LowMHz, b.HighMHz,
                        b.PowerDbm, b.NoiseDbmHz, b.OccupancyPct, b.ObwKHz, b.PeakMHz, b.PeakDbm});
    FView->PublishBands(rows);
}

void TAcquisition::ViewStatus(double Monotonic)
{
    FNextStatus = Monotonic + StatusSeconds;
    station::TStationStatus status;
    if (FSettings->Debug)
        status.Receiver = "debug signal";
    else
        status.Receiver = FReceiver->LibraryPath().empty() ? "none" : FReceiver->LibraryPath();
    status.Simulated = FReceiver && FReceiver->IsSimulated();
    status.Running = FDelivering;
    status.Settings = FViewSettings;
    // Lost to the monitor: skipped behind the frame rate, or not recorded (the writer behind).
    status.DroppedFrames = FSkipped + FQueue.RefusedFrames();
    status.UptimeSeconds = Monotonic - FStartMonotonic;
    for (const TLimitKind kind : {TLimitKind::Upper, TLimitKind::Lower})
        if (FRecipe.Episodes().IsOpen(kind)) {
            const TLimitEpisode& e = FRecipe.Episodes().Current(kind);
            status.OpenEpisodes.push_back({KindName(kind), FRecipe.EpisodeStart(kind), e.FirstFrame,
                                           e.Worst.MHz, e.Worst.Dbm, e.Worst.ExcessDb});
        }
    FView->PublishStatus(status);
}

void TAcquisition::Delivering(bool On)
{
    FDelivering = On;
    FNextStatus = 0;
}

} // namespace quillex::monitor
