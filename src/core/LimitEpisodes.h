#pragma once

#include "LimitCheck.h"
#include "dxFFT.h"

#include <array>
#include <cstdint>
#include <optional>

// Limit episodes: from frame to frame, when a limit was crossed, for how long, and where worst.
//
// Upper and lower episodes are tracked independently: a frame may cross both curves at
// different bins, each kind starts and ends on its own evidence, and each row of the event
// log then has one kind and one worst point that belongs to it.
//
// An episode starts at the first frame beyond its limit. Frames beyond it in a row always
// belong to it, however far apart their times (a slow scan, a pause). It ends at the first
// frame not beyond it whose time is at least the hold-off (to within a microsecond) after
// the episode's last frame beyond it; a frame beyond it before that continues it. Finish
// ends every open episode (the end of a run or of a recording). Its start and end are the
// times of its first and last frame beyond the limit. Times are frame times as the caller
// has them (days since 1899-12-30): the window's clock live, or stamps interpolated by frame
// index for recordings; only their differences matter here.
//
// The worst point of a frame, for the kind's worst bin K (the largest excess of a bin's level
// over the curve at that bin, the lowest bin on a tie):
// - Upper, when 1 <= K <= N-2 and K is a local maximum of the magnitudes as the peak search
//   has it (above its left neighbour, not below its right one; of two equal bins, K is the
//   lower one either way): the tone there, interpolated (InterpolatePeak with the window in
//   use): frequency of the interpolated position as displayed, level LevelFromMagnitude of
//   its magnitude plus the level offset, and excess = that level minus the curve's level
//   at that frequency, from the curve itself (not its resampling). This counts only when the
//   curve has a level there and the excess is positive; otherwise, and for any other K, the
//   bin itself (below).
// - The bin itself, always for a lower limit (a dip has no peak to interpolate): the
//   displayed frequency of bin K, its level LevelFromMagnitude(m[K]) plus the level offset,
//   and excess = 20*log10(r) of the check (upper) or -20*log10(r) (lower), which is the
//   distance between that level and the curve at that bin.
// The excess is positive in both directions. An episode's worst point is that of its frame
// with the largest excess, the earliest on a tie.
namespace quillex {

struct TLimitWorst
{
    double MHz = 0;      // frequency offset applied, mirroring followed
    double Dbm = 0;      // level as displayed (level offset added)
    double ExcessDb = 0; // how far beyond the limit, positive
};

// The worst point of a frame for one kind; Frame[Kind] must be Beyond.
TLimitWorst LimitWorstPoint(const TLimitCheck& Check, const TLimitFrame& Frame, TLimitKind Kind,
                            const float* Magnitudes, TDXLeakType Window);

// All the episodes need of one frame: per kind whether it is beyond the limit and, if so, its
// worst point. The magnitudes are needed only here, so frames can be summarised on other
// threads than the one that follows the episodes, which then sees them in frame order.
struct TLimitFrameSummary
{
    bool Beyond[2] = {false, false};
    TLimitWorst Worst[2];
};
TLimitFrameSummary SummarizeLimitFrame(const TLimitCheck& Check, const TLimitFrame& Frame,
                                       const float* Magnitudes, TDXLeakType Window);

struct TLimitEpisode
{
    TLimitKind Kind = TLimitKind::Upper;
    double Start = 0; // time of its first frame beyond the limit
    double End = 0;   // time of its last frame beyond the limit
    int64_t FirstFrame = 0;
    int64_t LastFrame = 0;
    TLimitWorst Worst;
};

// What one frame did: the episodes it ended (at most one per kind, in kind order), and per
// kind whether it started one.
struct TLimitStep
{
    int EndedCount = 0;
    std::array<TLimitEpisode, 2> Ended;
    bool Started[2] = {false, false};
};

class TLimitEpisodes
{
public:
    static constexpr double DefaultHoldOffSeconds = 1.0;

    // Returns false, keeping the old value, unless 0 <= Seconds (finite).
    bool SetHoldOffSeconds(double Seconds);
    double HoldOffSeconds() const { return FHoldOff; }
    void SetWindow(TDXLeakType Window) { FWindow = Window; }

    // One frame: Result is Check's result for Magnitudes. Allocates nothing. Time goes into
    // the episodes; the hold-off runs on Elapsed, in days as Time but on a clock that is never
    // set back (by default Time itself, as for a recording's frame times).
    const TLimitStep& Frame(const TLimitCheck& Check, const TLimitFrame& Result,
                            const float* Magnitudes, int64_t Index, double Time,
                            std::optional<double> Elapsed = std::nullopt);
    // The same for a frame summarised with SummarizeLimitFrame.
    const TLimitStep& Frame(const TLimitFrameSummary& Summary, int64_t Index, double Time,
                            std::optional<double> Elapsed = std::nullopt);
    // Ends the open episodes.
    const TLimitStep& Finish();

    bool IsOpen(TLimitKind Kind) const { return FOpen[int(Kind)]; }
    // The open episode so far (valid while IsOpen).
    const TLimitEpisode& Current(TLimitKind Kind) const { return FCurrent[int(Kind)]; }

private:
    void End(int Kind);

    double FHoldOff = DefaultHoldOffSeconds;
    TDXLeakType FWindow = wnHanning;
    bool FOpen[2] = {false, false};
    TLimitEpisode FCurrent[2];
    double FLastBeyond[2] = {0, 0}; // Elapsed of each open episode's last frame beyond

    TLimitStep FStep;
};

} // namespace quillex
