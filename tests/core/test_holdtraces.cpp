#include "FrameProcessor.h"
#include "HoldTraces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace quillex;

namespace {

using TFrames = std::vector<std::vector<float>>;

TFrames RandomFrames(int Count, int N, uint32_t Seed)
{
    std::mt19937 rng(Seed);
    std::exponential_distribution<float> noise(0.02f);
    TFrames frames(size_t(Count), std::vector<float>(size_t(N), 0.0f));
    for (auto& f : frames)
        for (float& v : f)
            v = noise(rng);
    return frames;
}

// Max, min and mean of frames First..Last-1 per bin, computed directly.
void ExpectTraces(const THoldTraces& H, const TFrames& Frames, size_t HoldFrom, size_t MeanFrom,
                  size_t End)
{
    for (int k = 0; k < H.Bins(); ++k) {
        float mx = 0, mn = std::numeric_limits<float>::infinity();
        for (size_t f = HoldFrom; f < End; ++f) {
            mx = std::max(mx, Frames[f][size_t(k)]);
            mn = std::min(mn, Frames[f][size_t(k)]);
        }
        double sum = 0;
        for (size_t f = MeanFrom; f < End; ++f)
            sum += Frames[f][size_t(k)];
        ASSERT_EQ(H.Max()[k], mx) << "bin " << k;
        ASSERT_EQ(H.Min()[k], mn) << "bin " << k;
        ASSERT_NEAR(H.Average()[k], sum / double(End - MeanFrom),
                    1e-6 * sum / double(End - MeanFrom))
            << "bin " << k << " frames " << MeanFrom << ".." << End;
    }
}

} // namespace

// Max, min and the mean of the last K frames, while the ring fills, wraps several times, and
// across an odd bin count that leaves a tail after the vector loops.
TEST(HoldTraces, MaxMinAndMeanOfTheLastFrames)
{
    const int n = 37, depth = 5;
    const TFrames frames = RandomFrames(23, n, 1);
    THoldTraces h;
    h.Configure(n, depth);
    for (size_t f = 0; f < frames.size(); ++f) {
        h.Add(frames[f].data());
        ExpectTraces(h, frames, 0, f + 1 > depth ? f + 1 - depth : 0, f + 1);
        EXPECT_EQ(h.AveragedFrames(), std::min<int>(int(f) + 1, depth));
    }
    EXPECT_EQ(h.Frames(), 23);
}

TEST(HoldTraces, ClearAndDepthChanges)
{
    const int n = 16;
    const TFrames frames = RandomFrames(30, n, 2);
    THoldTraces h;
    h.Configure(n, 10);
    for (size_t f = 0; f < 14; ++f)
        h.Add(frames[f].data());
    // Fewer frames: the newest 4 remain in the mean; max and min keep all 14.
    h.SetDepth(4);
    ExpectTraces(h, frames, 0, 10, 14);
    h.Add(frames[14].data());
    ExpectTraces(h, frames, 0, 11, 15);
    // More frames than kept: the mean grows again from the 4 kept.
    h.SetDepth(8);
    EXPECT_EQ(h.AveragedFrames(), 4);
    for (size_t f = 15; f < 20; ++f)
        h.Add(frames[f].data());
    ExpectTraces(h, frames, 0, 12, 20);
    h.Clear();
    EXPECT_EQ(h.Frames(), 0);
    for (int k = 0; k < n; ++k)
        ASSERT_EQ(h.Max()[k] + h.Min()[k] + h.Average()[k], 0.0f);
    for (size_t f = 20; f < 30; ++f)
        h.Add(frames[f].data());
    ExpectTraces(h, frames, 20, 22, 30);
    // Depths outside 2..1000 are limited.
    h.SetDepth(1);
    EXPECT_EQ(h.Depth(), 2);
    h.Configure(n, 5000);
    EXPECT_EQ(h.Depth(), 1000);
}

// Hours of frames must not leave a trace in the mean: after a long run of frames of every
// size, strong and weak, the mean of the last ones is theirs alone, to the rounding of the
// result (a running sum in float, or in double with what leaves rounded otherwise than what
// came in, would be off by orders of magnitude here).
TEST(HoldTraces, MeanDoesNotDriftOverLongRuns)
{
    const int n = 8, depth = 3;
    THoldTraces h;
    h.Configure(n, depth);
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
    std::uniform_int_distribution<int> exponent(-12, 16);
    std::vector<float> frame(static_cast<size_t>(n));
    for (int f = 0; f < 200000; ++f) {
        for (float& v : frame)
            v = std::ldexp(mantissa(rng), exponent(rng));
        h.Add(frame.data());
    }
    const float weak[3] = {1.25e-3f, 3e-4f, 7.7e-3f};
    for (float w : weak) {
        std::fill(frame.begin(), frame.end(), w);
        h.Add(frame.data());
    }
    const double mean = (double(weak[0]) + weak[1] + weak[2]) / 3;
    for (int k = 0; k < n; ++k)
        EXPECT_NEAR(h.Average()[k], mean, 1e-7 * mean + 1e-8) << k;
}

TEST(HoldTraces, OutOfRangeValuesAndBothBuilds)
{
    const int n = 19;
    std::vector<float> in = {std::nanf(""), -5, 0, 1e9f, 3, std::numeric_limits<float>::infinity()};
    in.resize(static_cast<size_t>(n), 2.0f);
    std::vector<float> expect = {0, 0, 0, THoldTraces::MaxMagnitude, 3, THoldTraces::MaxMagnitude};
    expect.resize(static_cast<size_t>(n), 2.0f);
    auto run = [&](auto update) {
        std::vector<float> slot(static_cast<size_t>(n)), mx(static_cast<size_t>(n), 0.0f),
            mn(static_cast<size_t>(n), std::numeric_limits<float>::infinity()),
            avg(static_cast<size_t>(n));
        std::vector<double> sum(static_cast<size_t>(n), 0.0);
        update(in.data(), slot.data(), false, mx.data(), mn.data(), sum.data(), avg.data(), n, 1);
        update(in.data(), slot.data(), true, mx.data(), mn.data(), sum.data(), avg.data(), n, 1);
        for (int k = 0; k < n; ++k) {
            EXPECT_EQ(mx[size_t(k)], expect[size_t(k)]) << k;
            EXPECT_EQ(mn[size_t(k)], expect[size_t(k)]) << k;
            EXPECT_EQ(avg[size_t(k)], expect[size_t(k)]) << k;
        }
    };
    run(UpdateHoldsPortable);
    if (WideLoopsSupported())
        run(UpdateHoldsWide);
}

// The displayed bins of a trace, mirrored or not, read like the level formula on the physical
// bins they show.
TEST(HoldTraces, LevelsOfADisplayedRange)
{
    const int n = 64;
    const TFrames frames = RandomFrames(3, n, 5);
    THoldTraces h;
    h.Configure(n, 2);
    for (const auto& f : frames)
        h.Add(f.data());
    std::vector<float> levels(20, 99.0f);
    for (bool inverted : {false, true}) {
        ASSERT_TRUE(h.Levels(THoldTrace::Max, levels.data(), 10, 20, inverted));
        for (int d = 0; d < 20; ++d) {
            const int physical = inverted ? n - 1 - (10 + d) : 10 + d;
            EXPECT_NEAR(levels[size_t(d)], 20 * std::log10(h.Max()[physical] / 16384.0 + 1e-9),
                        0.001)
                << d << " " << inverted;
        }
    }
    EXPECT_FALSE(h.Levels(THoldTrace::Min, levels.data(), 50, 20, false));
    EXPECT_FALSE(h.Levels(THoldTrace::Min, levels.data(), -1, 20, false));
    EXPECT_TRUE(h.Levels(THoldTrace::Average, levels.data(), 44, 20, true));
}
