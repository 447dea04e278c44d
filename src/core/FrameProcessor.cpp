#include "FrameProcessor.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <numbers>

namespace quillex {

namespace {

constexpr float MagnitudeReference = 16384.0f;
constexpr float LevelFloor = 1e-9f;
constexpr float DbPerOctave = 6.02059991327962f; // 20 * log10(2)

// log2(1 + f) / f for f in [sqrt(0.5) - 1, sqrt(2) - 1], least-squares fit;
// worst error 2.5e-6 in log2, i.e. 1.5e-5 dB, far inside the 0.001 dB budget.
constexpr float C0 = 1.442715775e+00f;
constexpr float C1 = -7.211225392e-01f;
constexpr float C2 = 4.793243588e-01f;
constexpr float C3 = -3.677039824e-01f;
constexpr float C4 = 3.220854961e-01f;
constexpr float C5 = -2.052982954e-01f;

// Bits of sqrt(0.5): subtracting them splits x into an exponent and a
// mantissa in [sqrt(0.5), sqrt(2)), where the polynomial is most accurate.
constexpr int32_t SqrtHalfBits = 0x3f3504f3;

constexpr int32_t InfinityBits = 0x7f800000;

// Mask of all ones when Condition holds, else zero.
inline int32_t MaskIf(bool Condition)
{
    return -static_cast<int32_t>(Condition);
}

// 20*log10(a/16384 + 1e-9). Selections are done with bit masks because the
// compiler keeps float conditionals as branches, and branches stop the loops
// from vectorising. The argument is at least 1e-9 and therefore never denormal.
inline float LevelOf(float a)
{
    // a > 0 is false for NaN too, so NaN and negatives count as 0.
    a = std::bit_cast<float>(std::bit_cast<int32_t>(a) & MaskIf(a > 0.0f));
    const float x = a * (1.0f / MagnitudeReference) + LevelFloor;
    const int32_t bits = std::bit_cast<int32_t>(x);
    const int32_t e = (bits - SqrtHalfBits) >> 23;
    const float f = std::bit_cast<float>(bits - (e << 23)) - 1.0f;
    const float p = f * (C0 + f * (C1 + f * (C2 + f * (C3 + f * (C4 + f * C5)))));
    const float level = DbPerOctave * (static_cast<float>(e) + p);
    const int32_t infinite = MaskIf(bits == InfinityBits);
    return std::bit_cast<float>((std::bit_cast<int32_t>(level) & ~infinite) | (bits & infinite));
}

inline void AverageLoop(const float* Magnitudes, float* Avg, int N, int A)
{
    A = std::clamp(A, 1, 64);
    if (A == 1) {
        for (int k = 0; k < N; ++k)
            Avg[k] = std::fabs(Magnitudes[k]);
        return;
    }
    // Single precision with a reciprocal keeps this loop at a quarter of the
    // cost of double division; the result stays within two float steps of the
    // exact quotient, a millionth of a decibel.
    const float keep = static_cast<float>(A - 1);
    const float reciprocal = 1.0f / static_cast<float>(A);
    for (int k = 0; k < N; ++k)
        Avg[k] = (keep * Avg[k] + std::fabs(Magnitudes[k])) * reciprocal;
}

inline void ScaleLoop(const int16_t* Block, float* FftInput, int Count)
{
    for (int i = 0; i < Count; ++i)
        FftInput[i] = static_cast<float>(2 * static_cast<int>(Block[i]));
}

inline void LevelsLoop(const float* Avg, float* Levels, int N, bool Inverted)
{
    if (Inverted) {
        for (int k = 0; k < N; ++k)
            Levels[k] = LevelOf(Avg[N - 1 - k]);
    } else {
        for (int k = 0; k < N; ++k)
            Levels[k] = LevelOf(Avg[k]);
    }
}

} // namespace

// The wide builds are compiled for AVX2 with FMA by a function attribute and
// chosen at run time, so the program still runs on any x86-64 (no -march).
#if defined(__x86_64__) && defined(__GNUC__)
#define QX_WIDE_TARGET __attribute__((target("arch=x86-64-v3")))

bool WideLoopsSupported()
{
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return supported;
}
#else
#define QX_WIDE_TARGET

bool WideLoopsSupported()
{
    return false;
}
#endif

void AverageMagnitudesPortable(const float* Magnitudes, float* Avg, int N, int A)
{
    AverageLoop(Magnitudes, Avg, N, A);
}

QX_WIDE_TARGET void AverageMagnitudesWide(const float* Magnitudes, float* Avg, int N, int A)
{
    AverageLoop(Magnitudes, Avg, N, A);
}

void LevelsFromAveragesPortable(const float* Avg, float* Levels, int N, bool Inverted)
{
    LevelsLoop(Avg, Levels, N, Inverted);
}

QX_WIDE_TARGET void LevelsFromAveragesWide(const float* Avg, float* Levels, int N, bool Inverted)
{
    LevelsLoop(Avg, Levels, N, Inverted);
}

void ScaleSamplesPortable(const int16_t* Block, float* FftInput, int Count)
{
    ScaleLoop(Block, FftInput, Count);
}

QX_WIDE_TARGET void ScaleSamplesWide(const int16_t* Block, float* FftInput, int Count)
{
    ScaleLoop(Block, FftInput, Count);
}

int RoundHalfEven(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (v <= static_cast<double>(INT_MIN))
        return INT_MIN;
    const double lower = std::floor(v);
    const double diff = v - lower;
    auto r = static_cast<long long>(lower);
    if (diff > 0.5 || (diff == 0.5 && (r & 1) != 0))
        ++r;
    return static_cast<int>(r);
}

void ScaleSamples(const int16_t* Block, float* FftInput, int Count)
{
    if (WideLoopsSupported())
        ScaleSamplesWide(Block, FftInput, Count);
    else
        ScaleSamplesPortable(Block, FftInput, Count);
}

void AverageMagnitudes(const float* Magnitudes, float* Avg, int N, int A)
{
    if (WideLoopsSupported())
        AverageMagnitudesWide(Magnitudes, Avg, N, A);
    else
        AverageMagnitudesPortable(Magnitudes, Avg, N, A);
}

void LevelsFromAverages(const float* Avg, float* Levels, int N, bool Inverted)
{
    if (WideLoopsSupported())
        LevelsFromAveragesWide(Avg, Levels, N, Inverted);
    else
        LevelsFromAveragesPortable(Avg, Levels, N, Inverted);
}

void SynthesizeDebugBlock(int16_t* Block, int Count, std::mt19937& Rng)
{
    std::uniform_int_distribution<int> noise(0, 163);
    const double step = 2.0 * std::numbers::pi / 7.6543;
    for (int i = 1; i <= Count; ++i) {
        const double v = noise(Rng) + std::sin(i * step) * 327.68 - 82.0;
        Block[i - 1] = static_cast<int16_t>(RoundHalfEven(v));
    }
}

} // namespace quillex
