#include "FrameProcessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace quillex;

namespace {

double ExactLevel(float avg)
{
    return 20.0 * std::log10(static_cast<double>(avg) / 16384.0 + 1e-9);
}

float LevelOf(float avg)
{
    float level = 0;
    LevelsFromAverages(&avg, &level, 1, false);
    return level;
}

} // namespace

// Every float from the smallest denormal to the largest finite value, in
// steps of a quarter octave plus random mantissas, within 0.001 dB.
TEST(FrameLevels, FastLogarithmStaysWithinAThousandthDecibel)
{
    std::vector<float> inputs = {
        0.0f,      -0.0f, FLT_MIN,  FLT_MAX, std::numeric_limits<float>::denorm_min(),
        16384e-9f, 1.0f,  16384.0f, 8.2e8f,  3.0e6f};
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
    for (int e = -149; e <= 127; ++e) {
        for (float m : {1.0f, 1.1892071f, 1.4142135f, 1.6817928f, 1.9999999f})
            inputs.push_back(std::ldexp(m, e));
        for (int i = 0; i < 40; ++i)
            inputs.push_back(std::ldexp(mantissa(rng), e));
    }
    std::vector<float> levels(inputs.size());
    LevelsFromAverages(inputs.data(), levels.data(), static_cast<int>(inputs.size()), false);
    for (size_t i = 0; i < inputs.size(); ++i)
        ASSERT_NEAR(levels[i], ExactLevel(inputs[i]), 0.001) << "avg " << inputs[i];
}

TEST(FrameLevels, FloorSpecialValuesAndEveryBinWritten)
{
    EXPECT_NEAR(LevelOf(0.0f), -180.0, 0.001);
    // Inputs outside the domain of the formula still give a value for their bin.
    EXPECT_NEAR(LevelOf(-5.0f), -180.0, 0.001);
    EXPECT_NEAR(LevelOf(std::numeric_limits<float>::quiet_NaN()), -180.0, 0.001);
    EXPECT_EQ(LevelOf(std::numeric_limits<float>::infinity()),
              std::numeric_limits<float>::infinity());

    std::vector<float> avg = {1.0f, std::numeric_limits<float>::quiet_NaN(), -1.0f, 16384.0f, 0.0f};
    std::vector<float> levels(avg.size(), 123.0f);
    LevelsFromAverages(avg.data(), levels.data(), 5, false);
    // A bad bin does not stop the conversion: the bins after it are new too.
    EXPECT_NEAR(levels[0], ExactLevel(1.0f), 0.001);
    EXPECT_NEAR(levels[1], -180.0, 0.001);
    EXPECT_NEAR(levels[2], -180.0, 0.001);
    EXPECT_NEAR(levels[3], 0.0, 0.001);
    EXPECT_NEAR(levels[4], -180.0, 0.001);
}

// Lengths around every vector width, so loop tails are covered too.
TEST(FrameLevels, InvertedMirrorsTheSpectrumForAnyLength)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> value(0.0f, 1e6f);
    for (int n = 1; n <= 41; ++n) {
        std::vector<float> avg(n);
        for (float& v : avg)
            v = value(rng);
        std::vector<float> straight(n + 1, 999.0f), mirrored(n + 1, 999.0f);
        LevelsFromAverages(avg.data(), straight.data(), n, false);
        LevelsFromAverages(avg.data(), mirrored.data(), n, true);
        for (int k = 0; k < n; ++k) {
            ASSERT_NEAR(straight[k], ExactLevel(avg[k]), 0.001) << "n " << n << " k " << k;
            ASSERT_EQ(mirrored[k], straight[n - 1 - k]) << "n " << n << " k " << k;
        }
        EXPECT_EQ(straight[n], 999.0f);
        EXPECT_EQ(mirrored[n], 999.0f);
    }
}

TEST(FrameAveraging, RunningAverageMatchesExtendedPrecisionReference)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> value(-5e4f, 5e4f);
    for (int a : {1, 2, 7, 63, 64}) {
        const int n = 37;
        std::vector<float> avg(n, 0.0f);
        for (int frame = 0; frame < 5; ++frame) {
            std::vector<float> mags(n);
            for (float& m : mags)
                m = value(rng);
            std::vector<float> expected(n);
            for (int k = 0; k < n; ++k)
                expected[k] = static_cast<float>(
                    a == 1 ? std::fabs(mags[k]) : ((a - 1.0L) * avg[k] + std::fabs(mags[k])) / a);
            AverageMagnitudes(mags.data(), avg.data(), n, a);
            for (int k = 0; k < n; ++k)
                ASSERT_EQ(avg[k], expected[k]) << "A " << a << " bin " << k;
        }
    }
}

TEST(FrameAveraging, BinZeroUsesTheMagnitudeAndFactorIsLimited)
{
    std::vector<float> mags = {-640.0f, 64.0f};
    std::vector<float> avg = {0.0f, 0.0f};
    AverageMagnitudes(mags.data(), avg.data(), 2, 1);
    EXPECT_EQ(avg[0], 640.0f);
    EXPECT_EQ(avg[1], 64.0f);

    // 64 moves each bin a 64th of the way towards the new magnitude.
    avg = {0.0f, 128.0f};
    AverageMagnitudes(mags.data(), avg.data(), 2, 64);
    EXPECT_EQ(avg[0], 10.0f);
    EXPECT_EQ(avg[1], 127.0f);

    avg = {0.0f, 128.0f};
    AverageMagnitudes(mags.data(), avg.data(), 2, 1000); // as 64
    EXPECT_EQ(avg[0], 10.0f);
    AverageMagnitudes(mags.data(), avg.data(), 2, 0); // as 1
    EXPECT_EQ(avg[0], 640.0f);
    EXPECT_EQ(avg[1], 64.0f);
}

TEST(FrameSamples, ScaleDoublesOnlyTheRequestedSamples)
{
    const std::vector<int16_t> block = {-32768, 32767, 0, -1, 5, 7};
    std::vector<float> input(6, -1.0f);
    ScaleSamples(block.data(), input.data(), 5);
    EXPECT_EQ(input, (std::vector<float>{-65536.0f, 65534.0f, 0.0f, -2.0f, 10.0f, -1.0f}));
}

TEST(FrameRounding, TiesGoToEvenAndExtremesAreClamped)
{
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(0.49999999999999994), 0);
    EXPECT_EQ(RoundHalfEven(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(RoundHalfEven(1e300), INT_MAX);
    EXPECT_EQ(RoundHalfEven(-std::numeric_limits<double>::infinity()), INT_MIN);
    EXPECT_EQ(RoundHalfEven(2147483646.5), 2147483646);

    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> value(-1e6, 1e6);
    for (int i = 0; i < 100000; ++i) {
        const double v = i % 2 ? value(rng) : std::floor(value(rng)) + 0.5;
        ASSERT_EQ(RoundHalfEven(v), static_cast<int>(std::nearbyint(v))) << v;
    }
}

// Each sample is the sine wave plus a whole number of noise steps 0..163.
TEST(FrameDebugSignal, SineWithIntegerNoiseAndUntouchedTail)
{
    std::vector<int16_t> block(8192, 4321);
    std::mt19937 rng(1);
    SynthesizeDebugBlock(block.data(), 512, rng);
    int lowest = INT_MAX, highest = INT_MIN;
    for (int i = 1; i <= 512; ++i) {
        const double sine = std::sin(i * 2.0 * 3.14159265358979323846 / 7.6543) * 327.68 - 82.0;
        const double noise = block[i - 1] - sine;
        ASSERT_GE(noise, -0.5) << i;
        ASSERT_LE(noise, 163.5) << i;
        lowest = std::min(lowest, RoundHalfEven(noise));
        highest = std::max(highest, RoundHalfEven(noise));
    }
    EXPECT_LE(lowest, 5);
    EXPECT_GE(highest, 158);
    EXPECT_TRUE(std::all_of(block.begin() + 512, block.end(), [](int16_t v) { return v == 4321; }));

    std::vector<int16_t> again(512);
    std::mt19937 same(1);
    SynthesizeDebugBlock(again.data(), 512, same);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), block.begin()));
    SynthesizeDebugBlock(again.data(), 512, same);
    EXPECT_FALSE(std::equal(again.begin(), again.end(), block.begin())); // fresh noise per frame
}
