#include "FrameProcessor.h"
#include "HoldTraces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
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

} // namespace

// Random frames, depth changes and clears against a plain model: max and min of the frames
// since the last clear, the mean of the newest frames kept, as many as the depth allows (a
// smaller depth drops the oldest for good), everything 0 before a first frame. 37 bins leave a
// tail after the vector loops.
TEST(HoldTraces, FollowAPlainModelThroughDepthChangesAndClears)
{
    const int n = 37;
    std::mt19937 rng(1);
    THoldTraces h;
    h.Configure(n, 5);
    size_t depth = 5;
    int frames = 0;
    std::deque<std::vector<float>> kept;
    std::vector<float> mx(n, 0.0f), mn(n, 0.0f);
    for (int step = 0; step < 600; ++step) {
        const unsigned op = rng() % 16;
        if (op == 0) {
            const int asked = int(rng() % 12); // below 2 counts as 2
            h.SetDepth(asked);
            depth = size_t(std::max(asked, 2));
        } else if (op == 1) {
            h.Clear();
            frames = 0;
            kept.clear();
        } else {
            const std::vector<float> frame = RandomFrames(1, n, rng())[0];
            h.Add(frame.data());
            for (size_t k = 0; k < frame.size(); ++k) {
                mx[k] = frames == 0 ? frame[k] : std::max(mx[k], frame[k]);
                mn[k] = frames == 0 ? frame[k] : std::min(mn[k], frame[k]);
            }
            ++frames;
            kept.push_back(frame);
        }
        while (kept.size() > depth)
            kept.pop_front();
        ASSERT_EQ(h.Frames(), frames);
        ASSERT_EQ(h.AveragedFrames(), int(kept.size()));
        for (int k = 0; k < n; ++k) {
            double sum = 0;
            for (const auto& f : kept)
                sum += f[size_t(k)];
            const double mean = kept.empty() ? 0 : sum / double(kept.size());
            ASSERT_EQ(h.Max()[k], frames == 0 ? 0 : mx[size_t(k)]) << "step " << step;
            ASSERT_EQ(h.Min()[k], frames == 0 ? 0 : mn[size_t(k)]) << "step " << step;
            ASSERT_NEAR(h.Average()[k], mean, 1e-6 * mean) << "step " << step;
        }
    }
    // Depths above 1000 are limited.
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

// NaN and negative magnitudes count as 0, huge ones as the largest kept, in each build.
TEST(HoldTraces, OutOfRangeValuesAndBothBuilds)
{
    const size_t n = 19;
    std::vector<float> in = {std::nanf(""), -5, 0, 1e9f, 3, std::numeric_limits<float>::infinity()};
    std::vector<float> expect = {0, 0, 0, THoldTraces::MaxMagnitude, 3, THoldTraces::MaxMagnitude};
    in.resize(n, 2.0f);
    expect.resize(n, 2.0f);
    std::vector<decltype(&UpdateHoldsPortable)> builds = {UpdateHoldsPortable};
    if (WideLoopsSupported())
        builds.push_back(UpdateHoldsWide);
    for (const auto update : builds) {
        std::vector<float> slot(n), mx(n, 0.0f), mn(n, INFINITY), avg(n);
        std::vector<double> sum(n, 0.0);
        for (const bool full : {false, true})
            update(in.data(), slot.data(), full, mx.data(), mn.data(), sum.data(), avg.data(),
                   int(n), 1);
        EXPECT_EQ(mx, expect);
        EXPECT_EQ(mn, expect);
        EXPECT_EQ(avg, expect);
    }
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
    EXPECT_TRUE(h.Levels(THoldTrace::Average, levels.data(), 0, 20, false));
    EXPECT_TRUE(h.Levels(THoldTrace::Average, levels.data(), n, 0, false)); // an empty range
}
