#include "PeakSearch.h"

#include "WindowSpectrum.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>

namespace quillex {

namespace {

constexpr double MagnitudeReference = 16384.0;
constexpr double LevelFloor = 1e-9;

// Weight of the prior that the mirror's phase term is zero, relative to the tone's magnitude.
// Where the mirror is too weak to be seen in three bins, this keeps its phase from wandering
// with noise; where it matters it is outweighed by the bins many times over.
constexpr double MirrorPrior = 3e-4;
// A mirror weaker than this, relative to the tone, moves no bin by 0.0001 dB.
constexpr double NegligibleMirror = 1e-6;
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

struct TFit
{
    double Magnitude; // on-bin magnitude of the tone
    double Offset;    // from bin K
    double Phase;     // cos(2 theta) of the mirror's interference
};

// Bins K-Reach..K+Reach around a local maximum; M[j + Reach] is bin K + j, Lo..Hi the offsets
// j that lie inside the spectrum.
constexpr int Reach = 4;
struct TNeighbourhood
{
    int K;
    double M[2 * Reach + 1];
    int Lo, Hi;
};

// The kernel values of the tone (A) and its mirror (B) at bins K+Lo..K+Hi for a tone at
// offset Offset from K, with their slopes in the offset; index j - Lo.
struct TTerms
{
    double A[2 * Reach + 1], DA[2 * Reach + 1], B[2 * Reach + 1], DB[2 * Reach + 1];
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
        const double r = F.Magnitude * q - B.M[j + Reach];
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
            const double r = f.Magnitude * q - B.M[j + Reach];
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

// The cached kernel, or one built in Local for sizes that have none.
const TWindowKernel* KernelFor(TDXLeakType Window, int N, std::optional<TWindowKernel>& Local)
{
    if (const TWindowKernel* kernel = CachedWindowKernel(Window, N))
        return kernel;
    return &Local.emplace(Window, N);
}

// The fit of a lone tone to bins K-1..K+1, and what the mirror's fit starts from. The search
// stops at each step when the rest cannot raise the peak far enough to matter.
struct TFirstFit
{
    TNeighbourhood B;
    TFit Fit;
    bool Final;     // Fit is the result
    bool Ambiguous; // both sides of bin K are tried
    int Lo, Hi;     // bins whose cost decides
    double Cost;    // the lone tone's cost over Lo..Hi: the mirror's fit must beat it
};

// The neighbourhood of bin K and the tone's offset from the ratio of its two largest bins.
void ToneOffset(const TWindowKernel& Kernel, const float* Magnitudes, int N, int K, TFirstFit& F)
{
    // Bin 0 holds the mean of the windowed samples, half the scale of the other bins and
    // shifted by any DC offset: it serves only as the left neighbour of bin 1.
    TNeighbourhood& b = F.B;
    b = {K, {}, std::max(-Reach, std::min(1 - K, -1)), std::min(Reach, N - 1 - K)};
    // A bin that is not a finite magnitude counts as empty.
    for (int j = b.Lo; j <= b.Hi; ++j) {
        const double v = std::fabs(double(Magnitudes[K + j])) * (K + j == 0 ? 2.0 : 1.0);
        b.M[j + Reach] = std::isfinite(v) ? v : 0.0;
    }
    const double* m = b.M + Reach - 1; // bins K-1..K+1
    F.Final = !(m[1] > 0);
    if (F.Final) {
        F.Fit = {std::fabs(double(Magnitudes[K])) > 0 ? double(Magnitudes[K]) : 0.0, 0, 0};
        return;
    }
    const int side = m[2] > m[0] ? 1 : -1;
    const double ratio = std::min(m[1 + side] / m[1], 1.0);
    F.Fit = {0, side * OffsetFromRatio(Kernel, ratio), 0};
}

// The lone tone's magnitude by least squares over the three bins, and whether its mirror is to
// be fitted. Quiet: the mirror is known to be negligible, so its terms are not formed.
void FitLoneTone(const TWindowKernel& Kernel, TFirstFit& F, bool Quiet)
{
    if (F.Final)
        return;
    const TNeighbourhood& b = F.B;
    const double* m = b.M + Reach - 1; // bins K-1..K+1
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

// The fit with the tone's mirror, from the lone tone's: kept where it fits the bins better.
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

TPeak Interpolate(const TWindowKernel& Kernel, const float* Magnitudes, int N, int K)
{
    TFirstFit f;
    ToneOffset(Kernel, Magnitudes, N, K, f);
    FitLoneTone(Kernel, f, false);
    return f.Final ? TPeak{K + f.Fit.Offset, f.Fit.Magnitude} : FitMirror(Kernel, f);
}

} // namespace

TPeak InterpolatePeak(const float* Magnitudes, int N, int K, TDXLeakType Window)
{
    if (K < 0 || K >= N)
        return {double(K), 0.0};
    if (K < 1 || K > N - 2 || Window == wnOwn || Window > wnOwn)
        return {double(K), std::fabs(double(Magnitudes[K]))};
    std::optional<TWindowKernel> local;
    return Interpolate(*KernelFor(Window, N, local), Magnitudes, N, K);
}

double LevelFromMagnitude(double M)
{
    return 20.0 * std::log10(M / MagnitudeReference + LevelFloor);
}

double MagnitudeFromLevel(double Dbm)
{
    return std::max(0.0, (std::pow(10.0, Dbm / 20.0) - LevelFloor) * MagnitudeReference);
}

namespace {

// The surroundings against which a peak's height is judged: bins 3..18 away on either side,
// beyond the main lobe of every window, so a tone's own bins do not raise its floor.
constexpr int FloorGuard = 3;
constexpr int FloorWidth = 16;

// TPeakRules as factors on magnitudes, worked out once per search.
struct TPeakTest
{
    explicit TPeakTest(const TPeakRules& Rules)
        : Fall(float(std::pow(10.0, -Rules.ExcursionDb / 20.0))),
          Floor(float(std::pow(10.0, Rules.FloorMarginDb / 10.0))), Bins(Rules.ExcursionBins)
    {
    }
    float Fall;  // magnitude ratio the spectrum must fall to
    float Floor; // power ratio above the noise around
    int Bins;
};

// The mean noise power around bin K: the mean power of its surroundings, leaving out the
// bins above four times the mean of the rest, so that a strong neighbour on one side, with its
// skirts, does not count. Noise power in a bin follows an exponential distribution, of which
// the values up to four times the mean average 0.925 of it. Bin 0, which holds the mean of the
// samples, is left out; -1 when no bin is left.
float SurroundingPower(const float* Magnitudes, int N, int K)
{
    float power[2 * FloorWidth];
    int n = 0;
    for (int j = std::max(1, K - FloorGuard - FloorWidth + 1); j <= K - FloorGuard; ++j)
        power[n++] = Magnitudes[j] * Magnitudes[j];
    for (int j = K + FloorGuard, end = std::min(N - 1, K + FloorGuard + FloorWidth - 1); j <= end;
         ++j)
        power[n++] = Magnitudes[j] * Magnitudes[j];
    if (n == 0)
        return -1.0f;
    // Each pass drops the bins above four times the mean of those kept; a neighbour's bins
    // fall away from the strongest down, in a few passes.
    float limit = std::numeric_limits<float>::infinity(), mean = 0;
    for (int pass = 0; pass < 6; ++pass) {
        float sum = 0, highest = 0;
        int count = 0;
        for (int i = 0; i < n; ++i) {
            const bool in = power[i] <= limit;
            sum += in ? power[i] : 0.0f;
            highest = in && power[i] > highest ? power[i] : highest;
            count += in;
        }
        if (count == 0)
            break;
        mean = sum / float(count);
        limit = 4.0f * mean;
        if (highest <= limit)
            break;
    }
    return mean / 0.925f;
}

bool IsPeakAt(const float* Magnitudes, int N, int K, const TPeakTest& Test)
{
    if (K < 1 || K > N - 2)
        return false;
    const float peak = Magnitudes[K];
    if (!(peak > Magnitudes[K - 1] && peak >= Magnitudes[K + 1]))
        return false;
    const float fall = peak * Test.Fall;
    // Left: an equal bin further left takes the peak (it is the first of a plateau).
    bool fell = false;
    for (int j = K - 1, end = std::max(-1, K - 1 - Test.Bins); j > end; --j) {
        if (Magnitudes[j] <= fall) {
            fell = true;
            break;
        }
        if (Magnitudes[j] >= peak)
            return false;
    }
    if (!fell && K - 1 - Test.Bins >= 0)
        return false;
    fell = false;
    for (int j = K + 1, end = std::min(N, K + 1 + Test.Bins); j < end; ++j) {
        if (Magnitudes[j] <= fall) {
            fell = true;
            break;
        }
        if (Magnitudes[j] > peak)
            return false;
    }
    if (!fell && K + 1 + Test.Bins < N)
        return false;
    // Last, as it costs the most: the height above the noise around.
    const float floor = SurroundingPower(Magnitudes, N, K);
    return peak * peak >= floor * Test.Floor;
}

} // namespace

bool IsPeak(const float* Magnitudes, int N, int K, const TPeakRules& Rules)
{
    return IsPeakAt(Magnitudes, N, K, TPeakTest(Rules));
}

namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();
// Relative slack on every bound below, far above the rounding of what it bounds.
constexpr double BoundSlack = 1e-6;

// ---- Bounds on a peak's interpolated magnitude ----
//
// The lone tone's magnitude is sum |A_j| m_j / sum A_j^2 over bins K-1..K+1, A_j the kernel at
// j - offset: by Cauchy-Schwarz at most |m| / |A|, |m| the norm of the three bins. The mirror's
// fit is kept only where its cost over those bins stays below the lone tone's, c0, with the
// tone within a bin of K; its bins are then at least |A_j| - |B_j| (B the mirror), so its
// magnitude is below (sqrt(c0) + |m|) / (|A| - |B|). sqrt(c0) is at most the lone tone's
// residual without the mirror plus its magnitude times |B|, and before the lone tone is fitted
// at most sqrt(M0^2 sum(A_j^2 + B_j^2) + sum m_j^2) over the nine bins it may take, M0 its
// magnitude. The kernel's norms come from a grid over the offset, widened by the most they can
// change between grid points (|R| <= 1 and |R'| <= pi).

// A bound with its slack; a NaN bound bounds nothing.
double Sure(double Bound)
{
    return std::isnan(Bound) ? Infinity : Bound * (1 + BoundSlack);
}

// The raised-cosine terms of the windows the kernel knows, as it sums their Dirichlet kernels.
struct TCosineTerms
{
    int Count;
    double B[3];
};

TCosineTerms CosineTerms(TDXLeakType Window)
{
    switch (Window) {
    case wnHanning:
        return {2, {0.5, 0.5, 0}};
    case wnHamming:
        return {2, {0.54, 0.46, 0}};
    case wnBlackman:
        return {3, {0.42, 0.5, 0.08}};
    default:
        return {1, {1, 0, 0}};
    }
}

// The least of sin(pi g / L) over GLo..GHi: 0 unless the interval lies inside 0..L, where the
// sine is concave and so least at an end.
double LeastSine(double GLo, double GHi, double L)
{
    if (!(GLo > 0 && GHi < L))
        return 0;
    return std::min(std::sin(std::numbers::pi * GLo / L), std::sin(std::numbers::pi * GHi / L));
}

// Each Dirichlet kernel sin(pi g) / sin(pi g / L) of R is at most 1 / sin(pi g / L), and the
// terms' weights sum to 1: a bound on |R| at the mirror of a tone within half a bin of bin K
// over bins K-4..K+4, or within a bin over K-1..K+1.
double MirrorEnvelope(const TWindowKernel& Kernel, int K)
{
    const double L = 2.0 * Kernel.Bins();
    const double shift = (CosineTerms(Kernel.Window()).Count - 1) * L / (L - 1);
    const double sine = LeastSine(2 * K - Reach - 0.5 - shift, 2 * K + Reach + 0.5 + shift, L);
    // The table near the kernel's centre differs from its closed form by far less than 1e-7.
    return sine > 0 ? 1.0 / (Kernel.Gain() * sine) + 1e-7 : Infinity;
}

// A bound on |R| at the mirror of a tone within half a bin of bin K, over K-1..K+1, for windows
// whose terms cancel (Hann, Blackman: b0 - b1 + b2 = 0), where R falls as a second difference
// of f(g) = 1 / sin(pi g / L). With F0..F2 bounds on f, |f'| and |f''| over the interval
// widened by the terms' shifts s_m = m L / (L - 1), and e = 1 / (L - 1):
// |R| Gain <= sum_m [b_m / 2 s_m^2 F2 + b_m (pi m e)^2 / 2 F0 + b_m pi m e s_m F1].
double CancellingMirror(const TWindowKernel& Kernel, int K)
{
    const TCosineTerms terms = CosineTerms(Kernel.Window());
    const double L = 2.0 * Kernel.Bins(), step = L / (L - 1), e = 1.0 / (L - 1);
    const double shift = (terms.Count - 1) * step;
    const double sine = LeastSine(2 * K - 1.5 - shift, 2 * K + 1.5 + shift, L);
    if (!(sine > 0))
        return Infinity;
    const double p = std::numbers::pi / L;
    const double f0 = 1 / sine, f1 = p / (sine * sine), f2 = 2 * p * p / (sine * sine * sine);
    double residue = terms.B[0], sum = 0;
    for (int m = 1; m < terms.Count; ++m) {
        const double b = terms.B[m], s = m * step, a = std::numbers::pi * m * e;
        residue += m % 2 ? -b : b;
        sum += b / 2 * s * s * f2 + b * a * a / 2 * f0 + b * a * s * f1;
    }
    return (sum + std::fabs(residue) * f0) / Kernel.Gain() + 1e-12;
}

// The least (Sign = -1) or greatest (+1) of sum R(j - o)^2 over j = From..To, o in 0..Span,
// from a grid of Steps, widened by the most the sum can change within half a step.
double KernelSquares(const TWindowKernel& Kernel, int From, int To, double Span, int Steps,
                     int Sign)
{
    double extreme = Sign < 0 ? Infinity : 0;
    for (int i = 0; i <= Steps; ++i) {
        const double o = Span * i / Steps;
        double sum = 0;
        for (int j = From; j <= To; ++j) {
            const double r = Kernel(j - o);
            sum += r * r;
        }
        extreme = Sign < 0 ? std::min(extreme, sum) : std::max(extreme, sum);
    }
    const double slope = 2.0 * (To - From + 1) * std::numbers::pi * 1.01;
    return std::max(0.0, extreme + Sign * slope * Span / Steps / 2);
}

// The largest bound per largest bin over K-4..K+4 where the mirror's envelope is at most
// Envelope.
double ReachOf(const TPeakSearch::TBounds& B, double Envelope)
{
    if (!std::isfinite(Envelope))
        return Infinity;
    const double root3 = std::sqrt(3.0);
    const double spread = B.Spread + 9 * Envelope * Envelope;
    return Sure(std::max(root3 / B.Near, (std::sqrt(3 * spread / (B.Near * B.Near) + 9) + root3) /
                                             (B.Far - root3 * Envelope)));
}

void BuildBounds(const TWindowKernel& Kernel, TPeakSearch::TBounds& B)
{
    B.Window = Kernel.Window();
    const int n = B.N = Kernel.Bins();
    B.Near = std::sqrt(KernelSquares(Kernel, -1, 1, 0.5, 1024, -1));
    B.Far = std::sqrt(KernelSquares(Kernel, -1, 1, 1.0, 2048, -1));
    B.Spread = KernelSquares(Kernel, -Reach, Reach, 0.5, 256, 1);
    // The mirror's envelope, which grows towards the band edges. Bins where it reaches half the
    // tone, or whose nine neighbours leave the spectrum, have no bound; in the zone, where it
    // stays below a hundredth, the zone's largest serves all.
    const double root3 = std::sqrt(3.0);
    const auto envelope = [&](int K) {
        const double e = MirrorEnvelope(Kernel, K);
        return K > Reach && K < n - 1 - Reach + 1 && root3 * e < 0.5 * B.Far ? e : Infinity;
    };
    const auto inZone = [&](double E) { return root3 * E <= 0.01 * B.Far; };
    B.LowMirror.assign(size_t(std::min(n, Reach + 1)), Infinity);
    int first = Reach + 1;
    for (; first <= n - 1 - Reach; ++first) {
        const double e = envelope(first);
        if (inZone(e))
            break;
        B.LowMirror.push_back(e);
    }
    B.HighMirror.assign(size_t(std::min(n, Reach)), Infinity);
    int last = n - 1 - Reach;
    for (; last >= first; --last) {
        const double e = envelope(last);
        if (inZone(e))
            break;
        B.HighMirror.push_back(e);
    }
    B.ZoneFirst = first;
    B.ZoneLast = last;
    B.ZoneMirror = first <= last ? std::max(envelope(first), envelope(last)) : Infinity;
    B.BoundFirst = Reach + 1;
    while (B.BoundFirst < first && !std::isfinite(B.LowMirror[size_t(B.BoundFirst)]))
        ++B.BoundFirst;
    B.BoundLast = n - 1 - Reach;
    while (B.BoundLast > last && !std::isfinite(B.HighMirror[size_t(n - 1 - B.BoundLast)]))
        --B.BoundLast;
    B.Reach = ReachOf(B, B.ZoneMirror);
    double edges = 0;
    for (const auto* side : {&B.LowMirror, &B.HighMirror})
        for (const double e : *side)
            if (std::isfinite(e))
                edges = std::max(edges, e);
    B.EdgeReach = ReachOf(B, edges);
    // With Hann and Blackman the mirror of a tone away from the band edges stays below what
    // the fit takes into account: the lone tone's magnitude is the result.
    B.QuietFirst = 1;
    B.QuietLast = 0;
    if (B.Window == wnHanning || B.Window == wnBlackman) {
        const auto quiet = [&](int K) {
            return CancellingMirror(Kernel, K) <= NegligibleMirror / 2;
        };
        // From bin 2: the search's look for bins near the weakest peak takes bin 0 as it stands,
        // where the fit doubles it.
        int qFirst = 2, qLast = n - 2;
        while (qFirst <= qLast && !quiet(qFirst))
            ++qFirst;
        while (qLast >= qFirst && !quiet(qLast))
            --qLast;
        B.QuietFirst = qFirst;
        B.QuietLast = qLast;
    }
    B.QuietReach = Sure(root3 / B.Near);
    // R(1 - u) / R(u), which rises with u, and |R(1 + u)| / R(u) over 0 <= u <= 1/2. The latter
    // changes by at most FallingSlope within half a step: its slope is at most pi / R(u) +
    // pi / R(u)^2, R(u) >= 1 / ScallopGain. Without a rising ratio there is no table.
    constexpr int steps = 1024;
    B.Rising.resize(steps + 1);
    B.Falling.resize(steps + 1);
    for (int i = 0; i <= steps; ++i) {
        const double u = 0.5 * i / steps, centre = Kernel(u);
        B.Rising[size_t(i)] = Kernel(1 - u) / centre;
        B.Falling[size_t(i)] = std::fabs(Kernel(1 + u)) / centre;
    }
    if (!std::is_sorted(B.Rising.begin(), B.Rising.end(), std::less_equal<double>()) ||
        B.Rising.back() != 1.0)
        B.Rising.clear();
    const double g = Kernel.ScallopGain();
    B.FallingSlope = std::numbers::pi * (g + g * g) * 1.01 * 0.5 / steps / 2;
    // The distance of the three bins from the point above is at most the largest of them times
    // this: R(1 - u) / R(u) lies in 0..1, |R(1 + u)| / R(u) within FallingSlope of the table.
    const double falling =
        std::max(1.0, *std::max_element(B.Falling.begin(), B.Falling.end())) + B.FallingSlope;
    B.Spill = std::sqrt(1 + falling * falling);
}

// A bin's magnitude as the fit takes it.
double FitMagnitude(const float* Magnitudes, int Bin)
{
    const double v = std::fabs(double(Magnitudes[Bin])) * (Bin == 0 ? 2.0 : 1.0);
    return std::isfinite(v) ? v : 0.0;
}

bool Quiet(const TPeakSearch::TBounds& B, int K)
{
    return K >= B.QuietFirst && K <= B.QuietLast;
}

// The mirror's envelope at K, infinite where there is no bound.
double MirrorAt(const TPeakSearch::TBounds& B, int K)
{
    if (K < B.ZoneFirst)
        return B.LowMirror[size_t(K)];
    if (K > B.ZoneLast)
        return B.HighMirror[size_t(B.N - 1 - K)];
    return B.ZoneMirror;
}

// The bound of the mirror's fit from the lone tone's residual over bins K-4..K+4 at worst.
double BoundFromNineBins(const TPeakSearch::TBounds& B, const float* Magnitudes, int K,
                         double Three, double Lone, double Envelope)
{
    double nine = Three;
    for (int j = 2; j <= Reach; ++j) {
        const double l = FitMagnitude(Magnitudes, K - j), r = FitMagnitude(Magnitudes, K + j);
        nine += l * l + r * r;
    }
    const double cost = Lone * Lone * (B.Spread + 9 * Envelope * Envelope) + nine;
    return std::max((std::sqrt(cost) + std::sqrt(Three)) / (B.Far - std::sqrt(3.0) * Envelope),
                    Lone);
}

// Whether the local maximum at bin K certainly stays below Weakest (> 0), from its bins alone.
// Where the mirror may be fitted, the lone tone's residual over the three bins is at most their
// distance from (m1 / R(u)) (|R(1 + u)|, R(u), R(1 - u)), u the offset: the ratio of the two
// largest bins places u between two points of the table, and with it the ratios R(1 - u) / R(u)
// and |R(1 + u)| / R(u); at most Spill times the largest bin in any case. Squares and the
// largest bin spare the roots where they settle it.
bool BelowFromBins(const TPeakSearch::TBounds& B, const float* Magnitudes, int K, double Weakest)
{
    const bool quiet = Quiet(B, K);
    const double envelope = MirrorAt(B, K);
    if (!quiet && !std::isfinite(envelope))
        return false;
    const double l = FitMagnitude(Magnitudes, K - 1), c = FitMagnitude(Magnitudes, K),
                 r = FitMagnitude(Magnitudes, K + 1);
    if (!(c > 0))
        return false;
    const double three = l * l + c * c + r * r;
    const double near = Weakest * B.Near / (1 + BoundSlack);
    if (quiet)
        return three < near * near;
    // The fit takes nine bins where the mirror may outweigh the difference of the neighbours.
    if (B.Rising.empty() ||
        !((r - l) * (r - l) * B.Near * B.Near > 16 * envelope * envelope * three)) {
        const double lone = std::sqrt(three) / B.Near;
        return Sure(BoundFromNineBins(B, Magnitudes, K, three, lone, envelope)) < Weakest;
    }
    const double root3 = std::sqrt(3.0), mirror = root3 * envelope;
    const double reach =
        std::max(root3 / B.Near, (B.Spill + mirror / B.Near * root3 + root3) / (B.Far - mirror));
    if (Sure(reach * std::max({l, c, r})) < Weakest)
        return true;
    const double side = std::max(l, r), other = std::min(l, r);
    const double ratio = std::min(side / c, 1.0);
    const auto& rising = B.Rising;
    const size_t last = rising.size() - 1;
    size_t i = last, j = last;
    if (ratio <= rising[0])
        i = j = 0;
    else if (ratio < 1.0)
        i = size_t(std::upper_bound(rising.begin(), rising.end(), ratio) - rising.begin() - 1),
        j = i + 1;
    const double margin = i == j ? 0 : B.FallingSlope;
    const auto far = [&](double m, double lo, double hi) {
        return std::max(std::fabs(m - c * lo), std::fabs(m - c * hi));
    };
    const double toSide = far(side, rising[i], rising[j]);
    const double toOther = far(other, std::min(B.Falling[i], B.Falling[j]) - margin,
                               std::max(B.Falling[i], B.Falling[j]) + margin);
    const double residual = std::sqrt(toSide * toSide + toOther * toOther);
    const double lone = std::sqrt(three) / B.Near;
    return Sure(std::max((residual + lone * mirror + std::sqrt(three)) / (B.Far - mirror), lone)) <
           Weakest;
}

// Once the lone tone is fitted.
double BoundFromFit(const TPeakSearch::TBounds& B, const TFirstFit& F)
{
    const double envelope = MirrorAt(B, F.B.K);
    if (!std::isfinite(envelope))
        return Infinity;
    const double* m = F.B.M + Reach - 1;
    const double norm = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
    return Sure(std::max((std::sqrt(F.Cost) + norm) / (B.Far - std::sqrt(3.0) * envelope),
                         F.Fit.Magnitude));
}

// ---- A necessary condition for the floor rule ----
//
// The floor is the mean of the powers of the surroundings left after dropping, pass by pass,
// those above four times the mean of the rest. If the powers at or below Cap have a mean above
// x = Cap / 4, every pass keeps them (its limit, four times a mean of at least x, is at least
// Cap) and what else it keeps lies above them, so every mean, the last included, is at least
// x, and the peak needs a power of Floor x / 0.925 or more. The test takes a mean above
// x (1 + 1e-3), which covers the rounding of float sums of 32 powers many times over, and
// passes over a peak up to x Floor / 0.925 (1 + 5e-4), short of what that leaves.
struct TFloorLevel
{
    float Cap;    // powers above are left out
    float Offset; // x (1 + 1e-3), subtracted from the powers kept
    double Power; // where the test holds, a local maximum up to this power is no peak
};

// Cap 0 (no test) where it would come out of the range of normal floats, whose rounding the
// margins rely on.
TFloorLevel FloorLevel(double X, float Floor)
{
    const float cap = float(4 * X);
    if (!(cap >= 1e-30f && std::isfinite(cap)))
        return {0, 0, 0};
    const double x = double(cap) / 4;
    return {cap, float(x * (1 + 1e-3)), x * double(Floor) / 0.925 * (1 + 5e-4)};
}

using TLanes = float __attribute__((vector_size(16)));
using TLaneMask = int __attribute__((vector_size(16)));

TLanes Load(const float* P)
{
    TLanes v;
    std::memcpy(&v, P, sizeof v);
    return v;
}

// The lanes whose mask is set, as bits.
unsigned LaneBits(TLaneMask Mask)
{
#if defined(__SSE__)
    return unsigned(__builtin_ia32_movmskps(TLanes(Mask)));
#else
    return unsigned((Mask[0] & 1) | (Mask[1] & 2) | (Mask[2] & 4) | (Mask[3] & 8));
#endif
}

TLanes Magnitude(TLanes V)
{
    return TLanes(TLaneMask(V) & 0x7fffffff);
}

TLanes Kept(TLanes Power, const TFloorLevel& Level)
{
    return TLanes(TLaneMask(Power - Level.Offset) & (Power <= Level.Cap));
}

// False when the local maximum at bin K, of power PeakPower, certainly fails the floor rule;
// both its surroundings (FloorWidth bins each) must lie inside Values, which hold powers, or
// magnitudes when Square.
template <bool Square> bool MayClearFloor(const float* Values, int K, float PeakPower, float Floor)
{
    const TFloorLevel level = FloorLevel(double(PeakPower) * 0.925 / Floor, Floor);
    if (!(level.Cap > 0))
        return true;
    TLanes sum0 = {}, sum1 = {};
    for (const float* v : {Values + K - FloorGuard - FloorWidth + 1, Values + K + FloorGuard})
        for (int i = 0; i < FloorWidth; i += 8) {
            TLanes a = Load(v + i), b = Load(v + i + 4);
            if constexpr (Square)
                a *= a, b *= b;
            sum0 += Kept(a, level);
            sum1 += Kept(b, level);
        }
    const TLanes s = sum0 + sum1;
    return !((s[0] + s[1]) + (s[2] + s[3]) > 0 && double(PeakPower) <= level.Power);
}

// A float at most Value.
float FloatBelow(double Value)
{
    const float f = float(Value);
    return double(f) > Value ? std::nextafter(f, -std::numeric_limits<float>::infinity()) : f;
}

// How many of bins First..Last have a magnitude of at least Least.
int HotBins(const float* Magnitudes, int First, int Last, float Least)
{
    TLaneMask count = {};
    int j = First;
    for (; j + 3 <= Last; j += 4)
        count -= Magnitude(Load(Magnitudes + j)) >= Least;
    int hot = (count[0] + count[1]) + (count[2] + count[3]);
    for (; j <= Last; ++j)
        hot += std::fabs(Magnitudes[j]) >= Least;
    return hot;
}

// The mean of Power[Lo..Hi] up to Cap.
double MeanUpTo(const float* Power, int Lo, int Hi, float Cap)
{
    const TLanes one = {1, 1, 1, 1};
    TLanes sum0 = {}, sum1 = {}, count0 = {}, count1 = {};
    int j = Lo;
    for (; j + 7 <= Hi; j += 8) {
        const TLanes v0 = Load(Power + j), v1 = Load(Power + j + 4);
        const TLaneMask in0 = v0 <= Cap, in1 = v1 <= Cap;
        sum0 += TLanes(TLaneMask(v0) & in0);
        sum1 += TLanes(TLaneMask(v1) & in1);
        count0 += TLanes(TLaneMask(one) & in0);
        count1 += TLanes(TLaneMask(one) & in1);
    }
    const TLanes sum = sum0 + sum1, count = count0 + count1;
    double total = (sum[0] + sum[1]) + (sum[2] + sum[3]);
    double n = (count[0] + count[1]) + (count[2] + count[3]);
    for (; j <= Hi; ++j)
        if (Power[j] <= Cap)
            total += Power[j], n += 1;
    return total / n;
}

// The level for the quick test of the floor rule over Power[Lo..Hi]: half its mean power up to
// Cap, with every bin's sum of kept powers over the FloorWidth bins from it in Sums (Fours as
// scratch). Cap 0 when there is none.
TFloorLevel SurroundingSums(const float* Power, float Cap, int Lo, int Hi, float Floor,
                            float* Fours, float* Sums)
{
    const double mean = MeanUpTo(Power, Lo, Hi, Cap);
    if (!(mean > 0 && std::isfinite(mean)))
        return {0, 0, 0};
    const TFloorLevel level = FloorLevel(mean / 2, Floor);
    if (!(level.Cap > 0))
        return level;
    int j = Lo;
    for (; j + 3 <= Hi; j += 4) {
        const TLanes kept = Kept(Load(Power + j), level);
        std::memcpy(Sums + j, &kept, sizeof kept);
    }
    for (; j <= Hi; ++j)
        Sums[j] = Power[j] <= level.Cap ? Power[j] - level.Offset : 0.0f;
    for (j = Lo; j <= Hi - 3; ++j)
        Fours[j] = Sums[j] + Sums[j + 1] + Sums[j + 2] + Sums[j + 3];
    for (j = Lo; j <= Hi - (FloorWidth - 1); ++j)
        Sums[j] = Fours[j] + Fours[j + 4] + Fours[j + 8] + Fours[j + 12];
    return level;
}

} // namespace

struct TPeakSearch::TSelection
{
    const float* Magnitudes;
    int N;
    const TWindowKernel* Kernel; // null: no interpolation, a peak is its bin
    const TBounds* Bounds;
    TPeakTest Test;
    bool FloorTest;     // the floor rule's factor allows the quick test
    const float* Power; // powers of the bins, where formed, else null
    int First, Last;
    double MinMagnitude;
    int Count;
    TPeak* Peaks;
    int Found = 0;

    // Below this a peak cannot make the list.
    double Weakest() const { return Found == Count ? Peaks[Count - 1].Magnitude : MinMagnitude; }
};

namespace {

// Strongest bin first; of equal bins the lower. A function object, so that sorting inlines it.
struct TStronger
{
    bool operator()(const TPeakSearch::TCandidate& A, const TPeakSearch::TCandidate& B) const
    {
        return A.Raw > B.Raw || (A.Raw == B.Raw && A.Bin < B.Bin);
    }
};
constexpr TStronger Stronger;

bool IsLocalMaximum(const float* Magnitudes, int K)
{
    return Magnitudes[K] > Magnitudes[K - 1] && Magnitudes[K] >= Magnitudes[K + 1];
}

} // namespace

// Takes the local maximum at bin K into the list if it is a peak strong enough. Each step is
// taken only if the bound after the one before still reaches the weakest peak wanted.
void TPeakSearch::Examine(TSelection& S, int K)
{
    const float* m = S.Magnitudes;
    ++FEffort.Examined;
    // No bound falls below 0; without a kernel a peak's magnitude is its bin's.
    const bool prune = S.Weakest() > 0;
    if (prune && (S.Kernel ? BelowFromBins(*S.Bounds, m, K, S.Weakest()) : m[K] < S.Weakest()))
        return;
    if (S.FloorTest && K - FloorGuard - FloorWidth + 1 >= 1 &&
        K + FloorGuard + FloorWidth - 1 <= S.N - 1) {
        const bool may = S.Power ? MayClearFloor<false>(S.Power, K, S.Power[K], S.Test.Floor)
                                 : MayClearFloor<true>(m, K, m[K] * m[K], S.Test.Floor);
        if (!may)
            return;
    }
    ++FEffort.Tested;
    if (!IsPeakAt(m, S.N, K, S.Test))
        return;
    TPeak p{double(K), double(m[K])};
    if (S.Kernel) {
        ++FEffort.Fitted;
        const TWindowKernel& kernel = *S.Kernel;
        const bool quiet = Quiet(*S.Bounds, K);
        TFirstFit f;
        ToneOffset(kernel, m, S.N, K, f);
        FitLoneTone(kernel, f, quiet);
        if (f.Final)
            p = {K + f.Fit.Offset, f.Fit.Magnitude};
        else if (prune && BoundFromFit(*S.Bounds, f) < S.Weakest())
            return;
        else
            p = FitMirror(kernel, f);
    }
    const auto before = [&p](const TPeak& q) {
        return p.Magnitude > q.Magnitude || (p.Magnitude == q.Magnitude && p.Bin < q.Bin);
    };
    if (!(p.Magnitude >= S.MinMagnitude) || (S.Found == S.Count && !before(S.Peaks[S.Count - 1])))
        return;
    int i = S.Found < S.Count ? S.Found++ : S.Count - 1;
    for (; i > 0 && before(S.Peaks[i - 1]); --i)
        S.Peaks[i] = S.Peaks[i - 1];
    S.Peaks[i] = p;
}

int TPeakSearch::Strongest(const float* Magnitudes, int N, TDXLeakType Window, int First, int Last,
                           double MinMagnitude, int Count, TPeak* Peaks)
{
    FEffort = {};
    First = std::max(First, 1);
    Last = std::min(Last, N - 2);
    if (Count <= 0 || Peaks == nullptr || First > Last || std::isnan(MinMagnitude))
        return 0;
    // No more peaks than local maxima, which keeps the storage within the spectrum's size.
    Count = std::min(Count, (Last - First) / 2 + 1);
    const bool known = Window >= wnRectangle && Window <= wnBlackman;
    std::optional<TWindowKernel> local;
    const TWindowKernel* kernel = known ? KernelFor(Window, N, local) : nullptr;
    if (kernel && (FBounds.Window != Window || FBounds.N != N))
        BuildBounds(*kernel, FBounds);
    const TPeakTest test(Rules);
    const bool floorTest = test.Floor > 0 && std::isfinite(test.Floor);
    TSelection sel{Magnitudes, N,     kernel, &FBounds,     test,  floorTest,
                   nullptr,    First, Last,   MinMagnitude, Count, Peaks};

    // First the strongest few local maxima, held in order: their peaks usually set the weakest
    // peak wanted, which most other local maxima then cannot reach.
    const size_t few = size_t(std::max(2 * Count, 16));
    if (FFew.size() < few)
        FFew.resize(few);
    size_t held = 0;
    float least = -std::numeric_limits<float>::infinity(); // once full, the weakest held
    const auto take = [&](int k) {
        const float m = Magnitudes[k];
        if (!(m > least) || !IsLocalMaximum(Magnitudes, k))
            return;
        size_t i = held < few ? held++ : few - 1;
        for (; i > 0 && FFew[i - 1].Raw < m; --i)
            FFew[i] = FFew[i - 1];
        FFew[i] = {k, m};
        if (held == few)
            least = FFew[few - 1].Raw;
    };
    int k = First;
    for (; k + 7 <= Last; k += 8) {
        unsigned over = LaneBits(Load(Magnitudes + k) > least) |
                        LaneBits(Load(Magnitudes + k + 4) > least) << 4;
        for (; over; over &= over - 1)
            take(k + std::countr_zero(over));
    }
    for (; k <= Last; ++k)
        take(k);
    for (size_t c = 0; c < held; ++c)
        Examine(sel, FFew[c].Bin);
    if (held == few)
        ExamineRest(sel, FFew[few - 1]);
    return sel.Found;
}

// The local maxima weaker than Last, the weakest of the few examined first. Where the peaks
// found so far set a weakest magnitude that few bins come near, only the local maxima by those
// are looked at; otherwise all of them, with a quick test of the floor rule for all at once.
void TPeakSearch::ExamineRest(TSelection& S, TCandidate Last)
{
    const float* m = S.Magnitudes;
    const double weakest = S.Weakest();
    const TBounds& b = *S.Bounds;
    // Without a kernel the bound of a local maximum is its own bin: the zone is everything.
    const bool kernel = S.Kernel != nullptr;
    const float mirrorLeast = FloatBelow(weakest / (kernel ? b.Reach : 1.0));
    const float edgeLeast = FloatBelow(weakest / (kernel ? b.EdgeReach : 1.0));
    const float quietLeast = FloatBelow(weakest / (kernel ? b.QuietReach : 1.0));
    if (!(mirrorLeast > 0) ||
        8 * HotBins(m, S.First - 1, S.Last + 1, mirrorLeast) > S.Last - S.First + 3) {
        ExamineDense(S, Last);
        return;
    }
    const auto consider = [&](int K) {
        if (IsLocalMaximum(m, K) && Stronger(Last, {K, m[K]}))
            Examine(S, K);
    };
    // Local maxima K in From..To with a bin within Around of at least Least.
    const auto near = [&](int From, int To, float Least, int Around) {
        int next = From;
        const auto hot = [&](int j) {
            for (int k = std::max(next, j - Around), end = std::min(To, j + Around); k <= end; ++k)
                consider(k);
            next = std::max(next, j + Around + 1);
        };
        int j = From - Around;
        const int end = To + Around;
        for (; j + 3 <= end; j += 4)
            for (unsigned over = LaneBits(Magnitude(Load(m + j)) >= Least); over; over &= over - 1)
                hot(j + std::countr_zero(over));
        for (; j <= end; ++j)
            if (std::fabs(m[j]) >= Least)
                hot(j);
    };
    if (!kernel) {
        near(S.First, S.Last, mirrorLeast, 0);
        return;
    }
    for (int k = S.First; k <= S.Last;) {
        // The run of bins from k on that share their bound.
        int end = S.Last;
        for (const int edge : {b.QuietFirst - 1, b.QuietLast, b.ZoneFirst - 1, b.ZoneLast,
                               b.BoundFirst - 1, b.BoundLast})
            if (edge >= k)
                end = std::min(end, edge);
        const bool bounded = k >= b.BoundFirst && k <= b.BoundLast;
        if (Quiet(b, k))
            near(k, end, quietLeast, 1);
        else if (k >= b.ZoneFirst && k <= b.ZoneLast)
            near(k, end, mirrorLeast, Reach);
        else if (bounded)
            near(k, end, edgeLeast, Reach);
        else
            for (int i = k; i <= end; ++i)
                consider(i);
        k = end + 1;
    }
}

// Every local maximum of the range below Last. In the interior the powers' sums over every
// bin's surroundings are formed at once, a segment at a time at a level of half the segment's
// mean power up to Last's, which settles the floor rule for nearly every local maximum of a
// noise floor, sloping or not, without a look at it alone.
void TPeakSearch::ExamineDense(TSelection& S, TCandidate Last)
{
    const float* m = S.Magnitudes;
    const auto consider = [&](int K) {
        if (Stronger(Last, {K, m[K]}))
            Examine(S, K);
    };
    constexpr int Side = FloorGuard + FloorWidth - 1; // the surroundings reach this far
    constexpr int Segment = 512;
    const int a = std::max(S.First, Side + 1), b = std::min(S.Last, S.N - 1 - Side);
    for (int k = S.First; k <= std::min(S.Last, a - 1); ++k)
        if (IsLocalMaximum(m, k))
            consider(k);
    if (a <= b) {
        if (FPower.size() < size_t(S.N)) {
            FPower.resize(size_t(S.N));
            FSums.resize(size_t(S.N));
            FWork.resize(size_t(S.N));
        }
        float* power = FPower.data();
        const float* sums = FWork.data();
        for (int j = a - Side; j <= b + Side; ++j)
            power[j] = m[j] * m[j];
        S.Power = power;
        for (int first = a; first <= b; first += Segment) {
            const int last = std::min(b, first + Segment - 1);
            const TFloorLevel level =
                S.FloorTest ? SurroundingSums(power, Last.Raw * Last.Raw, first - Side, last + Side,
                                              S.Test.Floor, FSums.data(), FWork.data())
                            : TFloorLevel{0, 0, 0};
            const float below = FloatBelow(level.Power);
            int k = first;
            for (; k + 3 <= last; k += 4) {
                const TLanes v = Load(m + k);
                TLaneMask flag = (v > Load(m + k - 1)) & (v >= Load(m + k + 1));
                if (level.Cap > 0)
                    flag &= ~((Load(sums + k - Side) + Load(sums + k + FloorGuard) > 0) &
                              (Load(power + k) <= below));
                for (unsigned lanes = LaneBits(flag); lanes; lanes &= lanes - 1)
                    consider(k + std::countr_zero(lanes));
            }
            for (; k <= last; ++k)
                if (IsLocalMaximum(m, k) &&
                    !(level.Cap > 0 && sums[k - Side] + sums[k + FloorGuard] > 0 &&
                      power[k] <= below))
                    consider(k);
        }
        S.Power = nullptr;
    }
    for (int k = std::max(a, b + 1); k <= S.Last; ++k)
        if (IsLocalMaximum(m, k))
            consider(k);
}

namespace {

// The nearest peak from bin Start stepping by Step (-1 or +1) up to End inclusive whose
// interpolated magnitude is below Magnitude. A peak within half a bin of Position is the
// marker's own tone.
bool NextPeak(const float* Magnitudes, int N, TDXLeakType Window, double Position, double Magnitude,
              int Start, int End, int Step, TPeak& Peak, const TPeakRules& Rules)
{
    const TPeakTest test(Rules);
    for (int k = Start; Step < 0 ? k >= End : k <= End; k += Step) {
        if (!IsPeakAt(Magnitudes, N, k, test))
            continue;
        const TPeak p = InterpolatePeak(Magnitudes, N, k, Window);
        if (p.Magnitude < Magnitude && (p.Bin - Position) * Step > 0.5) {
            Peak = p;
            return true;
        }
    }
    return false;
}

} // namespace

bool NextPeakLeft(const float* Magnitudes, int N, TDXLeakType Window, double Position,
                  double Magnitude, int First, int Last, TPeak& Peak, const TPeakRules& Rules)
{
    if (!std::isfinite(Position))
        return false;
    const double start = std::min(std::round(Position) - 1.0, double(std::min(Last, N - 2)));
    return start >= 1 && NextPeak(Magnitudes, N, Window, Position, Magnitude, int(start),
                                  std::max(First, 1), -1, Peak, Rules);
}

bool NextPeakRight(const float* Magnitudes, int N, TDXLeakType Window, double Position,
                   double Magnitude, int First, int Last, TPeak& Peak, const TPeakRules& Rules)
{
    if (!std::isfinite(Position))
        return false;
    const double start = std::max(std::round(Position) + 1.0, double(std::max(First, 1)));
    return start <= N - 2 && NextPeak(Magnitudes, N, Window, Position, Magnitude, int(start),
                                      std::min(Last, N - 2), 1, Peak, Rules);
}

bool TrackPeak(const float* Magnitudes, int N, TDXLeakType Window, double Position, TPeak& Peak,
               double Radius, const TPeakRules& Rules)
{
    if (!std::isfinite(Position) || !(Radius >= 0))
        return false;
    // A local maximum lies within half a bin of its interpolated position (a little more with
    // noise), so one bin beyond the radius on each side covers every candidate.
    const int first = int(std::max(1.0, std::floor(Position - Radius) - 1.0));
    const int last = int(std::min(double(N - 2), std::ceil(Position + Radius) + 1.0));
    const TPeakTest test(Rules);
    bool found = false;
    for (int k = first; k <= last; ++k) {
        if (!IsPeakAt(Magnitudes, N, k, test))
            continue;
        const TPeak p = InterpolatePeak(Magnitudes, N, k, Window);
        if (std::fabs(p.Bin - Position) <= Radius && (!found || p.Magnitude > Peak.Magnitude)) {
            Peak = p;
            found = true;
        }
    }
    return found;
}

} // namespace quillex
