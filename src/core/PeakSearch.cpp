#include "PeakSearch.h"

#include "WindowSpectrum.h"

#include <algorithm>
#include <cmath>
#include <limits>
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
double FitCost(const TWindowKernel& Kernel, const TNeighbourhood& B, int Lo, int Hi, const TFit& F)
{
    const TTerms t(Kernel, B.K, F.Offset, Lo, Hi);
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
            const double q = std::sqrt(std::max(1e-300, a * a + b * b + 2 * f.Phase * a * b));
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

TPeak Interpolate(const TWindowKernel& Kernel, const float* Magnitudes, int N, int K)
{
    // Bin 0 holds the mean of the windowed samples, half the scale of the other bins and
    // shifted by any DC offset: it serves only as the left neighbour of bin 1.
    TNeighbourhood b{K, {}, std::max(-Reach, std::min(1 - K, -1)), std::min(Reach, N - 1 - K)};
    // A bin that is not a finite magnitude counts as empty.
    for (int j = b.Lo; j <= b.Hi; ++j) {
        const double v = std::fabs(double(Magnitudes[K + j])) * (K + j == 0 ? 2.0 : 1.0);
        b.M[j + Reach] = std::isfinite(v) ? v : 0.0;
    }
    const double* m = b.M + Reach - 1; // bins K-1..K+1
    if (!(m[1] > 0))
        return {double(K), std::fabs(double(Magnitudes[K])) > 0 ? double(Magnitudes[K]) : 0.0};
    const int side = m[2] > m[0] ? 1 : -1;
    const double ratio = std::min(m[1 + side] / m[1], 1.0);
    TFit fit{0, side * OffsetFromRatio(Kernel, ratio), 0};
    // Least squares over the three bins for the magnitude of a lone tone.
    const TTerms t(Kernel, K, fit.Offset, -1, 1);
    double num = 0, den = 0, mirror = 0;
    for (int j = 0; j < 3; ++j) {
        num += std::fabs(t.A[j]) * m[j];
        den += t.A[j] * t.A[j];
        mirror = std::max(mirror, std::fabs(t.B[j]));
    }
    fit.Magnitude = num / den;
    if (mirror > NegligibleMirror) {
        // Where the mirror can outweigh the difference between the neighbours, the tone may
        // lie on the side of the smaller one. Three bins then fit two tones equally well; the
        // bins beyond tell them apart.
        const bool ambiguous = std::fabs(fit.Offset) < AmbiguousOffset &&
                               4 * mirror * fit.Magnitude > std::fabs(m[2] - m[0]);
        const int lo = ambiguous ? b.Lo : -1, hi = ambiguous ? b.Hi : 1;
        TFit tries[2] = {fit, {fit.Magnitude, -fit.Offset, 0}};
        TFit best = fit;
        double bestCost = FitCost(Kernel, b, lo, hi, fit);
        for (int i = 0; i < (ambiguous ? 2 : 1); ++i) {
            double cost = FitWithMirror(Kernel, b, -1, 1, tries[i]);
            if (ambiguous && std::isfinite(cost))
                cost = FitCost(Kernel, b, lo, hi, tries[i]);
            if (cost < bestCost)
                best = tries[i], bestCost = cost;
        }
        fit = best;
    }
    return {K + fit.Offset, fit.Magnitude};
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

struct TPeakSearch::TSelection
{
    const float* Magnitudes;
    int N;
    const TWindowKernel* Kernel; // null: no interpolation
    double Reach;                // largest interpolated magnitude per magnitude of the bin
    TPeakTest Test;
    double MinMagnitude;
    int Count;
    TPeak* Peaks;
    int Found = 0;
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

} // namespace

bool TPeakSearch::Examine(TSelection& S, TCandidate C)
{
    const double weakest = S.Found == S.Count ? S.Peaks[S.Count - 1].Magnitude : S.MinMagnitude;
    if (C.Raw * S.Reach < weakest)
        return false;
    if (!IsPeakAt(S.Magnitudes, S.N, C.Bin, S.Test))
        return true;
    const TPeak p = S.Kernel ? Interpolate(*S.Kernel, S.Magnitudes, S.N, C.Bin)
                             : TPeak{double(C.Bin), double(C.Raw)};
    const auto before = [&p](const TPeak& q) {
        return p.Magnitude > q.Magnitude || (p.Magnitude == q.Magnitude && p.Bin < q.Bin);
    };
    if (!(p.Magnitude >= S.MinMagnitude) || (S.Found == S.Count && !before(S.Peaks[S.Count - 1])))
        return true;
    int i = S.Found < S.Count ? S.Found++ : S.Count - 1;
    for (; i > 0 && before(S.Peaks[i - 1]); --i)
        S.Peaks[i] = S.Peaks[i - 1];
    S.Peaks[i] = p;
    return true;
}

int TPeakSearch::Strongest(const float* Magnitudes, int N, TDXLeakType Window, int First, int Last,
                           double MinMagnitude, int Count, TPeak* Peaks)
{
    First = std::max(First, 1);
    Last = std::min(Last, N - 2);
    if (Count <= 0 || Peaks == nullptr || First > Last)
        return 0;
    const bool known = Window >= wnRectangle && Window <= wnBlackman;
    std::optional<TWindowKernel> local;
    const TWindowKernel* kernel = known ? KernelFor(Window, N, local) : nullptr;
    // A peak's interpolated magnitude exceeds its largest bin at most by the scalloping (the
    // mirror and noise may add a little), so a bin that far below the weakest peak wanted
    // cannot make the list.
    const double reach = kernel ? kernel->ScallopGain() * 1.05 : 1.0;
    TSelection sel{Magnitudes, N, kernel, reach, TPeakTest(Rules), MinMagnitude, Count, Peaks};
    const float floor = float(MinMagnitude / reach);

    // First the strongest few local maxima, held in order; once there are enough of them,
    // a bin below the weakest is passed over at the cost of one comparison.
    const size_t few = size_t(std::max(2 * Count, 16));
    if (FFew.size() < few)
        FFew.resize(few);
    size_t held = 0;
    for (int k = First; k <= Last; ++k) {
        const float m = Magnitudes[k];
        if (!(m >= floor) || (held == few && !(m > FFew[few - 1].Raw)))
            continue;
        if (!(m > Magnitudes[k - 1] && m >= Magnitudes[k + 1]))
            continue;
        size_t i = held < few ? held++ : few - 1;
        for (; i > 0 && FFew[i - 1].Raw < m; --i)
            FFew[i] = FFew[i - 1];
        FFew[i] = {k, m};
    }
    for (size_t c = 0; c < held; ++c)
        if (!Examine(sel, FFew[c]))
            return sel.Found;
    if (held < few)
        return sel.Found; // every local maximum above the floor has been examined

    // Too few of them were peaks (noise, mostly): every other local maximum may be one, and
    // the weakest in the list rises as it fills.
    const TCandidate last = FFew[few - 1];
    for (int k = First; k <= Last; ++k) {
        const float m = Magnitudes[k];
        if (m >= floor && m > Magnitudes[k - 1] && m >= Magnitudes[k + 1] && Stronger(last, {k, m}))
            Examine(sel, {k, m});
    }
    return sel.Found;
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
