#include "WindowSpectrum.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>

namespace quillex {

namespace {

constexpr double Pi = std::numbers::pi;

// Below this distance from a kernel's centre sin(pi g) / sin(pi g / L) is replaced by its
// Taylor series, whose next term is of the order g^4: far below double rounding.
constexpr double CentreZone = 1e-5;

struct TDirichlet
{
    double Value;
    double Slope;
};

// sin(pi g) / sin(pi g / L) and its slope from the sines and cosines of pi g and pi g / L.
inline TDirichlet Dirichlet(double L, double Sg, double Cg, double Sl, double Cl)
{
    const double value = Sg / Sl;
    return {value, Pi * Cg / Sl - (Pi / L) * value * Cl / Sl};
}

inline TDirichlet DirichletAt(double L, double G)
{
    if (std::fabs(G) < CentreZone) {
        const double c = Pi * Pi * (1.0 - 1.0 / (L * L));
        return {L * (1.0 - c * G * G / 6.0), -L * c * G / 3.0};
    }
    return Dirichlet(L, std::sin(Pi * G), std::cos(Pi * G), std::sin(Pi * G / L),
                     std::cos(Pi * G / L));
}

} // namespace

TWindowKernel::TWindowKernel(TDXLeakType Window, int N)
    : FWindow(Window), FBins(N), FLength(2.0 * N)
{
    switch (Window) {
    case wnHanning:
        FTerms = 2, FCoef[0] = 0.5, FCoef[1] = 0.5;
        break;
    case wnHamming:
        FTerms = 2, FCoef[0] = 0.54, FCoef[1] = 0.46;
        break;
    case wnBlackman:
        FTerms = 3, FCoef[0] = 0.42, FCoef[1] = 0.5, FCoef[2] = 0.08;
        break;
    default:
        FWindow = wnRectangle;
        break;
    }
    for (int m = 0; m < FTerms; ++m) {
        FShift[m] = m * FLength / (FLength - 1.0);
        FSinShift[m] = std::sin(Pi * FShift[m]);
        FCosShift[m] = std::cos(Pi * FShift[m]);
        FSinShiftL[m] = std::sin(Pi * FShift[m] / FLength);
        FCosShiftL[m] = std::cos(Pi * FShift[m] / FLength);
    }
    FSinStepL = std::sin(Pi / FLength);
    FCosStepL = std::cos(Pi / FLength);
    double slope;
    Exact(0.0, FGain, slope);
    double half;
    Exact(0.5, half, slope);
    FScallopGain = FGain / half;
}

void TWindowKernel::Exact(double V, double& Value, double& Slope) const
{
    Value = 0;
    Slope = 0;
    for (int m = 0; m < FTerms; ++m) {
        const double w = m == 0 ? FCoef[0] : 0.5 * FCoef[m];
        const TDirichlet plus = DirichletAt(FLength, V + FShift[m]);
        Value += w * plus.Value;
        Slope += w * plus.Slope;
        if (m > 0) {
            const TDirichlet minus = DirichletAt(FLength, V - FShift[m]);
            Value += w * minus.Value;
            Slope += w * minus.Slope;
        }
    }
}

void TWindowKernel::Far(double S, double C, double Sl, double Cl, double& Value,
                        double& Slope) const
{
    Value = 0;
    Slope = 0;
    for (int m = 0; m < FTerms; ++m) {
        const double w = m == 0 ? FCoef[0] : 0.5 * FCoef[m];
        const double ss = FSinShift[m], cs = FCosShift[m];
        const double ssl = FSinShiftL[m], csl = FCosShiftL[m];
        const TDirichlet plus = Dirichlet(FLength, S * cs + C * ss, C * cs - S * ss,
                                          Sl * csl + Cl * ssl, Cl * csl - Sl * ssl);
        Value += w * plus.Value;
        Slope += w * plus.Slope;
        if (m > 0) {
            const TDirichlet minus = Dirichlet(FLength, S * cs - C * ss, C * cs + S * ss,
                                               Sl * csl - Cl * ssl, Cl * csl + Sl * ssl);
            Value += w * minus.Value;
            Slope += w * minus.Slope;
        }
    }
    Value /= FGain;
    Slope /= FGain;
}

// Cubic Hermite interpolation of the table at |V| <= TableEnd.
void TWindowKernel::Tabled(double V, double& Value, double& Slope) const
{
    constexpr double step = TableEnd / TableSteps;
    const double t = std::fabs(V) / step;
    const int i = std::min(int(t), TableSteps - 1);
    const double x = t - i;
    const double x2 = x * x, x3 = x2 * x;
    const double p0 = FValue[size_t(i)], p1 = FValue[size_t(i) + 1];
    const double m0 = FSlope[size_t(i)] * step, m1 = FSlope[size_t(i) + 1] * step;
    Value = (2 * x3 - 3 * x2 + 1) * p0 + (x3 - 2 * x2 + x) * m0 + (3 * x2 - 2 * x3) * p1 +
            (x3 - x2) * m1;
    Slope =
        ((6 * x2 - 6 * x) * (p0 - p1) + (3 * x2 - 4 * x + 1) * m0 + (3 * x2 - 2 * x) * m1) / step;
    if (V < 0)
        Slope = -Slope;
}

void TWindowKernel::Evaluate(double V, double& Value, double& Slope) const
{
    if (FTabulated && std::fabs(V) <= TableEnd) {
        Tabled(V, Value, Slope);
        return;
    }
    // R(V + L) = -R(V): fold V into [-L/2, L/2].
    const double turns = std::nearbyint(V / FLength);
    const double v = V - turns * FLength;
    const double sign = std::fmod(turns, 2.0) == 0.0 ? 1.0 : -1.0;
    if (FTabulated && std::fabs(v) <= TableEnd) {
        Tabled(v, Value, Slope);
    } else if (std::fabs(v) >= TableEnd) {
        Far(std::sin(Pi * v), std::cos(Pi * v), std::sin(Pi * v / FLength),
            std::cos(Pi * v / FLength), Value, Slope);
    } else {
        Exact(v, Value, Slope);
        Value /= FGain;
        Slope /= FGain;
    }
    Value *= sign;
    Slope *= sign;
}

void TWindowKernel::EvaluateRun(double V, int Count, double* Values, double* Slopes) const
{
    Count = std::min(Count, MaxRun);
    const double turns = std::nearbyint((V + 0.5 * (Count - 1)) / FLength);
    const double v = V - turns * FLength;
    // Every point of the run must stay clear of the kernels' centres (at multiples of L) for
    // angle addition.
    if (std::min(std::fabs(v), std::fabs(v + Count - 1)) < TableEnd || (v < 0 && v + Count > 1) ||
        FLength < 2 * (Count + TableEnd)) {
        for (int j = 0; j < Count; ++j)
            Evaluate(V + j, Values[j], Slopes[j]);
        return;
    }
    const double sign = std::fmod(turns, 2.0) == 0.0 ? 1.0 : -1.0;
    double s = std::sin(Pi * v), c = std::cos(Pi * v);
    double sl = std::sin(Pi * v / FLength), cl = std::cos(Pi * v / FLength);
    for (int j = 0; j < Count; ++j) {
        Far(s, c, sl, cl, Values[j], Slopes[j]);
        Values[j] *= sign;
        Slopes[j] *= sign;
        // One bin on: pi v turns by pi, pi v / L by pi / L.
        s = -s, c = -c;
        const double next = sl * FCosStepL + cl * FSinStepL;
        cl = cl * FCosStepL - sl * FSinStepL;
        sl = next;
    }
}

double TWindowKernel::operator()(double V) const
{
    double value, slope;
    Evaluate(V, value, slope);
    return value;
}

void TWindowKernel::Tabulate()
{
    constexpr double step = TableEnd / TableSteps;
    for (int i = 0; i <= TableSteps; ++i) {
        Exact(i * step, FValue[size_t(i)], FSlope[size_t(i)]);
        FValue[size_t(i)] /= FGain;
        FSlope[size_t(i)] /= FGain;
    }
    FTabulated = true;
}

const TWindowKernel* CachedWindowKernel(TDXLeakType Window, int N)
{
    constexpr int Exponents = TDXFFT::MaxWorkingExponent + 1;
    constexpr int Windows = 4;
    static std::once_flag built[Windows][Exponents];
    static std::unique_ptr<TWindowKernel> kernels[Windows][Exponents];
    if (N < 2 || !std::has_single_bit(unsigned(N)) || int(Window) >= Windows)
        return nullptr;
    const int e = std::countr_zero(unsigned(N));
    if (e >= Exponents)
        return nullptr;
    std::call_once(built[Window][e], [&] {
        auto kernel = std::make_unique<TWindowKernel>(Window, N);
        kernel->Tabulate();
        kernels[Window][e] = std::move(kernel);
    });
    return kernels[Window][e].get();
}

double EquivalentNoiseBandwidthBins(const float* Coefficients, int Count)
{
    double sum = 0, squares = 0;
    for (int i = 0; i < Count; ++i) {
        sum += Coefficients[i];
        squares += double(Coefficients[i]) * Coefficients[i];
    }
    if (Count <= 0 || sum == 0)
        return std::nan("");
    return Count * squares / (sum * sum);
}

double ResolutionBandwidthKHz(const TDXFFT& FFT)
{
    const double binKHz = 40000.0 / double(FFT.Size());
    switch (FFT.LeakFunction()) {
    case wnRectangle:
        return binKHz;
    case wnHanning:
    case wnHamming:
    case wnBlackman:
        return binKHz * EquivalentNoiseBandwidthBins(FFT.Window().Values, FFT.Window().Count);
    default:
        return std::nan("");
    }
}

} // namespace quillex
