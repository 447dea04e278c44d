#include "LevelScale.h"

#include <algorithm>
#include <cmath>

namespace quillex {

namespace {

// The noise sits this many divisions above the bottom at least.
constexpr double NoiseDivisions = 2.0;

int RefFor(double PeakDbm, int DbPerDiv)
{
    const double divisions = std::ceil(PeakDbm / DbPerDiv) + 1.0;
    const double ref = std::clamp(divisions * DbPerDiv, double(TLevelScale::LeastRefDbm),
                                  double(TLevelScale::LargestRefDbm));
    return int(ref);
}

} // namespace

bool ValidDbPerDiv(int DbPerDiv)
{
    return DbPerDiv == TLevelScale::LegacyDbPerDiv ||
           std::find(TLevelScale::Steps.begin(), TLevelScale::Steps.end(), DbPerDiv) !=
               TLevelScale::Steps.end();
}

int NextDbPerDiv(int DbPerDiv, bool Up)
{
    const auto& steps = TLevelScale::Steps;
    if (Up) {
        const auto next = std::upper_bound(steps.begin(), steps.end(), DbPerDiv);
        return next == steps.end() ? steps.back() : *next;
    }
    const auto next = std::lower_bound(steps.begin(), steps.end(), DbPerDiv);
    return next == steps.begin() ? steps.front() : *(next - 1);
}

int ClampRefDbm(int RefDbm)
{
    return std::clamp(RefDbm, TLevelScale::LeastRefDbm, TLevelScale::LargestRefDbm);
}

TLevelScale AutoLevel(double PeakDbm, double NoiseBinDbm, const TLevelScale& Current)
{
    if (!std::isfinite(PeakDbm))
        return Current;
    if (!std::isfinite(NoiseBinDbm))
        return {RefFor(PeakDbm, Current.DbPerDiv), Current.DbPerDiv};
    for (const int step : TLevelScale::Steps) {
        const TLevelScale scale{RefFor(PeakDbm, step), step};
        if (NoiseBinDbm >= scale.BottomDbm() + NoiseDivisions * step)
            return scale;
    }
    const int largest = TLevelScale::Steps.back();
    return {RefFor(PeakDbm, largest), largest};
}

} // namespace quillex
