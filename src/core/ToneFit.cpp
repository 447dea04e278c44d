// The tone fit: a peak's frequency and level from the window's own spectrum fitted to the bins
// around a local maximum, the tone's mirror image at the negative frequency included (the
// offset from the ratio of the two largest bins, the lone tone's least squares, then
// Gauss-Newton with the mirror where it matters), and the program's level of a magnitude.
// Which local maxima are peaks, and the bounds that let the search skip fits, are the peak
// search's (PeakSearch, PeakBounds).
#include "ToneFit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillex {

namespace {

constexpr double MagnitudeReference = 16384.0;
constexpr double LevelFloor = 1e-9;

// Weight of the prior that the mirror's phase term is zero, relative to the tone's magnitude.
// Where the mirror is too weak to be seen in three bins, this keeps its phase from wandering
// with noise; where it matters it is outweighed by the bins many times over.
constexpr double MirrorPrior = 3e-4;
constexpr int FitIterations = 6;
// Offsets from the largest bin below which the side of the tone may not be settled by the
// bins.
constexpr double AmbiguousOffset = 0.25;

// The offset u in 0..1/2 of a lone tone from its largest bin, the next largest bin being
// Ratio times the largest: R(1-u) / R(u) = Ratio, which rises monotonically with u.
double OffsetFromRatio(const TWindowKernel& Kernel, double Ratio)
{
    double r0, s0;
    Kernel.Evaluate(1.0, r0, s0);
    if (Ratio <= r0)
        return 0.0;
    if (Ratio >= 1.0)
        return 0.5;
    double lo = 0.0, hi = 0.5;
    double u = 0.5 * (Ratio - r0) / (1.0 - r0);
    for (int i = 0; i < 30; ++i) {
        double a, da, b, db;
        Kernel.Evaluate(1.0 - u, a, da);
        Kernel.Evaluate(u, b, db);
        const double g = a / b - Ratio;
        if (g > 0)
            hi = u;
        else
            lo = u;
        const double slope = (-da * b - a * db) / (b * b);
        double next = slope > 0 ? u - g / slope : 0.5 * (lo + hi);
        if (!(next > lo && next < hi))
            next = 0.5 * (lo + hi);
        if (std::fabs(next - u) < 1e-12)
            return next;
        u = next;
    }
    return u;
}

// The kernel values of the tone (A) and its mirror (B) at bins K+Lo..K+Hi for a tone at
// offset Offset from K, with their slopes in the offset; index j - Lo.
struct TTerms
{
    double A[2 * FitReach + 1], DA[2 * FitReach + 1], B[2 * FitReach + 1], DB[2 * FitReach + 1];
    TTerms(const TWindowKernel& Kernel, int K, double Offset, int Lo, int Hi)
    {
        for (int j = Lo; j <= Hi; ++j) {
            Kernel.Evaluate(j - Offset, A[j - Lo], DA[j - Lo]);
            DA[j - Lo] = -DA[j - Lo];
        }
        Kernel.EvaluateRun(2 * K + Lo + Offset, Hi - Lo + 1, B, DB);
    }
};

// Sum of squared residuals of bins K+Lo..K+Hi (and the prior) for a fit.
double FitCost(const TTerms& t, const TNeighbourhood& B, int Lo, int Hi, const TFit& F)
{
    double cost = 0;
    for (int j = Lo; j <= Hi; ++j) {
        const double a = t.A[j - Lo], b = t.B[j - Lo];
        const double q = std::sqrt(std::max(0.0, a * a + b * b + 2 * F.Phase * a * b));
        const double r = F.Magnitude * q - B.M[j + FitReach];
        cost += r * r;
    }
    const double p = MirrorPrior * F.Magnitude * F.Phase;
    return cost + p * p;
}

double FitCost(const TWindowKernel& Kernel, const TNeighbourhood& B, int Lo, int Hi, const TFit& F)
{
    return FitCost(TTerms(Kernel, B.K, F.Offset, Lo, Hi), B, Lo, Hi, F);
}

// Gauss-Newton over (magnitude, offset, phase term) for bins K+Lo..K+Hi from Fit, which it
// replaces by the result. Returns the result's cost, infinity when it ran away.
double FitWithMirror(const TWindowKernel& Kernel, const TNeighbourhood& B, int Lo, int Hi,
                     TFit& Fit)
{
    TFit& f = Fit;
    for (int it = 0; it < FitIterations; ++it) {
        double jtj[3][3] = {}, jtr[3] = {};
        const TTerms t(Kernel, B.K, f.Offset, Lo, Hi);
        for (int j = Lo; j <= Hi; ++j) {
            const double a = t.A[j - Lo], da = t.DA[j - Lo], b = t.B[j - Lo], db = t.DB[j - Lo];
            // Where tone and mirror cancel in a bin the slope in the phase term, a b / q, has no
            // bound; kept within a millionth of the bin's terms it stays far from overflow at
            // any level, so the fit does not depend on the spectrum's scale.
            const double floor = std::max(1e-300, 1e-12 * (a * a + b * b));
            const double q = std::sqrt(std::max(floor, a * a + b * b + 2 * f.Phase * a * b));
            const double r = f.Magnitude * q - B.M[j + FitReach];
            const double row[3] = {
                q, f.Magnitude * ((a + f.Phase * b) * da + (b + f.Phase * a) * db) / q,
                f.Magnitude * a * b / q};
            for (int x = 0; x < 3; ++x) {
                jtr[x] += row[x] * r;
                for (int y = 0; y < 3; ++y)
                    jtj[x][y] += row[x] * row[y];
            }
        }
        const double prior[3] = {MirrorPrior * f.Phase, 0, MirrorPrior * f.Magnitude};
        const double pr = MirrorPrior * f.Magnitude * f.Phase;
        for (int x = 0; x < 3; ++x) {
            jtr[x] += prior[x] * pr;
            for (int y = 0; y < 3; ++y)
                jtj[x][y] += prior[x] * prior[y];
        }
        for (int x = 0; x < 3; ++x)
            jtj[x][x] *= 1.0 + 1e-12;
        // 3x3 solve by Cramer's rule: the system is small and well scaled by the prior.
        const double det = jtj[0][0] * (jtj[1][1] * jtj[2][2] - jtj[1][2] * jtj[2][1]) -
                           jtj[0][1] * (jtj[1][0] * jtj[2][2] - jtj[1][2] * jtj[2][0]) +
                           jtj[0][2] * (jtj[1][0] * jtj[2][1] - jtj[1][1] * jtj[2][0]);
        if (!(std::fabs(det) > 0))
            break;
        double step[3];
        for (int x = 0; x < 3; ++x) {
            double m[3][3];
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    m[r][c] = c == x ? -jtr[r] : jtj[r][c];
            step[x] = (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0])) /
                      det;
        }
        f.Magnitude += step[0];
        f.Offset += std::clamp(step[1], -0.25, 0.25);
        f.Phase = std::clamp(f.Phase + step[2], -1.0, 1.0);
        if (!(f.Magnitude > 0) || std::fabs(f.Offset) > 1.0)
            return std::numeric_limits<double>::infinity();
        if (std::fabs(step[1]) < 1e-9 && std::fabs(step[0]) < 1e-10 * f.Magnitude)
            break;
    }
    return FitCost(Kernel, B, Lo, Hi, f);
}

} // namespace

const TWindowKernel* KernelFor(TDXLeakType Window, int N, std::optional<TWindowKernel>& Local)
{
    if (const TWindowKernel* kernel = CachedWindowKernel(Window, N))
        return kernel;
    return &Local.emplace(Window, N);
}

void ToneOffset(const TWindowKernel& Kernel, const float* Magnitudes, int N, int K, TFirstFit& F)
{
    // Bin 0, shifted by any DC offset, serves only as the left neighbour of bin 1.
    TNeighbourhood& b = F.B;
    b = {K, {}, std::max(-FitReach, std::min(1 - K, -1)), std::min(FitReach, N - 1 - K)};
    for (int j = b.Lo; j <= b.Hi; ++j)
        b.M[j + FitReach] = FitMagnitude(Magnitudes, K + j);
    const double* m = b.M + FitReach - 1; // bins K-1..K+1
    F.Final = !(m[1] > 0);
    if (F.Final) {
        F.Fit = {std::fabs(double(Magnitudes[K])) > 0 ? double(Magnitudes[K]) : 0.0, 0, 0};
        return;
    }
    const int side = m[2] > m[0] ? 1 : -1;
    const double ratio = std::min(m[1 + side] / m[1], 1.0);
    F.Fit = {0, side * OffsetFromRatio(Kernel, ratio), 0};
}

void FitLoneTone(const TWindowKernel& Kernel, TFirstFit& F, bool Quiet)
{
    if (F.Final)
        return;
    const TNeighbourhood& b = F.B;
    const double* m = b.M + FitReach - 1; // bins K-1..K+1
    TFit& fit = F.Fit;
    double num = 0, den = 0;
    if (Quiet) {
        for (int j = 0; j < 3; ++j) {
            const double a = Kernel(j - 1 - fit.Offset);
            num += std::fabs(a) * m[j];
            den += a * a;
        }
        fit.Magnitude = num / den;
        F.Final = true;
        return;
    }
    const TTerms t(Kernel, b.K, fit.Offset, -1, 1);
    double mirror = 0;
    for (int j = 0; j < 3; ++j) {
        num += std::fabs(t.A[j]) * m[j];
        den += t.A[j] * t.A[j];
        mirror = std::max(mirror, std::fabs(t.B[j]));
    }
    fit.Magnitude = num / den;
    F.Final = !(mirror > NegligibleMirror);
    if (F.Final)
        return;
    // Where the mirror can outweigh the difference between the neighbours, the tone may lie on
    // the side of the smaller one. Three bins then fit two tones equally well; the bins beyond
    // tell them apart.
    F.Ambiguous = std::fabs(fit.Offset) < AmbiguousOffset &&
                  4 * mirror * fit.Magnitude > std::fabs(m[2] - m[0]);
    F.Lo = F.Ambiguous ? b.Lo : -1;
    F.Hi = F.Ambiguous ? b.Hi : 1;
    F.Cost = F.Ambiguous ? FitCost(Kernel, b, F.Lo, F.Hi, fit) : FitCost(t, b, -1, 1, fit);
}

TPeak FitMirror(const TWindowKernel& Kernel, const TFirstFit& F)
{
    TFit tries[2] = {F.Fit, {F.Fit.Magnitude, -F.Fit.Offset, 0}};
    TFit best = F.Fit;
    double bestCost = F.Cost;
    for (int i = 0; i < (F.Ambiguous ? 2 : 1); ++i) {
        double cost = FitWithMirror(Kernel, F.B, -1, 1, tries[i]);
        if (F.Ambiguous && std::isfinite(cost))
            cost = FitCost(Kernel, F.B, F.Lo, F.Hi, tries[i]);
        if (cost < bestCost)
            best = tries[i], bestCost = cost;
    }
    return {F.B.K + best.Offset, best.Magnitude};
}

TPeak InterpolatePeak(const float* Magnitudes, int N, int K, TDXLeakType Window)
{
    if (K < 0 || K >= N)
        return {double(K), 0.0};
    if (K < 1 || K > N - 2 || Window == wnOwn || Window > wnOwn)
        return {double(K), std::fabs(double(Magnitudes[K]))};
    std::optional<TWindowKernel> local;
    const TWindowKernel& kernel = *KernelFor(Window, N, local);
    TFirstFit f;
    ToneOffset(kernel, Magnitudes, N, K, f);
    FitLoneTone(kernel, f, false);
    return f.Final ? TPeak{K + f.Fit.Offset, f.Fit.Magnitude} : FitMirror(kernel, f);
}

double LevelFromMagnitude(double M)
{
    return 20.0 * std::log10(M / MagnitudeReference + LevelFloor);
}

double MagnitudeFromLevel(double Dbm)
{
    return std::max(0.0, (std::pow(10.0, Dbm / 20.0) - LevelFloor) * MagnitudeReference);
}

} // namespace quillex
