#pragma once

#include <vector>

// Limit curves: an upper and a lower limit over frequency, as the user sees them (frequency
// offset applied, level offset added), independent of the FFT size, the span and the
// mirroring, so that a curve stays put on the frequency axis when any of them changes.
//
// A curve is a sorted vector of points (rising frequency), each giving a level or not
// (NaN). That is the form of the limits file, it keeps a curve at the resolution it was made
// with (three points typed by hand, or one point per bin of the trace it came from), and
// resampling it onto the bins is a single merge walk. The upper and lower limit are curves of
// their own, so each is made, bent, cleared and kept at its own resolution.
//
// What a curve says at frequency f:
// - at a point's own frequency: that point's level, or no limit when it gives none;
// - strictly between two consecutive points: linear in frequency when both give a level,
//   otherwise no limit (so a limit may watch one carrier's bins only);
// - before the first (after the last) point: that point's level, flat, when it gives one;
//   otherwise no limit. A curve without points sets no limit anywhere.
namespace quillex {

enum class TLimitKind : int { Upper = 0, Lower = 1 };

struct TLimitPoint
{
    double MHz = 0;
    double Dbm = 0; // NaN: no limit at this point
};

class TLimitCurve
{
public:
    TLimitCurve() = default;
    // Throws std::invalid_argument unless the frequencies are finite and rise strictly and
    // every level is finite or NaN.
    explicit TLimitCurve(std::vector<TLimitPoint> Points);

    const std::vector<TLimitPoint>& Points() const { return FPoints; }
    bool Empty() const; // no point gives a level: no limit anywhere

    // The level at MHz, NaN where there is none.
    double LevelAt(double MHz) const;

    bool operator==(const TLimitCurve& Other) const;

private:
    std::vector<TLimitPoint> FPoints;
};

struct TLimits
{
    TLimitCurve Upper;
    TLimitCurve Lower;

    const TLimitCurve& Curve(TLimitKind Kind) const
    {
        return Kind == TLimitKind::Upper ? Upper : Lower;
    }
    TLimitCurve& Curve(TLimitKind Kind) { return Kind == TLimitKind::Upper ? Upper : Lower; }
};

// How bins are displayed: N bins over 0..40 MHz, shown mirrored when Inverted (displayed bin
// d is physical bin N-1-d) and labelled with the offsets. The span and centre only choose
// which displayed bins are visible; curves are resampled onto all N.
struct TLimitGrid
{
    int N = 0;
    double FreqOffsetMHz = 0;
    double LevelOffsetDb = 0;
    bool Inverted = false;

    // Displayed frequency of a (fractional) displayed bin position.
    double DisplayedMHz(double Displayed) const { return FreqOffsetMHz + Displayed * 40.0 / N; }
    // Displayed position of a (fractional) physical bin position, and back.
    double DisplayedPosition(double Physical) const
    {
        return Inverted ? N - 1 - Physical : Physical;
    }
    int PhysicalBin(int Displayed) const { return Inverted ? N - 1 - Displayed : Displayed; }

    bool operator==(const TLimitGrid&) const = default;
};

// The curve's level at every displayed bin on the plot's scale, which is the level as
// displayed minus the level offset (the plot shows data; its labels add the offset); NaN
// where the curve sets no limit. Out holds Grid.N values.
void ResampleCurve(const TLimitCurve& Curve, const TLimitGrid& Grid, float* Out);

// "Upper limit from trace" and "Lower limit from trace": one point per displayed bin
// First .. First+Count-1 at its displayed frequency, level = Levels[i] (the plot's scale,
// as ResampleCurve gives them) plus the level offset plus OffsetDb (negative for a lower
// limit). A level that is not finite gives a point without limit.
TLimitCurve CurveFromTrace(const TLimitGrid& Grid, const float* Levels, int First, int Count,
                           double OffsetDb);

// "Flat limit at level": the same level at every frequency.
TLimitCurve FlatCurve(double Dbm);

// Writes a bend back into the curve. Before is what ResampleCurve gave for this grid and
// After the same N values as the plot holds them after the bend. The bins whose value changed
// become points at their frequencies (a changed bin that is NaN gives no limit); the curve
// keeps its own points and levels everywhere else, so its parts outside the span, and at
// bins between its points that the bend did not move, read as before. Returns the curve
// unchanged when no bin changed.
TLimitCurve BendCurve(const TLimitCurve& Curve, const TLimitGrid& Grid, const float* Before,
                      const float* After);

} // namespace quillex
