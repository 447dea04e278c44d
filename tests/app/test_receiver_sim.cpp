#include "FrameProcessor.h"
#include "dxFFT.h"
#include "test_receiver_support.h"

#include <array>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

using Block = std::array<int16_t, TReceiverAccess::SampleCount>;
constexpr double SampleRateKHz = 80000.0;

// Magnitude of one frequency as the spectrum view measures it: the first
// `count` samples doubled, Hann-windowed, scaled so a sine of amplitude A reads
// A / 2.
double Magnitude(const Block& block, int count, double kHz)
{
    const double pi = std::acos(-1.0);
    const double step = 2 * pi * kHz / SampleRateKHz;
    double re = 0, im = 0;
    for (int n = 0; n < count; ++n) {
        const double window = 0.5 - 0.5 * std::cos(2 * pi * n / (count - 1));
        const double value = 2.0 * block[n] * window;
        re += value * std::cos(step * n);
        im -= value * std::sin(step * n);
    }
    return 2.0 * std::hypot(re, im) / count;
}

double Dbm(double magnitude)
{
    return 20 * std::log10(magnitude / 16384 + 1e-9);
}

} // namespace

class SimulatedReceiver : public SimulatedReceiverTest
{
protected:
    // Level at each frequency, magnitudes averaged over `frames` blocks as the
    // averaging control does.
    std::vector<double> Levels(const std::vector<double>& kHz, int count = 8192, int frames = 8)
    {
        std::vector<double> sums(kHz.size(), 0.0);
        Block block{};
        for (int frame = 0; frame < frames; ++frame) {
            Receiver.ReceiverReadBlock(block.data());
            for (size_t i = 0; i < kHz.size(); ++i)
                sums[i] += Magnitude(block, count, kHz[i]);
        }
        std::vector<double> levels;
        for (double sum : sums)
            levels.push_back(Dbm(sum / frames));
        return levels;
    }

    double Level(double kHz) { return Levels({kHz})[0]; }

    // Mean level of the bins of a count / 2 bin spectrum between two frequencies.
    double Floor(double lowKHz, double highKHz, int count = 8192)
    {
        std::vector<double> bins;
        const double spacing = SampleRateKHz / count;
        for (double f = std::ceil(lowKHz / spacing) * spacing; f <= highKHz; f += spacing)
            bins.push_back(f);
        double sum = 0;
        for (double level : Levels(bins, count, 4))
            sum += level;
        return sum / bins.size();
    }
};

TEST_F(SimulatedReceiver, ReferenceCarrierFollowsAttenuatorAndPreamp)
{
    BringUp();
    for (int step = 0; step <= 3; ++step) {
        Receiver.ReceiverSetAttenuator(step);
        EXPECT_NEAR(Level(10000), -50.0 - 10 * step, 0.5) << "attenuator step " << step;
    }
    // A step the receiver does not have leaves the attenuator where it was.
    Receiver.ReceiverSetAttenuator(9);
    EXPECT_NEAR(Level(10000), -80.0, 0.5);
    Receiver.ReceiverSetAttenuator(0);
    Receiver.ReceiverSetPreamp(true);
    EXPECT_NEAR(Level(10000), -40.0, 0.5);
}

TEST_F(SimulatedReceiver, FloorRisesTowardLowFrequenciesAndDitherRaisesIt)
{
    BringUp();
    // 2048 bins, the window's default size.
    const double high = Floor(36000, 39000, 4096);
    const double low = Floor(300, 500, 4096);
    EXPECT_GT(high, -115.0);
    EXPECT_LT(high, -100.0);
    EXPECT_GT(low, high + 6.0);
    EXPECT_LT(low, -85.0);

    Receiver.ReceiverSetDither(true);
    const double dithered = Floor(36000, 39000, 4096);
    EXPECT_GT(dithered, high + 4.0);
    EXPECT_LT(dithered, high + 12.0);
}

TEST_F(SimulatedReceiver, MediumWaveIsBusyWithinTheDisplayedLevelRange)
{
    BringUp();
    std::vector<double> channels;
    for (double f = 531; f <= 1602; f += 9)
        channels.push_back(f);
    const auto levels = Levels(channels);
    const double floor = Floor(1700, 1800);
    int stations = 0;
    double loudest = -200;
    for (double level : levels) {
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

TEST_F(SimulatedReceiver, LevelsFitTheDisplayThroughTheProgramsSpectrumChain)
{
    BringUp();
    TDXFFT fft;
    fft.setExponent(11);
    fft.setLeakFunction(wnHanning);
    const int n = static_cast<int>(fft.Size());
    TDXVector* input = fft.CreateVector(2 * n);
    TDXComplexVector* output = fft.CreateComplexVector(n);
    std::vector<float> average(n), levels(n);
    Block block{};
    for (int frame = 1; frame <= 8; ++frame) {
        Receiver.ReceiverReadBlock(block.data());
        quillex::ScaleSamples(block.data(), input->Values, 2 * n);
        fft.RealFFT(input, output, false);
        quillex::AverageMagnitudes(output->Real->Values, average.data(), n, frame);
    }
    quillex::LevelsFromAverages(average.data(), levels.data(), n, false);

    EXPECT_NEAR(levels[n / 4], -50.0, 0.5); // the 10 MHz reference carrier
    std::vector<float> sorted(levels.begin() + 1, levels.end());
    std::sort(sorted.begin(), sorted.end());
    EXPECT_GT(sorted.front(), -125.0);
    EXPECT_GT(sorted[sorted.size() / 2], -115.0);
    EXPECT_LT(sorted[sorted.size() / 2], -100.0);
    EXPECT_GT(sorted.back(), -45.0);
    EXPECT_LT(sorted.back(), -25.0);
}
