#include "FrameRing.h"

#include "SpkFile.h"

#include <cstring>

namespace quillex {

void TFrameRing::SetLength(int Frames)
{
    if (Frames < 0)
        Frames = 0;
    if (Frames == FLength)
        return;
    const auto n = static_cast<size_t>(Frames);
    auto stamps = std::make_unique<double[]>(n);
    auto times = std::make_unique<double[]>(n);
    auto blocks = std::make_unique_for_overwrite<int16_t[]>(n * SampleBlockSamples);
    FStamps = std::move(stamps);
    FTimes = std::move(times);
    FBlocks = std::move(blocks);
    FLength = Frames;
    FCount = 0;
    FNext = 0;
}

void TFrameRing::Push(double Stamp, double Time, const int16_t* Block)
{
    if (FLength == 0)
        return;
    FStamps[FNext] = Stamp;
    FTimes[FNext] = Time;
    std::memcpy(FBlocks.get() + size_t(FNext) * SampleBlockSamples, Block, SampleBlockBytes);
    FNext = (FNext + 1) % FLength;
    if (FCount < FLength)
        ++FCount;
}

const int16_t* TFrameRing::Block(int I) const
{
    return FBlocks.get() + size_t(Slot(I)) * SampleBlockSamples;
}

} // namespace quillex
