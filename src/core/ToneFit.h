#pragma once

#include "WindowSpectrum.h"
#include "dxFFT.h"

#include <cmath>
#include <optional>

// A tone's frequency and level from the bins around a local maximum of a frame's spectrum:
// the window's own spectrum fitted to them, the tone's mirror image included. Shared by the
// window's markers, the exporter's peak table and the limit alarms' worst points. Everything
// works on the linear averaged magnitudes of all N bins in physical order (what
// AverageMagnitudes leaves, before dB and mirroring); positions are fractional physical bins.
namespace quillex {

struct TPeak
{
    double Bin = 0;       // interpolated physical bin position (fractional)
    double Magnitude = 0; // the tone's magnitude on the averaged-magnitude scale, scalloping
                          // removed: what the bin would show if the tone lay exactly on it
};

// The tone around the local maximum at physical bin K (1 <= K <= N-2) of Magnitudes.
// The window's own spectrum is fitted to bins K-1..K+1, its mirror image at the negative
// frequency included (a real tone always has one, and near the band edges or with the
// rectangular and Hamming windows it shifts the bins by more than the accuracy wanted); where
// the mirror leaves open on which side of bin K the tone lies, bins K-4..K+4 decide. A neighbouring
// tone still leaks in through the window's side lobes; that cannot be taken out from magnitudes.
// wnOwn has no known spectrum: the bin itself is returned, as are K outside 1..N-2 (magnitude
// 0 when K is outside the spectrum).
TPeak InterpolatePeak(const float* Magnitudes, int N, int K, TDXLeakType Window);

// The program's level of a magnitude, exactly: 20*log10(M/16384 + 1e-9).
double LevelFromMagnitude(double M);
// Its inverse, for thresholds given in dBm: 0 for levels at or below the -180 dBm floor.
double MagnitudeFromLevel(double Dbm);

// ---- The fit in steps, for the peak search ----
//
// InterpolatePeak runs these one after the other. The search runs them itself, to stop after a
// step once a bound (PeakBounds) shows that the rest cannot make the peak strong enough.

// The fit reads bins K-FitReach..K+FitReach around a local maximum.
constexpr int FitReach = 4;
// A mirror weaker than this, relative to the tone, moves no bin by 0.0001 dB.
constexpr double NegligibleMirror = 1e-6;

// A bin's magnitude as the fit takes it: bin 0 holds the mean of the windowed samples, at half
// the scale of the other bins; a bin that is not a finite magnitude counts as empty.
inline double FitMagnitude(const float* Magnitudes, int Bin)
{
    const double v = std::fabs(double(Magnitudes[Bin])) * (Bin == 0 ? 2.0 : 1.0);
    return std::isfinite(v) ? v : 0.0;
}

struct TFit
{
    double Magnitude; // on-bin magnitude of the tone
    double Offset;    // from bin K
    double Phase;     // cos(2 theta) of the mirror's interference
};

// Bins K-FitReach..K+FitReach around a local maximum; M[j + FitReach] is bin K + j, Lo..Hi the
// offsets j that lie inside the spectrum.
struct TNeighbourhood
{
    int K;
    double M[2 * FitReach + 1];
    int Lo, Hi;
};

// The fit of a lone tone to bins K-1..K+1, and what the mirror's fit starts from.
struct TFirstFit
{
    TNeighbourhood B;
    TFit Fit;
    bool Final;     // Fit is the result
    bool Ambiguous; // both sides of bin K are tried
    int Lo, Hi;     // bins whose cost decides
    double Cost;    // the lone tone's cost over Lo..Hi: the mirror's fit must beat it
};

// The cached kernel, or one built in Local for sizes that have none.
const TWindowKernel* KernelFor(TDXLeakType Window, int N, std::optional<TWindowKernel>& Local);
// The neighbourhood of bin K and the tone's offset from the ratio of its two largest bins.
void ToneOffset(const TWindowKernel& Kernel, const float* Magnitudes, int N, int K, TFirstFit& F);
// The lone tone's magnitude by least squares over the three bins, and whether its mirror is to
// be fitted. Quiet: the mirror is known to be negligible, so its terms are not formed.
void FitLoneTone(const TWindowKernel& Kernel, TFirstFit& F, bool Quiet);
// The fit with the tone's mirror, from the lone tone's: kept where it fits the bins better.
TPeak FitMirror(const TWindowKernel& Kernel, const TFirstFit& F);

} // namespace quillex
