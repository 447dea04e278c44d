#include "LimitEpisodes.h"

#include "PeakSearch.h"

#include <cmath>

namespace quillex {

namespace {

// Frame times are days; a microsecond of slack keeps a gap of exactly the hold-off from
// turning on the rounding of the times.
constexpr double SecondsPerDay = 86400.0;
constexpr double HoldOffSlackSeconds = 1e-6;

TLimitWorst BinPoint(const TLimitCheck& Check, const TLimitKindResult& Result, TLimitKind Kind,
                     const float* Magnitudes)
{
    const TLimitGrid& grid = Check.Grid();
    const double excess = 20.0 * std::log10(double(Result.Ratio));
    return {grid.DisplayedMHz(grid.DisplayedPosition(Result.Bin)),
            LevelFromMagnitude(Magnitudes[Result.Bin]) + grid.LevelOffsetDb,
            Kind == TLimitKind::Upper ? excess : -excess};
}

} // namespace

TLimitWorst LimitWorstPoint(const TLimitCheck& Check, const TLimitFrame& Frame, TLimitKind Kind,
                            const float* Magnitudes, TDXLeakType Window)
{
    const TLimitKindResult& result = Frame[Kind];
    const TLimitWorst bin = BinPoint(Check, result, Kind, Magnitudes);
    const TLimitGrid& grid = Check.Grid();
    const int k = result.Bin;
    if (Kind != TLimitKind::Upper || k < 1 || k > grid.N - 2 ||
        !(Magnitudes[k] > Magnitudes[k - 1]) || Magnitudes[k] < Magnitudes[k + 1])
        return bin;
    const TPeak peak = InterpolatePeak(Magnitudes, grid.N, k, Window);
    const double mhz = grid.DisplayedMHz(grid.DisplayedPosition(peak.Bin));
    const double level = LevelFromMagnitude(peak.Magnitude) + grid.LevelOffsetDb;
    const double excess = level - Check.Limits().Upper.LevelAt(mhz);
    if (!(excess > 0))
        return bin;
    return {mhz, level, excess};
}

TLimitFrameSummary SummarizeLimitFrame(const TLimitCheck& Check, const TLimitFrame& Frame,
                                       const float* Magnitudes, TDXLeakType Window)
{
    TLimitFrameSummary summary;
    for (int kind = 0; kind < 2; ++kind) {
        summary.Beyond[kind] = Frame.Kinds[kind].Beyond;
        if (summary.Beyond[kind])
            summary.Worst[kind] =
                LimitWorstPoint(Check, Frame, TLimitKind(kind), Magnitudes, Window);
    }
    return summary;
}

bool TLimitEpisodes::SetHoldOffSeconds(double Seconds)
{
    if (!(Seconds >= 0) || !std::isfinite(Seconds))
        return false;
    FHoldOff = Seconds;
    return true;
}

const TLimitStep& TLimitEpisodes::Frame(const TLimitCheck& Check, const TLimitFrame& Result,
                                        const float* Magnitudes, int64_t Index, double Time,
                                        std::optional<double> Elapsed)
{
    return Frame(SummarizeLimitFrame(Check, Result, Magnitudes, FWindow), Index, Time, Elapsed);
}

const TLimitStep& TLimitEpisodes::Frame(const TLimitFrameSummary& Summary, int64_t Index,
                                        double Time, std::optional<double> Elapsed)
{
    FStep = {};
    const double elapsed = Elapsed.value_or(Time);
    for (int kind = 0; kind < 2; ++kind) {
        TLimitEpisode& episode = FCurrent[kind];
        if (!Summary.Beyond[kind]) {
            if (FOpen[kind] &&
                (elapsed - FLastBeyond[kind]) * SecondsPerDay >= FHoldOff - HoldOffSlackSeconds)
                End(kind);
            continue;
        }
        FLastBeyond[kind] = elapsed;
        const TLimitWorst& worst = Summary.Worst[kind];
        if (!FOpen[kind]) {
            FOpen[kind] = true;
            FStep.Started[kind] = true;
            episode = {TLimitKind(kind), Time, Time, Index, Index, worst};
            continue;
        }
        episode.End = Time;
        episode.LastFrame = Index;
        if (worst.ExcessDb > episode.Worst.ExcessDb)
            episode.Worst = worst;
    }
    return FStep;
}

const TLimitStep& TLimitEpisodes::Finish()
{
    FStep = {};
    for (int kind = 0; kind < 2; ++kind)
        if (FOpen[kind])
            End(kind);
    return FStep;
}

void TLimitEpisodes::End(int Kind)
{
    FOpen[Kind] = false;
    FStep.Ended[FStep.EndedCount++] = FCurrent[Kind];
}

} // namespace quillex
