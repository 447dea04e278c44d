#include "MarkerPlacement.h"

#include <algorithm>
#include <cmath>

namespace quillex {

TPeak PeakNearPlace(const float* Magnitudes, int N, TDXLeakType Window, double Position,
                    double Radius, const TPeakRules& Rules)
{
    TPeak found;
    bool any = false;
    if (N >= 3 && std::isfinite(Position) && Radius >= 0) {
        // A local maximum lies within half a bin of its interpolated position (a little more
        // with noise): one bin beyond the radius covers every candidate.
        const int first = int(std::max(1.0, std::floor(Position - Radius) - 1.0));
        const int last = int(std::min(double(N - 2), std::ceil(Position + Radius) + 1.0));
        for (int k = first; k <= last; ++k) {
            if (!IsPeak(Magnitudes, N, k, Rules))
                continue;
            const TPeak p = InterpolatePeak(Magnitudes, N, k, Window);
            const double distance = std::fabs(p.Bin - Position);
            if (distance <= Radius && (!any || distance < std::fabs(found.Bin - Position))) {
                found = p;
                any = true;
            }
        }
    }
    if (any || N <= 0)
        return found;
    const double place = std::isfinite(Position) ? Position : 0.0;
    const int k = int(std::clamp(std::round(place), 0.0, double(N - 1)));
    return {double(k), double(Magnitudes[k])};
}

bool TPeakChooser::Highest(const float* Magnitudes, int N, TDXLeakType Window, int First, int Last,
                           std::span<const double> Apart, double Below, TPeak& Peak)
{
    First = std::max(First, 1);
    Last = std::min(Last, N - 2);
    if (Last < First)
        return false;
    const auto apart = [Apart](double Bin) {
        return std::none_of(Apart.begin(), Apart.end(),
                            [Bin](double Other) { return std::fabs(Bin - Other) <= 0.5; });
    };
    // Every peak of the range, strongest first: at most one local maximum in two bins.
    FPeaks.resize(size_t((Last - First) / 2 + 2));
    const int count = FSearch.Strongest(Magnitudes, N, Window, First, Last, 0.0, int(FPeaks.size()),
                                        FPeaks.data());
    for (int i = 0; i < count; ++i)
        if (FPeaks[size_t(i)].Magnitude < Below && apart(FPeaks[size_t(i)].Bin)) {
            Peak = FPeaks[size_t(i)];
            return true;
        }
    if (count > 0 || std::isfinite(Below))
        return false;
    int best = -1;
    for (int k = First; k <= Last; ++k)
        if (Magnitudes[k] > Magnitudes[k - 1] && Magnitudes[k] >= Magnitudes[k + 1] && apart(k) &&
            (best < 0 || Magnitudes[k] > Magnitudes[best]))
            best = k;
    if (best < 0)
        return false;
    Peak = InterpolatePeak(Magnitudes, N, best, Window);
    return true;
}

TMarkerDelta DeltaTo(const TMarkerReading& Marker, const TMarkerReading& Reference)
{
    if (!Marker.Placed || !Reference.Placed)
        return {};
    return {true, (Marker.MHz - Reference.MHz) * 1000.0, Marker.Dbm - Reference.Dbm};
}

int SideOfView(double ShownKHz, double MinKHz, double MaxKHz)
{
    return ShownKHz < MinKHz ? -1 : ShownKHz > MaxKHz ? 1 : 0;
}

} // namespace quillex
