#pragma once

#include <cstdint>
#include <memory>

// The last frames in memory, raw: each its record stamp, its frame time and its 8192 samples,
// for the seconds before an alarm. Storage belongs to the ring and changes only with its
// length, so pushing a frame allocates nothing.
namespace quillex {

class TFrameRing
{
public:
    // Keeps the last Frames frames from now on (0: none). A new length allocates and drops
    // what the ring held; on failure (std::bad_alloc) the ring keeps its old length and
    // frames. The same length changes nothing.
    void SetLength(int Frames);
    int Length() const { return FLength; }
    int Count() const { return FCount; }
    void Clear() { FCount = 0; }

    // Stamp is what the frame's record carries in a recording (0 for frames without a time
    // mark); Time is the frame's time on a clock that is never set back, which decides what
    // lies within the seconds before an alarm. The oldest frame makes room when the ring is
    // full.
    void Push(double Stamp, double Time, const int16_t* Block);

    // Frame I of the Count() held, 0 the oldest.
    double Stamp(int I) const { return FStamps[Slot(I)]; }
    double Time(int I) const { return FTimes[Slot(I)]; }
    const int16_t* Block(int I) const;

private:
    int Slot(int I) const { return (FNext - FCount + I + FLength) % FLength; }

    int FLength = 0;
    int FCount = 0;
    int FNext = 0; // where the next frame goes
    std::unique_ptr<double[]> FStamps;
    std::unique_ptr<double[]> FTimes;
    std::unique_ptr<int16_t[]> FBlocks;
};

} // namespace quillex
