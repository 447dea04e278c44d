#include "FrameProcessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

using namespace quillex;

namespace {

using TLevels = void (*)(const float*, float*, int, bool);
using TAverage = void (*)(const float*, float*, int, int);

// Both builds of the bin loops where this processor can run them, and the
// choice the program makes.
std::vector<std::pair<TLevels, TAverage>> Builds()
{
    std::vector<std::pair<TLevels, TAverage>> builds = {
        {LevelsFromAveragesPortable, AverageMagnitudesPortable},
        {LevelsFromAverages, AverageMagnitudes}};
    if (WideLoopsSupported())
        builds.emplace_back(LevelsFromAveragesWide, AverageMagnitudesWide);
    return builds;
}

} // namespace

// Every octave from the smallest denormal to the largest float, with random
// mantissas, against the exact formula in double.
TEST(FrameLevels, FastLogarithmStaysWithinAThousandthDecibel)
{
    std::vector<float> inputs = {0.0f, -0.0f, FLT_MAX, 16384e-9f, 16384.0f};
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> mantissa(1.0f, 2.0f);
    for (int e = -149; e <= 127; ++e)
        for (int i = 0; i < 50; ++i)
            inputs.push_back(std::ldexp(i == 0 ? 1.0f : mantissa(rng), e));
    for (const auto& [levelsOf, average] : Builds()) {
        std::vector<float> levels(inputs.size());
        levelsOf(inputs.data(), levels.data(), static_cast<int>(inputs.size()), false);
        for (size_t i = 0; i < inputs.size(); ++i)
            ASSERT_NEAR(levels[i], 20.0 * std::log10(double(inputs[i]) / 16384.0 + 1e-9), 0.001)
                << "avg " << inputs[i];
    }
}

// Lengths around every vector width cover the loop tails; bad inputs still
// give every bin a value.
TEST(FrameLevels, MirroringAndValuesOutsideTheFormula)
{
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> odd = {0.0f, std::numeric_limits<float>::quiet_NaN(), -1.0f, 16384.0f,
                                    inf};
    const std::vector<float> oddLevels = {-180.0f, -180.0f, -180.0f, 0.0f, inf};
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> value(0.0f, 1e6f);
    for (const auto& [levelsOf, average] : Builds()) {
        for (int n = 1; n <= 41; ++n) {
            std::vector<float> avg(n);
            std::generate(avg.begin(), avg.end(), [&] { return value(rng); });
            std::vector<float> straight(n + 1, 999.0f), mirrored(n + 1, 999.0f);
            levelsOf(avg.data(), straight.data(), n, false);
            levelsOf(avg.data(), mirrored.data(), n, true);
            for (int k = 0; k < n; ++k)
                ASSERT_EQ(mirrored[k], straight[n - 1 - k]) << "n " << n << " k " << k;
            EXPECT_TRUE(straight[n] == 999.0f && mirrored[n] == 999.0f) << "wrote past n " << n;
        }
        std::vector<float> levels(odd.size(), 123.0f);
        levelsOf(odd.data(), levels.data(), 5, false);
        for (size_t k = 0; k < odd.size(); ++k)
            EXPECT_TRUE(levels[k] == oddLevels[k] || std::fabs(levels[k] - oddLevels[k]) < 0.001)
                << odd[k];
    }
}

// Signed magnitudes (bin 0 holds a signed mean) count by their size; factors outside
// 1..64 are limited.
TEST(FrameAveraging, RunningAverageOfMagnitudes)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> value(-5e4f, 5e4f);
    for (const auto& [levelsOf, average] : Builds()) {
        for (int a : {1, 2, 7, 63, 64}) {
            std::vector<float> avg(37, 0.0f), mags(37);
            for (int frame = 0; frame < 5; ++frame) {
                std::vector<long double> expected(avg.size());
                for (size_t k = 0; k < avg.size(); ++k) {
                    mags[k] = value(rng);
                    expected[k] = ((a - 1.0L) * avg[k] + std::fabs(mags[k])) / a;
                }
                average(mags.data(), avg.data(), 37, a);
                for (size_t k = 0; k < avg.size(); ++k)
                    ASSERT_NEAR(avg[k], expected[k], expected[k] * 4 * FLT_EPSILON)
                        << "A " << a << " bin " << k;
            }
        }
        const std::vector<float> mags = {-640.0f, 64.0f};
        std::vector<float> avg = {0.0f, 128.0f};
        average(mags.data(), avg.data(), 2, 1000);
        EXPECT_EQ(avg, (std::vector<float>{10.0f, 127.0f}));
        average(mags.data(), avg.data(), 2, 0);
        EXPECT_EQ(avg, (std::vector<float>{640.0f, 64.0f}));
    }
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
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> value(-1e6, 1e6);
    for (int i = 0; i < 100000; ++i) {
        const double v = i % 2 ? value(rng) : std::floor(value(rng)) + 0.5;
        ASSERT_EQ(RoundHalfEven(v), static_cast<int>(std::nearbyint(v))) << v;
    }
    EXPECT_EQ(RoundHalfEven(0.49999999999999994), 0); // adding 0.5 would round it up
    EXPECT_EQ(RoundHalfEven(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(RoundHalfEven(1e300), INT_MAX);
    EXPECT_EQ(RoundHalfEven(-std::numeric_limits<double>::infinity()), INT_MIN);
}

// Each sample is the sine wave plus a whole number of noise steps 0..163.
TEST(FrameDebugSignal, SineWithIntegerNoiseAndUntouchedTail)
{
    std::vector<int16_t> block(8192, 4321);
    std::mt19937 rng(1);
    SynthesizeDebugBlock(block.data(), 512, rng);
    int lowest = INT_MAX, highest = INT_MIN;
    for (int i = 1; i <= 512; ++i) {
        const double noise =
            block[i - 1] - (std::sin(i * 2.0 * std::numbers::pi / 7.6543) * 327.68 - 82.0);
        ASSERT_TRUE(noise >= -0.5 && noise <= 163.5) << i;
        lowest = std::min(lowest, RoundHalfEven(noise));
        highest = std::max(highest, RoundHalfEven(noise));
    }
    EXPECT_TRUE(lowest <= 5 && highest >= 158);
    EXPECT_TRUE(std::all_of(block.begin() + 512, block.end(), [](int16_t v) { return v == 4321; }));
    std::vector<int16_t> next(512);
    SynthesizeDebugBlock(next.data(), 512, rng);
    EXPECT_FALSE(std::equal(next.begin(), next.end(), block.begin())); // fresh noise per frame
}
