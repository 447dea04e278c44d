#pragma once

#include "PeakSearch.h"

#include <span>
#include <vector>

// Where the user's marker commands put a marker: on the peak nearest a place pointed at or
// typed, on the highest peak apart from another marker, on the next lower peak by level; and
// how the markers read against each other. Positions are fractional physical bins, magnitudes
// on the averaged-magnitude scale, as the peak search has them.
namespace quillex {

// A place pointed at with the mouse takes a peak within a few bins; a typed frequency one
// within a bin or two (the user typed what they read, to the read-out's digits).
constexpr double PointedRadiusBins = 4.0;
constexpr double TypedRadiusBins = 2.0;

// The peak (by the search's rules) whose interpolated position lies nearest Position, within
// Radius; where there is none, the bin nearest Position (clipped to 0..N-1) and what it shows.
TPeak PeakNearPlace(const float* Magnitudes, int N, TDXLeakType Window, double Position,
                    double Radius, const TPeakRules& Rules = {});

// The highest peak of bins First..Last more than half a bin from every position of Apart (the
// other markers' tones) whose magnitude lies below Below (infinity: any). Where no peak stands out
// by the rules and any level will do, the highest local maximum apart counts: the weak carrier the
// user points at. Keeps its working storage, which a command may grow; a frame never calls it.
class TPeakChooser
{
public:
    bool Highest(const float* Magnitudes, int N, TDXLeakType Window, int First, int Last,
                 std::span<const double> Apart, double Below, TPeak& Peak);

private:
    TPeakSearch FSearch;
    std::vector<TPeak> FPeaks;
};

// A marker as the read-out shows it: frequency and level as displayed.
struct TMarkerReading
{
    bool Placed = false;
    double MHz = 0;
    double Dbm = 0;
};

// A marker against its reference: kHz and dB, both placed or nothing.
struct TMarkerDelta
{
    bool Valid = false;
    double KHz = 0;
    double Db = 0;
};
TMarkerDelta DeltaTo(const TMarkerReading& Marker, const TMarkerReading& Reference);

// Where a displayed frequency lies against the view: -1 left of it, +1 right of it, 0 inside.
int SideOfView(double ShownKHz, double MinKHz, double MaxKHz);

} // namespace quillex
