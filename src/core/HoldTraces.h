#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace quillex {

enum class THoldTrace : uint8_t { Max, Min, Average };

// Max hold, min hold and the mean of the last Depth frames, per bin over the whole spectrum, on
// the linear averaged magnitudes of each frame (physical order, before dB and mirroring). A
// frame allocates nothing: the ring of the last Depth frames is sized when the bin count or the
// depth changes.
//
// The running mean never drifts, however long it runs: each magnitude enters the per-bin sum as
// a multiple of 2^-26 (the float rounded to that grid, at most 2^-27 away), and sums of such
// values up to 2^27 are exact in double, so the sum is always exactly that of the frames in the
// ring. Magnitudes are limited to 0..131072, the largest a frame of 16-bit samples can give,
// which keeps 1000 of them below 2^27; NaN and negative values count as 0 (in all three traces).
class THoldTraces
{
public:
    static constexpr int MinDepth = 2;
    static constexpr int MaxDepth = 1000;
    static constexpr float MaxMagnitude = 131072.0f;

    // Sizes the traces for N bins and a mean over Depth frames (limited to MinDepth..MaxDepth)
    // and clears them. N <= 0 leaves no traces.
    void Configure(int N, int Depth);
    // A new depth keeps the newest frames (as many as fit) and max and min; the mean is then
    // that of the frames kept.
    void SetDepth(int Depth);
    // Forgets every frame: the traces read 0 until the next one.
    void Clear();
    // Adds one frame of Bins() magnitudes.
    void Add(const float* Magnitudes);

    int Bins() const { return FBins; }
    int Depth() const { return FDepth; }
    // Frames added since the last Clear (or Configure).
    int64_t Frames() const { return FFrames; }
    // Frames in the mean: min(Frames(), Depth()).
    int AveragedFrames() const { return FStored; }

    const float* Trace(THoldTrace Which) const;
    const float* Max() const { return FMax.data(); }
    const float* Min() const { return FMin.data(); }
    const float* Average() const { return FAverage.data(); }

    // dBm of the displayed bins First..First+Count-1 of a trace into Levels, as
    // LevelsFromAverages shows the live trace (mirrored when Inverted). False, Levels
    // untouched, when the range is not inside 0..Bins()-1.
    bool Levels(THoldTrace Which, float* Levels, int First, int Count, bool Inverted) const;

private:
    float* Slot(int Index) { return FRing.get() + size_t(Index) * size_t(FBins); }

    int FBins = 0;
    int FDepth = MinDepth;
    int64_t FFrames = 0;
    int FStored = 0; // frames in the ring
    int FNext = 0;   // ring slot of the next frame
    std::vector<float> FMax, FMin, FAverage;
    std::vector<double> FSum;
    std::unique_ptr<float[]> FRing;
};

// The builds of the per-frame loop, portable and AVX2 (chosen at run time like the frame
// arithmetic's), public so that tests can check both. Slot is the ring's slot for the new frame;
// when Full it still holds the frame that leaves the mean. Averaged counts the frames in the
// mean after this one.
void UpdateHoldsPortable(const float* Magnitudes, float* Slot, bool Full, float* Max, float* Min,
                         double* Sum, float* Average, int N, int Averaged);
void UpdateHoldsWide(const float* Magnitudes, float* Slot, bool Full, float* Max, float* Min,
                     double* Sum, float* Average, int N, int Averaged);

} // namespace quillex
