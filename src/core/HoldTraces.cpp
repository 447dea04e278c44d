#include "HoldTraces.h"

#include "FrameProcessor.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace quillex {

namespace {

constexpr double GridScale = 67108864.0; // 2^26
constexpr double GridStep = 1.0 / GridScale;
// Adding and subtracting 1.5 * 2^52 rounds a double below 2^51 to an integer, branch-free and
// in vector registers.
constexpr double RoundingBias = 6755399441055744.0;

// Condition ? A : B with bit masks: the compiler keeps float conditionals as branches, which
// stop the loop from vectorising.
inline float Select(bool Condition, float A, float B)
{
    const int32_t mask = -static_cast<int32_t>(Condition);
    return std::bit_cast<float>((std::bit_cast<int32_t>(A) & mask) |
                                (std::bit_cast<int32_t>(B) & ~mask));
}

// NaN and negative values give 0.
inline float Sanitized(float M)
{
    M = Select(M > 0.0f, M, 0.0f);
    return Select(M < THoldTraces::MaxMagnitude, M, THoldTraces::MaxMagnitude);
}

inline double OnGrid(float M)
{
    return ((double(M) * GridScale + RoundingBias) - RoundingBias) * GridStep;
}

template <bool Full>
inline void HoldLoop(const float* __restrict Magnitudes, float* __restrict Slot,
                     float* __restrict Max, float* __restrict Min, double* __restrict Sum,
                     float* __restrict Average, int N, double Scale)
{
    for (int k = 0; k < N; ++k) {
        const float m = Sanitized(Magnitudes[k]);
        const double leaving = Full ? OnGrid(Slot[k]) : 0.0;
        Sum[k] += OnGrid(m) - leaving;
        Slot[k] = m;
        Max[k] = Select(m > Max[k], m, Max[k]);
        Min[k] = Select(m < Min[k], m, Min[k]);
        Average[k] = float(Sum[k] * Scale);
    }
}

inline void HoldUpdate(const float* Magnitudes, float* Slot, bool Full, float* Max, float* Min,
                       double* Sum, float* Average, int N, int Averaged)
{
    const double scale = 1.0 / double(std::max(Averaged, 1));
    if (Full)
        HoldLoop<true>(Magnitudes, Slot, Max, Min, Sum, Average, N, scale);
    else
        HoldLoop<false>(Magnitudes, Slot, Max, Min, Sum, Average, N, scale);
}

} // namespace

#if defined(__x86_64__) && defined(__GNUC__)
#define QX_WIDE_TARGET __attribute__((target("arch=x86-64-v3")))
#else
#define QX_WIDE_TARGET
#endif

void UpdateHoldsPortable(const float* Magnitudes, float* Slot, bool Full, float* Max, float* Min,
                         double* Sum, float* Average, int N, int Averaged)
{
    HoldUpdate(Magnitudes, Slot, Full, Max, Min, Sum, Average, N, Averaged);
}

QX_WIDE_TARGET void UpdateHoldsWide(const float* Magnitudes, float* Slot, bool Full, float* Max,
                                    float* Min, double* Sum, float* Average, int N, int Averaged)
{
    HoldUpdate(Magnitudes, Slot, Full, Max, Min, Sum, Average, N, Averaged);
}

void THoldTraces::Configure(int N, int Depth)
{
    FBins = std::max(N, 0);
    FDepth = std::clamp(Depth, MinDepth, MaxDepth);
    FMax.assign(size_t(FBins), 0.0f);
    FMin.assign(size_t(FBins), 0.0f);
    FAverage.assign(size_t(FBins), 0.0f);
    FSum.assign(size_t(FBins), 0.0);
    FRing = std::make_unique<float[]>(size_t(FBins) * size_t(FDepth));
    Clear();
}

void THoldTraces::SetDepth(int Depth)
{
    Depth = std::clamp(Depth, MinDepth, MaxDepth);
    if (Depth == FDepth)
        return;
    const int keep = std::min(FStored, Depth);
    auto ring = std::make_unique<float[]>(size_t(FBins) * size_t(Depth));
    // Oldest kept frame first, so the new ring is in order from slot 0.
    for (int i = 0; i < keep; ++i) {
        const int from = ((FNext - keep + i) % FDepth + FDepth) % FDepth;
        std::memcpy(ring.get() + size_t(i) * size_t(FBins), Slot(from),
                    size_t(FBins) * sizeof(float));
    }
    FRing = std::move(ring);
    FDepth = Depth;
    FStored = keep;
    FNext = keep % Depth;
    std::fill(FSum.begin(), FSum.end(), 0.0);
    for (int i = 0; i < keep; ++i) {
        const float* frame = Slot(i);
        for (int k = 0; k < FBins; ++k)
            FSum[size_t(k)] += OnGrid(frame[k]);
    }
    const double scale = 1.0 / double(std::max(keep, 1));
    for (int k = 0; k < FBins; ++k)
        FAverage[size_t(k)] = float(FSum[size_t(k)] * scale);
}

void THoldTraces::Clear()
{
    FFrames = 0;
    FStored = 0;
    FNext = 0;
    std::fill(FMax.begin(), FMax.end(), 0.0f);
    std::fill(FMin.begin(), FMin.end(), 0.0f);
    std::fill(FAverage.begin(), FAverage.end(), 0.0f);
    std::fill(FSum.begin(), FSum.end(), 0.0);
}

void THoldTraces::Add(const float* Magnitudes)
{
    if (FBins == 0 || Magnitudes == nullptr)
        return;
    if (FFrames == 0) {
        // Max and min start from the first frame itself.
        std::fill(FMin.begin(), FMin.end(), std::numeric_limits<float>::infinity());
    }
    const bool full = FStored == FDepth;
    if (!full)
        ++FStored;
    float* slot = Slot(FNext);
    FNext = (FNext + 1) % FDepth;
    ++FFrames;
    if (WideLoopsSupported())
        UpdateHoldsWide(Magnitudes, slot, full, FMax.data(), FMin.data(), FSum.data(),
                        FAverage.data(), FBins, FStored);
    else
        UpdateHoldsPortable(Magnitudes, slot, full, FMax.data(), FMin.data(), FSum.data(),
                            FAverage.data(), FBins, FStored);
}

const float* THoldTraces::Trace(THoldTrace Which) const
{
    switch (Which) {
    case THoldTrace::Max:
        return Max();
    case THoldTrace::Min:
        return Min();
    default:
        return Average();
    }
}

bool THoldTraces::Levels(THoldTrace Which, float* Levels, int First, int Count, bool Inverted) const
{
    if (Levels == nullptr || First < 0 || Count < 0 || First > FBins - Count)
        return false;
    // Displayed bin d shows physical bin N-1-d when inverted: the displayed range maps onto
    // the physical range ending at N-1-First, read backwards.
    const int start = Inverted ? FBins - First - Count : First;
    LevelsFromAverages(Trace(Which) + start, Levels, Count, Inverted);
    return true;
}

} // namespace quillex
