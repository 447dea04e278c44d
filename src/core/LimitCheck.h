#pragma once

#include "LimitCurve.h"

#include <cstdint>
#include <vector>

// The per-frame limit check: a frame's averaged magnitudes (all N bins, physical order,
// before dB and mirroring) against the curves resampled onto the bins.
//
// The level of a magnitude m is 20*log10(m/16384 + 1e-9). Against a limit u on that scale
// (the level as displayed minus the level offset), the level's excess in dB is
// 20*log10(r) with r = m*A + B, A = 1/(16384*10^(u/20)), B = 1e-9/10^(u/20). With A and
// B worked out per bin when the curves are resampled, a bin is above an upper limit when
// r > 1, below a lower one when r < 1, and the frame's worst bin is the one with the largest
// (smallest) r: no logarithm per bin. Bins without a limit have A = 0, B = 1 and are never
// beyond it. Limits beyond +-200 dBm act as +-200 dBm: a level is never below -180 dBm and
// never near +200 dBm, so which side of the limit it lies on stays the same.
namespace quillex {

struct TLimitKindResult
{
    bool Beyond = false; // some bin is above the upper (below the lower) limit
    int Bin = -1;        // physical bin of the largest excess; the lowest such bin on a tie
    float Ratio = 1;     // r at that bin: its excess is 20*log10(r) (lower: -20*log10(r)) dB
};

struct TLimitFrame
{
    TLimitKindResult Kinds[2];

    const TLimitKindResult& operator[](TLimitKind Kind) const { return Kinds[int(Kind)]; }
    bool AnyBeyond() const { return Kinds[0].Beyond || Kinds[1].Beyond; }
};

class TLimitCheck
{
public:
    // Takes the curves and the grid and resamples; buffers are reallocated only when N
    // changes. Call again whenever the curves, N, the offsets or the mirroring change.
    void Set(const TLimits& Limits, const TLimitGrid& Grid);

    const TLimits& Limits() const { return FLimits; }
    const TLimitGrid& Grid() const { return FGrid; }
    // The curve at every displayed bin on the plot's scale (see ResampleCurve): Grid().N
    // values, NaN where it sets no limit. These are the plot's reference series.
    const float* Displayed(TLimitKind Kind) const { return FKinds[int(Kind)].Displayed.data(); }
    // Some bin has a limit of this kind.
    bool Covers(TLimitKind Kind) const { return FKinds[int(Kind)].Last >= 0; }

    // One frame's check: Grid().N magnitudes in physical order. Allocates nothing.
    const TLimitFrame& Check(const float* Magnitudes);
    // After Check: per displayed bin, bit 1 when it is above the upper limit and bit 2 when
    // below the lower limit (Grid().N values), for drawing the trace's parts beyond them.
    void BeyondMask(uint8_t* Displayed) const;

private:
    struct TKind
    {
        std::vector<float> Displayed;
        std::vector<float> A, B; // physical order
        std::vector<float> R;    // r of the last frame, First .. Last
        int First = 0;
        int Last = -1; // physical bins with a limit lie in First .. Last
    };
    TLimits FLimits;
    TLimitGrid FGrid;
    TKind FKinds[2];
    TLimitFrame FFrame;
};

// The two builds of the check's loop (portable, and AVX2 with FMA, used where the processor
// has it): writes R[k] = A[k]*M[k] + B[k] for k = First .. Last and returns the largest
// (Upper) or smallest R. Public so that tests can check both.
float LimitRatiosPortable(const float* A, const float* B, const float* M, float* R, int First,
                          int Last, bool Upper);
float LimitRatiosWide(const float* A, const float* B, const float* M, float* R, int First, int Last,
                      bool Upper);

} // namespace quillex
