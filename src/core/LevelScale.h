#pragma once

#include <array>

// The plot's level axis as the front panel of an instrument sets it: a reference level at the
// top and ten divisions of a scale below it, in levels as displayed (dBm with the level offset).
namespace quillex {

struct TLevelScale
{
    static constexpr int Divisions = 10;
    // The scales offered, in dB per division.
    static constexpr std::array<int, 5> Steps{1, 2, 5, 10, 20};
    // What settings from before the panel show: ten divisions of 14 dB, -140..0 dBm.
    static constexpr int LegacyDbPerDiv = 14;
    static constexpr int LeastRefDbm = -300, LargestRefDbm = 300;

    int RefDbm = 0;
    int DbPerDiv = LegacyDbPerDiv;

    int BottomDbm() const { return RefDbm - Divisions * DbPerDiv; }
    bool operator==(const TLevelScale&) const = default;
};

// One of the steps, or the legacy scale.
bool ValidDbPerDiv(int DbPerDiv);
// The step after DbPerDiv upwards (Up) or downwards; the last step stays. A scale between steps
// goes to the step on that side.
int NextDbPerDiv(int DbPerDiv, bool Up);
int ClampRefDbm(int RefDbm);

// Auto level. The reference level is the peak rounded up to a whole division, plus one. The
// scale is the smallest step that puts NoiseBinDbm (the noise in one bin's bandwidth) at least
// two divisions above the bottom, the largest step where none does; with the noise unknown
// (NaN) the scale stays. Levels as displayed; a peak that is not finite changes nothing.
TLevelScale AutoLevel(double PeakDbm, double NoiseBinDbm, const TLevelScale& Current);

} // namespace quillex
