#include "FrameProcessor.h"
#include "dxFFT.h"
#include "test_receiver_support.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <numeric>
#include <thread>

using Block = std::array<int16_t, TReceiverAccess::SampleCount>;

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

// Blocks come only while open with acquisition on. The 10 MHz reference carrier follows
// attenuator (a step it lacks is ignored) and preamp; the floor rises toward low
// frequencies and with dither; all of it within the displayed level range. Paced, blocks
// come at the set rate, and after a long pause still one period apart, not catching up.
TEST_F(SimulatedReceiver, StreamsLevelsThatFitTheDisplayAtASteadyPace)
{
    ASSERT_TRUE(Bind());
    Block block;
    block.fill(0x1234);
    Receiver.ReceiverReadBlock(block.data()); // not opened yet
    ASSERT_TRUE(Receiver.ReceiverOpen() && Receiver.ReceiverFirmwareDownload());
    ASSERT_EQ(Receiver.ReceiverFpgaConfig(), "OK");
    Receiver.ReceiverReadBlock(block.data()); // acquisition still off
    EXPECT_EQ(std::count(block.begin(), block.end(), 0x1234), TReceiverAccess::SampleCount);
    Receiver.ReceiverSetAcquisition(true);
    Receiver.ReceiverReadBlock(block.data());
    EXPECT_LT(std::count(block.begin(), block.end(), 0x1234), 10);

    for (int step : {0, 1, 2, 3, 9}) {
        Receiver.ReceiverSetAttenuator(step);
        EXPECT_NEAR(Spectrum()[512], -50.0 - 10 * std::min(step, 3), 0.5) << "step " << step;
    }
    Receiver.ReceiverSetAttenuator(0);
    Receiver.ReceiverSetPreamp(true);
    EXPECT_NEAR(Spectrum()[512], -40.0, 0.5);
    Receiver.ReceiverSetPreamp(false);
    std::vector<float> levels = Spectrum(11, 4);
    const double high = Mean(levels, 36000, 39000), low = Mean(levels, 300, 500);
    EXPECT_TRUE(high > -115.0 && high < -100.0) << high;
    EXPECT_TRUE(low > high + 6.0 && low < -85.0) << low;
    std::sort(levels.begin() + 1, levels.end());
    EXPECT_GT(levels[1], -125.0);
    EXPECT_TRUE(levels.back() > -45.0 && levels.back() < -25.0) << levels.back();
    Receiver.ReceiverSetDither(true);
    const double dithered = Mean(Spectrum(11, 4), 36000, 39000);
    EXPECT_TRUE(dithered > high + 4.0 && dithered < high + 12.0) << dithered;

    setenv("QUILLEX_SIM_BLOCK_RATE", "200", 1);
    const auto elapsed = [&](int blocks) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < blocks; ++i)
            Receiver.ReceiverReadBlock(block.data());
        return std::chrono::steady_clock::now() - start;
    };
    EXPECT_GE(elapsed(21), std::chrono::milliseconds(99));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_GE(elapsed(4), std::chrono::milliseconds(14));

    Receiver.ReceiverClose();
    block.fill(0x1234);
    Receiver.ReceiverReadBlock(block.data());
    EXPECT_EQ(block[0], 0x1234);
}
