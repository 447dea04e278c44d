#pragma once

#include "PeakBounds.h"
#include "ToneFit.h"
#include "dxFFT.h"

#include <vector>

// Peaks of a frame's spectrum, shared by the window's markers and the exporter's peak table:
// which local maxima count as peaks, the strongest of a range, the next one beside a marker and
// the one a tracked marker follows; each interpolated by the tone fit (ToneFit.h), on the same
// magnitudes and bin positions. With the spectrum mirrored, the display's left is the physical
// right.
namespace quillex {

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
    const TPeakBounds& Bounds() const { return FBounds; }

private:
    struct TSelection;
    void Examine(TSelection& S, int K);
    void ExamineRest(TSelection& S, TCandidate Last);
    void ExamineDense(TSelection& S, TCandidate Last);

    std::vector<TCandidate> FFew;
    std::vector<float> FPower, FSums, FWork;
    TPeakBounds FBounds;
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
