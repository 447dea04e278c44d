#include "FrameProcessor.h"
#include "dxFFT.h"
#include "test_receiver_support.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <numeric>
#include <thread>

namespace {
using Block = std::array<int16_t, TReceiverAccess::SampleCount>;
} // namespace

class SimulatedReceiver : public SimulatedReceiverTest
{
protected:
    // Levels of 2^exponent bins over 0..40 MHz through the program's own spectrum
    // chain (Hann window, magnitudes averaged over `frames` blocks).
    std::vector<float> Spectrum(int exponent = 11, int frames = 8)
    {
        TDXFFT fft;
        fft.setExponent(exponent);
        fft.setLeakFunction(wnHanning);
        const int n = static_cast<int>(fft.Size());
        TDXVector* input = fft.CreateVector(2 * n);
        TDXComplexVector* output = fft.CreateComplexVector(n);
        std::vector<float> average(n), levels(n);
        Block block{};
        for (int frame = 1; frame <= frames; ++frame) {
            Receiver.ReceiverReadBlock(block.data());
            quillex::ScaleSamples(block.data(), input->Values, 2 * n);
            fft.RealFFT(input, output, false);
            quillex::AverageMagnitudes(output->Real->Values, average.data(), n, frame);
        }
        quillex::LevelsFromAverages(average.data(), levels.data(), n, false);
        return levels;
    }

    // Mean level of the bins between two frequencies.
    static double Mean(const std::vector<float>& levels, double lowKHz, double highKHz)
    {
        const double spacing = 40000.0 / levels.size();
        const auto first = levels.begin() + std::lround(lowKHz / spacing);
        const auto last = levels.begin() + std::lround(highKHz / spacing);
        return std::accumulate(first, last, 0.0) / (last - first);
    }
};

TEST_F(SimulatedReceiver, ReferenceCarrierFollowsAttenuatorAndPreamp)
{
    BringUp();
    for (int step = 0; step <= 3; ++step) {
        Receiver.ReceiverSetAttenuator(step);
        EXPECT_NEAR(Spectrum()[512], -50.0 - 10 * step, 0.5) << "attenuator step " << step;
    }
    // A step the receiver does not have leaves the attenuator where it was.
    Receiver.ReceiverSetAttenuator(9);
    EXPECT_NEAR(Spectrum()[512], -80.0, 0.5);
    Receiver.ReceiverSetAttenuator(0);
    Receiver.ReceiverSetPreamp(true);
    EXPECT_NEAR(Spectrum()[512], -40.0, 0.5);
}

// The floor rises toward low frequencies, dither raises it, and the whole spectrum
// fits the displayed level range.
TEST_F(SimulatedReceiver, FloorShapeAndDitherWithinTheDisplayedRange)
{
    BringUp();
    std::vector<float> levels = Spectrum(11, 4);
    const double high = Mean(levels, 36000, 39000);
    const double low = Mean(levels, 300, 500);
    EXPECT_GT(high, -115.0);
    EXPECT_LT(high, -100.0);
    EXPECT_GT(low, high + 6.0);
    EXPECT_LT(low, -85.0);
    std::sort(levels.begin() + 1, levels.end());
    EXPECT_GT(levels[1], -125.0);
    EXPECT_GT(levels.back(), -45.0);
    EXPECT_LT(levels.back(), -25.0);

    Receiver.ReceiverSetDither(true);
    const double dithered = Mean(Spectrum(11, 4), 36000, 39000);
    EXPECT_GT(dithered, high + 4.0);
    EXPECT_LT(dithered, high + 12.0);
}

TEST_F(SimulatedReceiver, MediumWaveIsBusyWithinTheDisplayedLevelRange)
{
    BringUp();
    const std::vector<float> levels = Spectrum(12);
    const double floor = Mean(levels, 1700, 1800);
    int stations = 0;
    float loudest = -200;
    for (int kHz = 531; kHz <= 1602; kHz += 9) { // the channel raster
        const float level = levels[std::lround(kHz * 4096 / 40000.0)];
        stations += level > floor + 10;
        loudest = std::max(loudest, level);
    }
    EXPECT_GE(stations, 20);
    EXPECT_LT(loudest, -25.0);
    EXPECT_GT(loudest, -50.0);
}

TEST_F(SimulatedReceiver, DeliversOnlyWhileStreaming)
{
    ASSERT_TRUE(Bind());
    Block block;
    block.fill(0x1234);
    Receiver.ReceiverReadBlock(block.data()); // not opened yet
    ASSERT_TRUE(Receiver.ReceiverOpen());
    ASSERT_TRUE(Receiver.ReceiverFirmwareDownload());
    ASSERT_EQ(Receiver.ReceiverFpgaConfig(), "OK");
    Receiver.ReceiverReadBlock(block.data()); // acquisition still off
    EXPECT_EQ(std::count(block.begin(), block.end(), 0x1234), TReceiverAccess::SampleCount);

    Receiver.ReceiverSetAcquisition(true);
    Receiver.ReceiverReadBlock(block.data());
    EXPECT_LT(std::count(block.begin(), block.end(), 0x1234), 10);

    Receiver.ReceiverClose();
    block.fill(0x1234);
    Receiver.ReceiverReadBlock(block.data());
    EXPECT_EQ(block[0], 0x1234);
}

TEST_F(SimulatedReceiver, PacesBlocksOnASteadyScheduleWithoutCatchingUp)
{
    using Clock = std::chrono::steady_clock;
    BringUp();
    Block block{};
    setenv("QUILLEX_SIM_BLOCK_RATE", "200", 1);
    const auto start = Clock::now();
    for (int i = 0; i < 21; ++i)
        Receiver.ReceiverReadBlock(block.data());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(99));

    // After a long pause the next blocks still arrive one period apart.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const auto resumed = Clock::now();
    for (int i = 0; i < 4; ++i)
        Receiver.ReceiverReadBlock(block.data());
    EXPECT_GE(Clock::now() - resumed, std::chrono::milliseconds(14));
}
