// Accuracy of the interpolated peaks: tones synthesized as 16-bit samples, run through the
// program's frame arithmetic and InterpolatePeak, against their known frequency and on-bin
// level. Prints the worst errors per window, FFT size and distance, for lone tones near the
// band edges (where the tone's mirror interferes) and for tones beside an equal tone.
//   peak_accuracy            all tables
//   peak_accuracy lone       lone tones only
//   peak_accuracy neighbour  tones beside another only
#include "FrameProcessor.h"
#include "FrameSpectrum.h"
#include "PeakSearch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

using namespace quillex;

namespace {

constexpr double Pi = std::numbers::pi;
constexpr double Amplitude = 8000;
const char* const WindowNames[] = {"rect", "Hann", "Hamming", "Blackman"};

struct TFrame
{
    TFrame(int Exponent, TDXLeakType Window) : Window(Window)
    {
        FFT.setExponent(Exponent);
        FFT.setLeakFunction(Window);
        N = int(FFT.Size());
        Input = FFT.CreateVector(2 * N);
        Output = FFT.CreateComplexVector(N);
        Magnitudes.resize(size_t(N));
        for (int n = 0; n < 2 * N; ++n) {
            const double x = 2 * Pi * n / (2 * N - 1);
            const double w = Window == wnHanning   ? 0.5 - 0.5 * std::cos(x)
                             : Window == wnHamming ? 0.54 - 0.46 * std::cos(x)
                             : Window == wnBlackman
                                 ? 0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2 * x)
                                 : 1.0;
            Sum += w;
            Squares += w * w;
        }
    }

    // Tones at fractional bins with phases; Noise: sample noise putting the noise in a bin
    // 60 dB below a tone's on-bin magnitude.
    void Run(double Bin, double Phase, double Other, double OtherPhase, bool Noise)
    {
        std::normal_distribution<double> noise(0,
                                               1e-3 * Amplitude * Sum / (2 * std::sqrt(Squares)));
        std::vector<int16_t> block(8192);
        for (int n = 0; n < 2 * N; ++n) {
            double v = Amplitude * std::cos(Pi * Bin * n / N + Phase);
            if (Other > 0)
                v += Amplitude * std::cos(Pi * Other * n / N + OtherPhase);
            if (Noise)
                v += noise(Rng);
            block[size_t(n)] = int16_t(std::lround(v));
        }
        TransformBlock(block.data(), FFT, Input, Output);
        AverageMagnitudes(Output->Real->Values, Magnitudes.data(), N, 1);
    }

    // Error of the peak at the tone's largest bin: bins and dB.
    void Measure(double Bin, double& BinError, double& LevelError) const
    {
        int k = int(std::lround(Bin));
        for (int j : {k - 1, k + 1})
            if (Magnitudes[size_t(j)] > Magnitudes[size_t(k)])
                k = j;
        const TPeak p = InterpolatePeak(Magnitudes.data(), N, k, Window);
        BinError = std::max(BinError, std::fabs(p.Bin - Bin));
        LevelError =
            std::max(LevelError, std::fabs(20 * std::log10(p.Magnitude / (Amplitude * Sum / N))));
    }

    TDXFFT FFT;
    TDXLeakType Window;
    int N = 0;
    TDXVector* Input = nullptr;
    TDXComplexVector* Output = nullptr;
    std::vector<float> Magnitudes;
    double Sum = 0, Squares = 0;
    std::mt19937 Rng{1};
};

// Lone tones whose distance from the nearer band edge (bin 0 or the Nyquist bin N) is from
// Distance to Distance + 1 bins, every 0.05 bin, 8 phases, at both edges.
void LoneTones()
{
    std::printf("Lone tones: worst bin error / level error (dB), by distance from the band edge\n");
    std::printf("window    exp  noise  |  5 bins           6 bins           8 bins           "
                "20 bins          mid-band\n");
    for (int w = wnRectangle; w <= wnBlackman; ++w)
        for (int e = 8; e <= 12; ++e)
            for (bool noise : {false, true}) {
                TFrame f(e, TDXLeakType(w));
                std::printf("%-9s %3d  %-5s  |", WindowNames[w], e, noise ? "-60dB" : "none");
                for (double d : {5.0, 6.0, 8.0, 20.0, -1.0}) {
                    double bin = 0, level = 0;
                    for (int step = 0; step <= 20; ++step)
                        for (int phase = 0; phase < 8; ++phase)
                            for (bool upper : {false, true}) {
                                const double b = d < 0   ? f.N / 2 - 0.5 + 0.05 * step
                                                 : upper ? f.N - d - 0.05 * step
                                                         : d + 0.05 * step;
                                f.Run(b, 0.2 + phase * Pi / 4, 0, 0, noise);
                                f.Measure(b, bin, level);
                            }
                    std::printf("  %.4f / %.4f", bin, level);
                }
                std::printf("\n");
            }
}

// A tone in mid-band, every offset, beside an equal tone Distance .. Distance + 0.6 bins away
// on either side, 8 phase pairs.
void Neighbours()
{
    const double distances[] = {5, 6, 7, 8, 10, 15, 20, 30, 50, 100, 200, 300, 500};
    std::printf("Beside an equal tone: worst bin error / level error (dB), by distance\n");
    for (int w = wnRectangle; w <= wnBlackman; ++w)
        for (int e : {8, 10, 12}) {
            TFrame f(e, TDXLeakType(w));
            std::printf("%-9s %3d  |", WindowNames[w], e);
            for (double d : distances) {
                if (d > f.N / 2 - 10)
                    break;
                double bin = 0, level = 0;
                for (int step = -10; step <= 10; ++step)
                    for (int phase = 0; phase < 8; ++phase)
                        for (int side : {-1, 1}) {
                            const double b = f.N / 2 + 0.05 * step;
                            const double other = b + side * (d + 0.2 * (phase % 4));
                            f.Run(b, 0.3 + phase, other, 1.7 * phase, false);
                            f.Measure(b, bin, level);
                        }
                std::printf(" %g: %.4f/%.4f", d, bin, level);
            }
            std::printf("\n");
        }
}

} // namespace

int main(int argc, char** argv)
{
    const bool all = argc < 2;
    if (all || std::strcmp(argv[1], "lone") == 0)
        LoneTones();
    if (all || std::strcmp(argv[1], "neighbour") == 0)
        Neighbours();
    return 0;
}
