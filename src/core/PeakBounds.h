#pragma once

#include "ToneFit.h"
#include "WindowSpectrum.h"
#include "dxFFT.h"

#include <vector>

// Bounds on the magnitude the tone fit (ToneFit) can give a local maximum, from its bins alone
// or from the lone tone's fit, for one window and size. The peak search passes over a local
// maximum only where such a bound shows that it cannot make the list; every bound carries a
// slack far above the rounding of what it bounds, so the search finds exactly the peaks that
// fitting every local maximum would.
namespace quillex {

// What bounds the interpolated magnitude of a peak from its bins, for one window and size.
struct TPeakBounds
{
    TDXLeakType Window = wnOwn;
    int N = 0;
    double Near = 0;   // least norm of the kernel over three bins, tone within 1/2 bin
    double Far = 0;    // the same, tone within a bin (where the mirror's fit may take it)
    double Spread = 0; // greatest sum of squares of the kernel over nine bins
    // A bound on the kernel at a tone's mirror: one for the zone (bins far enough from the
    // band edges), per bin below and above it (by distance from the band edge), infinite
    // where there is none and every peak is interpolated.
    int ZoneFirst = 1;
    int ZoneLast = 0;
    double ZoneMirror = 0;
    std::vector<double> LowMirror, HighMirror;
    int BoundFirst = 1; // the bins where it is finite
    int BoundLast = 0;
    double Reach = 0;     // bound per largest magnitude of bins K-4..K+4, in the zone
    double EdgeReach = 0; // the same for the other bins with a bound
    int QuietFirst = 1;   // bins whose mirror is too weak to be fitted (Hann, Blackman)
    int QuietLast = 0;
    double QuietReach = 0; // bound per largest magnitude of bins K-1..K+1, quiet bins
    // R(1 - u) / R(u) and |R(1 + u)| / R(u) over a grid of offsets u from 0 to 1/2, and
    // how far the latter may stray from its grid points within a step.
    std::vector<double> Rising, Falling;
    double FallingSlope = 0;
    double Spill = 0; // the lone tone's residual per largest of bins K-1..K+1

    // Whether the tone fit at bin K leaves the mirror out (FitLoneTone's Quiet).
    bool Quiet(int K) const { return K >= QuietFirst && K <= QuietLast; }
};

// The bounds of Kernel's window and size (about 0.1 ms at the FFT's sizes).
void BuildBounds(const TWindowKernel& Kernel, TPeakBounds& B);

// Whether the local maximum at bin K certainly stays below Weakest (> 0), from its bins alone.
bool BelowFromBins(const TPeakBounds& B, const float* Magnitudes, int K, double Weakest);

// A bound on the peak's magnitude once the lone tone is fitted (F not Final); infinite where
// there is none.
double BoundFromFit(const TPeakBounds& B, const TFirstFit& F);

} // namespace quillex
