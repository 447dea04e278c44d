#pragma once

#include "dxFFT.h"

#include <vector>

// Peaks of a frame's spectrum, shared by the window's markers and the exporter's peak table.
// Everything works on the linear averaged magnitudes of all N bins in physical order (what
// AverageMagnitudes leaves, before dB and mirroring); positions are fractional physical bins.
// With the spectrum mirrored, the display's left is the physical right.
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

// What counts as a peak: a local maximum (above its left neighbour, not below its right one,
// so a tone halfway between two equal bins gives one peak)
// - whose power stands FloorMarginDb above the mean noise power around it, taken from the bins
//   3..18 away on both sides (beyond every window's main lobe), leaving out bins above four
//   times their mean, so that a strong neighbour on one side does not count. This keeps the
//   bumps of a noise floor from counting: on noise alone, at 4096 bins and without averaging,
//   about one frame in fifty (rect) to one in five (Blackman) shows one such bump 12 dB up,
//   and with averaging over 8 frames none;
// - from which the spectrum falls at least ExcursionDb on each side, within ExcursionBins
//   bins and before any bin rises above it. This keeps the ripples on a carrier's top and
//   skirts from counting as peaks of their own. The ends of the spectrum count as a fall.
struct TPeakRules
{
    double FloorMarginDb = 12.0;
    double ExcursionDb = 6.0;
    int ExcursionBins = 32;
};

// True when bin K is a local maximum that counts as a peak (false outside 1..N-2).
bool IsPeak(const float* Magnitudes, int N, int K, const TPeakRules& Rules = {});

// The strongest peaks of a range of bins: exactly what examining every local maximum by the rules
// above and interpolating every peak would give, at a fraction of the cost, since a local maximum
// is passed over only where a proven bound shows it cannot make the list or cannot be a peak.
// Keeps its working storage between frames, so a frame allocates nothing once a search with the
// largest spectrum and count has run; the first search with a window and size works out its
// bounds (about 0.1 ms at the FFT's sizes). One object per thread: objects share nothing.
class TPeakSearch
{
public:
    TPeakRules Rules;

    // The Count strongest peaks whose local maxima lie in bins First..Last (clipped to
    // 1..N-2) and whose interpolated magnitude is at least MinMagnitude, strongest first
    // (equal magnitudes: lower bin first), into Peaks (room for Count). Returns how many.
    int Strongest(const float* Magnitudes, int N, TDXLeakType Window, int First, int Last,
                  double MinMagnitude, int Count, TPeak* Peaks);

    // A local maximum and its magnitude.
    struct TCandidate
    {
        int Bin;
        float Raw;
    };

    // What bounds the interpolated magnitude of a peak from its bins, for one window and size
    // (the search's own working data, public only for its helpers).
    struct TBounds
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
    };

    // What the last search did, so that its pruning can be checked and measured: the local
    // maxima it looked at one by one (the others were ruled out in bulk), those of them it
    // put to the peak rules, and those it fitted.
    struct TEffort
    {
        int Examined = 0;
        int Tested = 0;
        int Fitted = 0;
    };
    TEffort Effort() const { return FEffort; }
    // The bounds of the window and size last searched with a known window.
    const TBounds& Bounds() const { return FBounds; }

private:
    struct TSelection;
    void Examine(TSelection& S, int K);
    void ExamineRest(TSelection& S, TCandidate Last);
    void ExamineDense(TSelection& S, TCandidate Last);

    std::vector<TCandidate> FFew;
    std::vector<float> FPower, FSums, FWork;
    TBounds FBounds;
    TEffort FEffort;
};

// The nearest peak more than half a bin left (lower bins) or right of Position (within half a
// bin lies the marker's own tone), among local maxima in First..Last, whose interpolated
// magnitude is below Magnitude. False, Peak untouched, when there is none.
bool NextPeakLeft(const float* Magnitudes, int N, TDXLeakType Window, double Position,
                  double Magnitude, int First, int Last, TPeak& Peak, const TPeakRules& Rules = {});
bool NextPeakRight(const float* Magnitudes, int N, TDXLeakType Window, double Position,
                   double Magnitude, int First, int Last, TPeak& Peak,
                   const TPeakRules& Rules = {});

// How far a tracked marker may move per frame. Three bins hold the main lobe of every
// window (two bins for Hann, three for Blackman), so the marker stays with its tone as the
// tone drifts or its bins fluctuate with noise, and a tone at least five bins away cannot
// take it over.
constexpr double TrackRadiusBins = 3.0;

// Marker tracking: the highest peak whose interpolated position lies within Radius of
// Position. False, Peak untouched, when there is none (the marker stays where it was).
bool TrackPeak(const float* Magnitudes, int N, TDXLeakType Window, double Position, TPeak& Peak,
               double Radius = TrackRadiusBins, const TPeakRules& Rules = {});

} // namespace quillex
