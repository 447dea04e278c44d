#include "MarkerPosition.h"

#include <algorithm>
#include <cmath>

namespace quillex {

namespace {
constexpr double SpectrumKHz = 40000.0;
} // namespace

double DisplayedBin(double Bin, int N, bool Inverted)
{
    return Inverted ? double(N - 1) - Bin : Bin;
}

double DisplayedMHz(double DisplayedBin, int N, double FreqOffsetMHz)
{
    return FreqOffsetMHz + DisplayedBin * (SpectrumKHz / 1000.0) / double(N);
}

int MarkerFrequencyDecimals(int N)
{
    if (N <= 0)
        return 0;
    const double tenthMHz = SpectrumKHz / 1000.0 / double(N) / 10.0;
    int decimals = 0;
    for (double step = 1.0; step > tenthMHz && decimals < 9; step /= 10.0)
        ++decimals;
    return decimals;
}

TBinRange PhysicalBinsInView(double MinKHz, double MaxKHz, int N, bool Inverted)
{
    if (N <= 0 || !(MinKHz <= MaxKHz))
        return {};
    const double binKHz = SpectrumKHz / double(N);
    // A little slack so that a bound lying on a bin in kHz still takes that bin after the
    // division's rounding.
    const double first = std::ceil(MinKHz / binKHz - 1e-9);
    const double last = std::floor(MaxKHz / binKHz + 1e-9);
    TBinRange shown{int(std::clamp(first, 0.0, double(N))),
                    int(std::clamp(last, -1.0, double(N - 1)))};
    if (shown.Last < shown.First)
        return {};
    if (!Inverted)
        return shown;
    return {N - 1 - shown.Last, N - 1 - shown.First};
}

} // namespace quillex
