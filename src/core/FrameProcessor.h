#pragma once

#include <cstdint>
#include <random>

// Per-frame spectrum arithmetic of the acquisition tick. Nothing here
// allocates; all buffers belong to the caller.
namespace quillex {

// Nearest integer, ties to even; NaN gives 0, values beyond the int range
// give INT_MIN or INT_MAX.
int RoundHalfEven(double v);

// FftInput[i] = 2 * Block[i], i = 0 .. Count-1.
void ScaleSamples(const int16_t* Block, float* FftInput, int Count);

// Running average over A frames (A is limited to 1 .. 64):
// A = 1: Avg[k] = |Magnitudes[k]|, else Avg[k] = ((A-1)*Avg[k] + |Magnitudes[k]|) / A.
// The absolute value matters for bin 0, where the FFT leaves the signed mean.
void AverageMagnitudes(const float* Magnitudes, float* Avg, int N, int A);

// Levels[k] = 20*log10(Avg[k]/16384 + 1e-9) in dBm, from Avg[N-1-k] when
// Inverted. Uses a vectorisable logarithm within 0.001 dB of the exact
// formula. Every bin gets a value: a negative or NaN average counts as 0
// (the -180 dBm floor), +inf gives +inf. Avg and Levels must not overlap.
void LevelsFromAverages(const float* Avg, float* Levels, int N, bool Inverted);

// Debug-mode signal: Block[i-1] = round(r + sin(i*2*pi/7.6543)*327.68 - 82)
// for i = 1 .. Count, r drawn uniformly from 0 .. 163 for every sample.
void SynthesizeDebugBlock(int16_t* Block, int Count, std::mt19937& Rng);

// The two builds behind ScaleSamples, AverageMagnitudes and LevelsFromAverages: portable
// SSE2, and AVX2 with FMA (twice as wide), which the public functions use when
// WideLoopsSupported(). Public so that tests can check both builds.
bool WideLoopsSupported();
void ScaleSamplesPortable(const int16_t* Block, float* FftInput, int Count);
void ScaleSamplesWide(const int16_t* Block, float* FftInput, int Count);
void AverageMagnitudesPortable(const float* Magnitudes, float* Avg, int N, int A);
void AverageMagnitudesWide(const float* Magnitudes, float* Avg, int N, int A);
void LevelsFromAveragesPortable(const float* Avg, float* Levels, int N, bool Inverted);
void LevelsFromAveragesWide(const float* Avg, float* Levels, int N, bool Inverted);

} // namespace quillex
