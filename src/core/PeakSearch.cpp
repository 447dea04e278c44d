// The peak search: which local maxima are peaks (the floor rule and the fall on either side),
// the strongest peaks of a range with the bounds (PeakBounds) and vector loops that pass over
// the local maxima that cannot make the list, the next peak on either side of a marker, and
// the tracking of a marker's tone. Each peak found is interpolated by the tone fit (ToneFit).
#include "PeakSearch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace quillex {

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
    const TPeakBounds* Bounds;
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
        const bool quiet = S.Bounds->Quiet(K);
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
    const TPeakBounds& b = *S.Bounds;
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
        if (b.Quiet(k))
            near(k, end, quietLeast, 1);
        else if (k >= b.ZoneFirst && k <= b.ZoneLast)
            near(k, end, mirrorLeast, FitReach);
        else if (bounded)
            near(k, end, edgeLeast, FitReach);
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
