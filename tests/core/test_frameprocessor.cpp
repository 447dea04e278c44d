#include "DateTimeU.h"
#include "FrameProcessor.h"
#include "FrameSpectrum.h"
#include "LabelSchedule.h"
#include "dxFFT.h"

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
// mantissas, against the exact formula in double; mirrored, the same levels reversed.
TEST(FrameLevels, WithinAThousandthDecibelMirroredAndForValuesOutsideTheFormula)
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
        // Lengths around every vector width cover the loop tails; bad inputs still give every
        // bin a value.
        std::uniform_real_distribution<float> value(0.0f, 1e6f);
        for (int n = 1; n <= 41; ++n) {
            std::vector<float> avg(n);
            std::generate(avg.begin(), avg.end(), [&] { return value(rng); });
            std::vector<float> straight(n + 1, 999.0f), mirrored(n + 1, 999.0f);
            levelsOf(avg.data(), straight.data(), n, false);
            levelsOf(avg.data(), mirrored.data(), n, true);
            std::reverse(mirrored.begin(), mirrored.begin() + n);
            ASSERT_EQ(mirrored, straight) << "n " << n;
            ASSERT_EQ(straight[n], 999.0f) << "wrote past n " << n;
        }
        const float odd[] = {std::numeric_limits<float>::quiet_NaN(), -1.0f,
                             std::numeric_limits<float>::infinity()};
        levelsOf(odd, levels.data(), 3, false);
        EXPECT_TRUE(std::fabs(levels[0] + 180) < 1e-3 && std::fabs(levels[1] + 180) < 1e-3 &&
                    levels[2] == odd[2]);
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

// Every build, at lengths around each vector width so the loop tails run too.
TEST(FrameSamples, ScaleDoublesOnlyTheRequestedSamples)
{
    using TScale = void (*)(const int16_t*, float*, int);
    std::vector<TScale> builds = {ScaleSamplesPortable, ScaleSamples};
    if (WideLoopsSupported())
        builds.push_back(ScaleSamplesWide);
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<int16_t> block = {-32768, 32767, 0, -1, 5};
    while (block.size() < 80)
        block.push_back(static_cast<int16_t>(sample(rng)));
    for (size_t b = 0; b < builds.size(); ++b)
        for (int count = 0; count <= 70; ++count) {
            std::vector<float> input(block.size(), -1.0f);
            builds[b](block.data(), input.data(), count);
            for (int i = 0; i < static_cast<int>(block.size()); ++i)
                ASSERT_EQ(input[size_t(i)], i < count ? 2.0 * block[size_t(i)] : -1.0)
                    << "build " << b << " count " << count << " sample " << i;
        }
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

static double At(int hour, int minute, int second, int msec = 0)
{
    return EncodeDateTime(2026, 12, 6, hour, minute, second, msec);
}

// Each row: pacing, lowest and highest value of a band, seconds.
TEST(LabelInterval, TableEdges)
{
    using enum TPacing;
    const std::tuple<TPacing, int, int, int> bands[] = {
        {Fast, 20, 100, 1}, {Fast, 10, 19, 2},   {Fast, 4, 9, 5},    {Fast, 2, 3, 10},
        {Fast, 0, 1, 15},   {Fast, 101, 500, 1}, {Slow, 1, 1, 15},   {Slow, 2, 2, 30},
        {Slow, 3, 3, 60},   {Slow, 4, 7, 120},   {Slow, 8, 15, 300}, {Slow, 16, 60, 600},
        {Sync, 1, 100, 1}};
    for (const auto& [pacing, low, high, seconds] : bands) {
        EXPECT_EQ(LabelIntervalSeconds(pacing, low), seconds) << low;
        EXPECT_EQ(LabelIntervalSeconds(pacing, high), seconds) << high;
    }
}

// Seven frames per second label every five seconds; on a boundary the label is due
// at once; just before midnight the next label falls on the next day; a label is due
// from its moment on.
TEST(LabelAlignment, NextBoundaryOfTheInterval)
{
    const double five = SecondsToDays(LabelIntervalSeconds(TPacing::Fast, 7));
    const double boundary = At(10, 17, 25);
    EXPECT_TRUE(IsDue(boundary, FirstAlignedLabelDue(boundary, five)));
    EXPECT_EQ(FirstAlignedLabelDue(boundary, five), boundary);
    EXPECT_TRUE(IsDue(At(10, 17, 25, 1), boundary));
    EXPECT_FALSE(IsDue(At(10, 17, 24, 999), boundary));
    // No endless stepping for intervals that never advance.
    for (double interval : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(FirstAlignedLabelDue(boundary, interval), boundary) << interval;
}

// Over many moments: the label falls on a multiple of the interval past the
// minute, not before now and less than one interval after it.
TEST(LabelAlignment, AlignedWithinOneIntervalForAnyMoment)
{
    std::mt19937_64 rng(2026);
    std::uniform_real_distribution<double> moment(36000.0, 47000.0);
    for (int i = 0; i < 20000; ++i) {
        const double now = moment(rng);
        for (double seconds : {1.0, 2.0, 5.0, 10.0, 15.0}) {
            const double due = FirstAlignedLabelDue(now, SecondsToDays(seconds));
            const double ahead = (due - now) * 86400.0;
            ASSERT_GE(ahead, -2e-6) << now;
            ASSERT_LT(ahead, seconds) << now;
            const double secondOfDay = (due - std::floor(now)) * 86400.0;
            ASSERT_LT(std::fabs(std::remainder(secondOfDay, seconds)), 1e-4)
                << now << " " << seconds;
        }
    }
}

// A block goes through the FFT only into vectors of the FFT's size; anything else is refused
// untouched, as a frame the caller has to drop.
TEST(FrameSpectrum, OnlyVectorsOfTheFftsSizeAreFilled)
{
    TDXFFT fft;
    fft.setExponent(8);
    const int n = int(fft.Size());
    std::vector<int16_t> block(8192, 100);
    TDXVector* in = fft.CreateVector(2 * n);
    TDXVector* shortIn = fft.CreateVector(2 * n - 1);
    TDXComplexVector* out = fft.CreateComplexVector(n);
    TDXComplexVector* shortOut = fft.CreateComplexVector(n - 1);
    TDXVector empty(0); // no values, whatever its count says
    empty.Count = 2 * n;
    EXPECT_TRUE(TransformBlock(block.data(), fft, in, out));
    EXPECT_GT(out->Real->Values[0], 0); // the block's mean
    out->Real->Values[0] = -1;
    for (const auto& [input, output] : {std::pair{in, (TDXComplexVector*)nullptr},
                                        {nullptr, out},
                                        {shortIn, out},
                                        {&empty, out},
                                        {in, shortOut}})
        EXPECT_FALSE(TransformBlock(block.data(), fft, input, output));
    EXPECT_EQ(out->Real->Values[0], -1);
    fft.FreeVector(in);
    fft.FreeVector(shortIn);
    fft.FreeComplexVector(out);
    fft.FreeComplexVector(shortOut);
    empty.Count = 0;
}
