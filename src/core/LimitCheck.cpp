#include "LimitCheck.h"

#include "FrameProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace quillex {

namespace {

constexpr double LimitRangeDb = 200.0;

// The loop on vectors of the compiler's own, of four floats for the portable build (SSE) and
// eight for the wide one (AVX). The running extreme is picked with a mask, which keeps it
// where r is NaN. Always inlined, so each build compiles it for its own instructions.
typedef float TVec4 __attribute__((vector_size(16)));
typedef int32_t TMask4 __attribute__((vector_size(16)));
typedef float TVec8 __attribute__((vector_size(32)));
typedef int32_t TMask8 __attribute__((vector_size(32)));

template <class TVec, class TMask, bool Upper>
[[gnu::always_inline]] inline float RatioLoop(const float* __restrict A, const float* __restrict B,
                                              const float* __restrict M, float* __restrict R,
                                              int First, int Last)
{
    constexpr int width = sizeof(TVec) / sizeof(float);
    const float start =
        Upper ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
    TVec e0 = start - TVec{};
    TVec e1 = e0;
    int k = First;
    for (; k + 2 * width <= Last + 1; k += 2 * width) {
        TVec a0, a1, b0, b1, m0, m1;
        std::memcpy(&a0, A + k, sizeof a0);
        std::memcpy(&a1, A + k + width, sizeof a1);
        std::memcpy(&b0, B + k, sizeof b0);
        std::memcpy(&b1, B + k + width, sizeof b1);
        std::memcpy(&m0, M + k, sizeof m0);
        std::memcpy(&m1, M + k + width, sizeof m1);
        const TVec r0 = a0 * m0 + b0;
        const TVec r1 = a1 * m1 + b1;
        std::memcpy(R + k, &r0, sizeof r0);
        std::memcpy(R + k + width, &r1, sizeof r1);
        const TMask take0 = Upper ? (r0 > e0) : (r0 < e0);
        const TMask take1 = Upper ? (r1 > e1) : (r1 < e1);
        e0 = TVec((TMask(r0) & take0) | (TMask(e0) & ~take0));
        e1 = TVec((TMask(r1) & take1) | (TMask(e1) & ~take1));
    }
    float extreme = start;
    for (int j = 0; j < width; ++j) {
        extreme = Upper ? std::max({extreme, e0[j], e1[j]}) : std::min({extreme, e0[j], e1[j]});
    }
    for (; k <= Last; ++k) {
        const float r = A[k] * M[k] + B[k];
        R[k] = r;
        extreme = Upper ? (r > extreme ? r : extreme) : (r < extreme ? r : extreme);
    }
    return extreme;
}

} // namespace

#if defined(__x86_64__) && defined(__GNUC__)
#define QX_LIMIT_WIDE_TARGET __attribute__((target("arch=x86-64-v3")))
#else
#define QX_LIMIT_WIDE_TARGET
#endif

float LimitRatiosPortable(const float* A, const float* B, const float* M, float* R, int First,
                          int Last, bool Upper)
{
    return Upper ? RatioLoop<TVec4, TMask4, true>(A, B, M, R, First, Last)
                 : RatioLoop<TVec4, TMask4, false>(A, B, M, R, First, Last);
}

QX_LIMIT_WIDE_TARGET float LimitRatiosWide(const float* A, const float* B, const float* M, float* R,
                                           int First, int Last, bool Upper)
{
    return Upper ? RatioLoop<TVec8, TMask8, true>(A, B, M, R, First, Last)
                 : RatioLoop<TVec8, TMask8, false>(A, B, M, R, First, Last);
}

void TLimitCheck::Set(const TLimits& Limits, const TLimitGrid& Grid)
{
    FLimits = Limits;
    FGrid = Grid;
    const auto n = static_cast<size_t>(std::max(Grid.N, 0));
    for (int kind = 0; kind < 2; ++kind) {
        TKind& k = FKinds[kind];
        for (std::vector<float>* v : {&k.Displayed, &k.A, &k.B, &k.R})
            if (v->size() != n)
                *v = std::vector<float>(n);
        ResampleCurve(Limits.Curve(TLimitKind(kind)), Grid, k.Displayed.data());
        k.First = Grid.N;
        k.Last = -1;
        for (int d = 0; d < Grid.N; ++d) {
            const int p = Grid.PhysicalBin(d);
            const float u = k.Displayed[d];
            if (std::isnan(u)) {
                k.A[p] = 0;
                k.B[p] = 1;
                continue;
            }
            const double scale =
                std::pow(10.0, std::clamp(double(u), -LimitRangeDb, LimitRangeDb) / 20.0);
            k.A[p] = static_cast<float>(1.0 / (16384.0 * scale));
            k.B[p] = static_cast<float>(1e-9 / scale);
            k.First = std::min(k.First, p);
            k.Last = std::max(k.Last, p);
        }
    }
    FFrame = {};
}

const TLimitFrame& TLimitCheck::Check(const float* Magnitudes)
{
    static const bool wide = WideLoopsSupported();
    for (int kind = 0; kind < 2; ++kind) {
        TKind& k = FKinds[kind];
        TLimitKindResult& result = FFrame.Kinds[kind];
        result = {};
        if (k.Last < k.First)
            continue;
        const bool upper = kind == int(TLimitKind::Upper);
        const float extreme = wide ? LimitRatiosWide(k.A.data(), k.B.data(), Magnitudes, k.R.data(),
                                                     k.First, k.Last, upper)
                                   : LimitRatiosPortable(k.A.data(), k.B.data(), Magnitudes,
                                                         k.R.data(), k.First, k.Last, upper);
        if (upper ? !(extreme > 1.0f) : !(extreme < 1.0f))
            continue;
        result.Beyond = true;
        result.Ratio = extreme;
        result.Bin = static_cast<int>(
            std::find(k.R.begin() + k.First, k.R.begin() + k.Last + 1, extreme) - k.R.begin());
    }
    return FFrame;
}

void TLimitCheck::BeyondMask(uint8_t* Displayed) const
{
    for (int d = 0; d < FGrid.N; ++d) {
        const int p = FGrid.PhysicalBin(d);
        uint8_t bits = 0;
        for (int kind = 0; kind < 2; ++kind) {
            const TKind& k = FKinds[kind];
            if (!FFrame.Kinds[kind].Beyond || p < k.First || p > k.Last)
                continue;
            if (kind == int(TLimitKind::Upper) ? k.R[p] > 1.0f : k.R[p] < 1.0f)
                bits |= uint8_t(1 << kind);
        }
        Displayed[d] = bits;
    }
}

} // namespace quillex
