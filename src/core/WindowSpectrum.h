#pragma once

#include "dxFFT.h"

#include <array>

namespace quillex {

// The spectrum of the FFT's window as the peak arithmetic needs it. A frame of 2N windowed
// samples reads, at bin k, for a tone of sample amplitude a at the fractional bin position p and
// phase phi:
//   X[k] = (a/N) e^(i beta k) (e^(-i theta) R(k - p) + e^(i theta) R(k + p)),
// with R the window's spectrum around its centre, which is real and even because the window is
// symmetric: R(v) = sum_n w[n] cos(pi (n - N + 1/2) v / N). The second term is the tone's mirror
// at -p. For the raised-cosine windows, w[n] = sum_m b_m cos(2 pi m (n - N + 1/2) / (2N - 1)),
// which makes R a sum of Dirichlet kernels: exact for every N without summing 2N coefficients.
class TWindowKernel
{
public:
    // Windows without known coefficients (wnOwn) are taken as the rectangle.
    TWindowKernel(TDXLeakType Window, int N);

    TDXLeakType Window() const { return FWindow; }
    int Bins() const { return FBins; }
    // R(V) / R(0) and its slope; V in bins, any value (R(V + 2N) = -R(V)).
    void Evaluate(double V, double& Value, double& Slope) const;
    double operator()(double V) const;
    // Evaluate at V, V+1, ..., V+Count-1 (Count <= MaxRun) into Values and Slopes: far from
    // the peak (a tone's mirror) one sine/cosine pair serves the whole run.
    static constexpr int MaxRun = 16;
    void EvaluateRun(double V, int Count, double* Values, double* Slopes) const;
    // R(0): the sum of the coefficients, which scales a tone on a bin.
    double Gain() const { return FGain; }
    // Largest factor by which a tone's bins fall short of its on-bin magnitude, its offset
    // being at most half a bin: 1 / (R(1/2) / R(0)).
    double ScallopGain() const { return FScallopGain; }

    // R(V) / R(0) tabulated over 0 <= V <= TableEnd, in steps of 1/64, for fast lookups
    // near a peak; the cached kernels have it. Beyond TableEnd the closed form costs two
    // sine/cosine pairs.
    static constexpr double TableEnd = 6.0;
    static constexpr int TableSteps = 384;
    void Tabulate();
    bool Tabulated() const { return FTabulated; }

private:
    // The exact closed form, unnormalised, careful near the kernels' own centres.
    void Exact(double V, double& Value, double& Slope) const;
    // The same for |V| well away from every kernel's centre, by angle addition from the sine
    // and cosine of pi V and of pi V / 2N.
    void Far(double S, double C, double Sl, double Cl, double& Value, double& Slope) const;
    void Tabled(double V, double& Value, double& Slope) const;

    TDXLeakType FWindow;
    int FBins;
    double FLength; // 2N coefficients
    int FTerms = 1; // raised-cosine terms b_0 .. b_(FTerms-1)
    double FCoef[3] = {1, 0, 0};
    // Centre of kernel m in bins, m + m / (2N - 1), with its sine and cosine at pi * that
    // and at pi * that / 2N.
    double FShift[3] = {0, 0, 0};
    double FSinShift[3] = {0, 0, 0};
    double FCosShift[3] = {1, 1, 1};
    double FSinShiftL[3] = {0, 0, 0};
    double FCosShiftL[3] = {1, 1, 1};
    double FSinStepL = 0, FCosStepL = 1; // of pi / 2N
    double FGain = 1;
    double FScallopGain = 1;
    bool FTabulated = false;
    std::array<double, TableSteps + 1> FValue{};
    std::array<double, TableSteps + 1> FSlope{};
};

// The tabulated kernel of Window for N bins, built once per window and size on first use
// (thread-safe). N that is not a power of two from 2 to 2^26 has no cached kernel: nullptr.
const TWindowKernel* CachedWindowKernel(TDXLeakType Window, int N);

// Equivalent noise bandwidth in bins of a window given by its Count coefficients:
// Count * sum(w^2) / sum(w)^2. The FFT's bins are spaced by fs / Count. Zero coefficients
// give NaN.
double EquivalentNoiseBandwidthBins(const float* Coefficients, int Count);

// The resolution bandwidth of FFT's window in force, as its equivalent noise bandwidth, in kHz
// (bins of 40000 / Size kHz), from the coefficients the FFT holds. The rectangle reads one bin;
// an owner's window procedure has no coefficients to measure: NaN. Right after a size change
// the FFT still holds Size coefficients until its first transform; the bandwidth in bins
// depends on the length only by 1/(2N), far below the three digits it is shown with.
double ResolutionBandwidthKHz(const TDXFFT& FFT);

} // namespace quillex
