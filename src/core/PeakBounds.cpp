// Bounds on a peak's interpolated magnitude, for the peak search to pass over local maxima
// that cannot make its list.
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
#include "PeakBounds.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace quillex {

namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();
// Relative slack on every bound below, far above the rounding of what it bounds.
constexpr double BoundSlack = 1e-6;

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
    const double sine =
        LeastSine(2 * K - FitReach - 0.5 - shift, 2 * K + FitReach + 0.5 + shift, L);
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
double ReachOf(const TPeakBounds& B, double Envelope)
{
    if (!std::isfinite(Envelope))
        return Infinity;
    const double root3 = std::sqrt(3.0);
    const double spread = B.Spread + 9 * Envelope * Envelope;
    return Sure(std::max(root3 / B.Near, (std::sqrt(3 * spread / (B.Near * B.Near) + 9) + root3) /
                                             (B.Far - root3 * Envelope)));
}

} // namespace

void BuildBounds(const TWindowKernel& Kernel, TPeakBounds& B)
{
    B.Window = Kernel.Window();
    const int n = B.N = Kernel.Bins();
    B.Near = std::sqrt(KernelSquares(Kernel, -1, 1, 0.5, 1024, -1));
    B.Far = std::sqrt(KernelSquares(Kernel, -1, 1, 1.0, 2048, -1));
    B.Spread = KernelSquares(Kernel, -FitReach, FitReach, 0.5, 256, 1);
    // The mirror's envelope, which grows towards the band edges. Bins where it reaches half the
    // tone, or whose nine neighbours leave the spectrum, have no bound; in the zone, where it
    // stays below a hundredth, the zone's largest serves all.
    const double root3 = std::sqrt(3.0);
    const auto envelope = [&](int K) {
        const double e = MirrorEnvelope(Kernel, K);
        return K > FitReach && K < n - 1 - FitReach + 1 && root3 * e < 0.5 * B.Far ? e : Infinity;
    };
    const auto inZone = [&](double E) { return root3 * E <= 0.01 * B.Far; };
    B.LowMirror.assign(size_t(std::min(n, FitReach + 1)), Infinity);
    int first = FitReach + 1;
    for (; first <= n - 1 - FitReach; ++first) {
        const double e = envelope(first);
        if (inZone(e))
            break;
        B.LowMirror.push_back(e);
    }
    B.HighMirror.assign(size_t(std::min(n, FitReach)), Infinity);
    int last = n - 1 - FitReach;
    for (; last >= first; --last) {
        const double e = envelope(last);
        if (inZone(e))
            break;
        B.HighMirror.push_back(e);
    }
    B.ZoneFirst = first;
    B.ZoneLast = last;
    B.ZoneMirror = first <= last ? std::max(envelope(first), envelope(last)) : Infinity;
    B.BoundFirst = FitReach + 1;
    while (B.BoundFirst < first && !std::isfinite(B.LowMirror[size_t(B.BoundFirst)]))
        ++B.BoundFirst;
    B.BoundLast = n - 1 - FitReach;
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

namespace {

// The mirror's envelope at K, infinite where there is no bound.
double MirrorAt(const TPeakBounds& B, int K)
{
    if (K < B.ZoneFirst)
        return B.LowMirror[size_t(K)];
    if (K > B.ZoneLast)
        return B.HighMirror[size_t(B.N - 1 - K)];
    return B.ZoneMirror;
}

// The bound of the mirror's fit from the lone tone's residual over bins K-4..K+4 at worst.
double BoundFromNineBins(const TPeakBounds& B, const float* Magnitudes, int K, double Three,
                         double Lone, double Envelope)
{
    double nine = Three;
    for (int j = 2; j <= FitReach; ++j) {
        const double l = FitMagnitude(Magnitudes, K - j), r = FitMagnitude(Magnitudes, K + j);
        nine += l * l + r * r;
    }
    const double cost = Lone * Lone * (B.Spread + 9 * Envelope * Envelope) + nine;
    return std::max((std::sqrt(cost) + std::sqrt(Three)) / (B.Far - std::sqrt(3.0) * Envelope),
                    Lone);
}

} // namespace

// Where the mirror may be fitted, the lone tone's residual over the three bins is at most their
// distance from (m1 / R(u)) (|R(1 + u)|, R(u), R(1 - u)), u the offset: the ratio of the two
// largest bins places u between two points of the table, and with it the ratios R(1 - u) / R(u)
// and |R(1 + u)| / R(u); at most Spill times the largest bin in any case. Squares and the
// largest bin spare the roots where they settle it.
bool BelowFromBins(const TPeakBounds& B, const float* Magnitudes, int K, double Weakest)
{
    const bool quiet = B.Quiet(K);
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

double BoundFromFit(const TPeakBounds& B, const TFirstFit& F)
{
    const double envelope = MirrorAt(B, F.B.K);
    if (!std::isfinite(envelope))
        return Infinity;
    const double* m = F.B.M + FitReach - 1;
    const double norm = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
    return Sure(std::max((std::sqrt(F.Cost) + norm) / (B.Far - std::sqrt(3.0) * envelope),
                         F.Fit.Magnitude));
}

} // namespace quillex
