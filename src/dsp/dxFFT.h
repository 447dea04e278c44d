#pragma once

#include "DXVector.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TDXFFTLoops;
struct TDXFFTTables;

enum TDXLeakType : uint8_t { wnRectangle, wnHanning, wnHamming, wnBlackman, wnOwn };

// Builds of the transform loops, narrowest first: baseline x86-64, AVX2 with FMA, and
// AVX-512 (F, VL, BW and DQ).
enum class TDXLoopBuild : uint8_t { Baseline, Wide, Avx512 };

// Windows Data in place.
using TDXLeakFunction = std::function<void(TDXVector& Data)>;

// Real-input FFT: 2 * Size windowed samples in, Size bins out, Size = 2^Exponent.
// Bin k lies at k * fs / (2 * Size); a sinusoid of amplitude A on a bin reads A there with
// the rectangular window. Owns its tables and every vector created through it.
class TDXFFT
{
public:
    // Largest exponent whose input block (2 * Size samples) fits in a TDXVector.
    static constexpr int MaxWorkingExponent = 26;

    TDXFFT();
    ~TDXFFT();
    TDXFFT(const TDXFFT&) = delete;
    TDXFFT& operator=(const TDXFFT&) = delete;

    const std::string& Version() const { return FVersion; }
    const std::string& Copyright() const { return FCopyright; }

    int Exponent() const { return FExponent; }
    // Accepts 1..31, other values are ignored. Above MaxWorkingExponent the tables stay empty
    // and no transform runs.
    void setExponent(int Value);
    // 64 bits wide so that 2^31 (and 2 * Size) stay exact.
    int64_t Size() const { return FSize; }

    // Reads wnOwn only while an owner procedure is in force; otherwise falls back to
    // wnRectangle.
    TDXLeakType LeakFunction() const { return FLeakFunction; }
    void setLeakFunction(TDXLeakType Value);
    const TDXLeakFunction& OwnerLeakFunction() const { return FOwnerLeakFunction; }
    // Stored only; it takes effect at the next window selection.
    void setOwnerLeakFunction(TDXLeakFunction Value) { FOwnerLeakFunction = std::move(Value); }

    // Sizes outside 0..DXVectorMaxCount give empty vectors. Returns null only if the vector
    // object itself cannot be allocated.
    TDXVector* CreateVector(int64_t Size);
    // Destroys a vector created here; any other pointer (null, foreign, already freed) is
    // left alone.
    void FreeVector(TDXVector* V);
    TDXComplexVector* CreateComplexVector(int64_t Size);
    void FreeComplexVector(TDXComplexVector* V);

    // Windows Input in place, then writes bins 0..Size-1 to Output: Real[0] is the signed
    // mean of the windowed input x; for k >= 1, bin k = (1/Size) sum x[n] e^(+i pi n k / Size)
    // gives Real[k] its magnitude and Imag[k] its imaginary part or, with Phase, its angle
    // atan2(Im, Re) in radians. Does nothing unless Input holds 2 * Size and both parts of
    // Output hold Size elements.
    void RealFFT(TDXVector* Input, TDXComplexVector* Output, bool Phase);
    // RealFFT of the input x[i] = float(2 * Samples[i]), i = 0..2*Size-1, bit for bit, without
    // that input vector: the samples are scaled and windowed as they are packed, which saves
    // two passes over memory per frame. An owner's window procedure (and Size 2) still takes
    // the ordinary path through a scratch vector of this component, allocated when the size
    // changes. Returns false, doing nothing, unless Samples is non-null, both parts of Output
    // hold Size elements and the tables are built (or when an owner's procedure stopped it).
    //
    // With a GainReference, the samples are scaled further by the ratio of that window's
    // coherent gain (the mean of its 2 * Size coefficients) to the gain of the window in
    // force, so that a tone on a bin reads the same with every built-in window. The factor is
    // exactly 1 (the same floats as without) when the two are the same window; an owner's
    // procedure, whose coefficients are unknown, is not scaled. The scaled coefficients are
    // kept until the window, its length or the reference changes.
    bool RealFFTOfSamples(const int16_t* Samples, TDXComplexVector* Output, bool Phase,
                          std::optional<TDXLeakType> GainReference = std::nullopt);
    // In place. Forward: X[k] = (1/N) sum z[n] e^(+2 pi i n k / N); inverse: unscaled with the
    // negative exponent. Does nothing unless both parts hold Size elements.
    void ComplexFFT(TDXComplexVector* V, bool Inverse);

    // sin / cos (pi * i / Size), i = 0..Size-1, and the coefficients of the window in force.
    const TDXVector& CosTable() const { return *FCosTable; }
    const TDXVector& SinTable() const { return *FSinTable; }
    const TDXVector& Window() const { return *FWindow; }

    // The transform loops exist in a baseline x86-64 build, an AVX2 + FMA build ("wide") and
    // an AVX-512 build. A new component uses FastestLoopBuild(); the choice then stays, so the
    // same input always gives the same floats. The builds agree to float rounding, not bit for
    // bit. Selecting a build the processor lacks selects the widest supported one below it.
    static bool LoopBuildSupported(TDXLoopBuild Build);
    static TDXLoopBuild FastestLoopBuild();
    TDXLoopBuild LoopBuild() const { return FLoopBuild; }
    void setLoopBuild(TDXLoopBuild Build);
    // Wide means any build beyond the baseline; enabling selects FastestLoopBuild().
    static bool WideLoopsSupported();
    bool WideLoops() const;
    void setWideLoops(bool Enabled);

private:
    void BuildTwiddles(int64_t N);
    void SelectWindow(TDXLeakType Kind, int64_t L);
    void ApplyWindow(TDXVector& Data) const;
    bool Ready() const;
    bool WindowedRealFFT(TDXVector* Input, TDXComplexVector* Output, bool Phase);
    const float* GainedWindow(TDXLeakType Reference, int64_t Count);
    TDXFFTTables Tables() const;
    void Transform(float* Re, float* Im) const;
    void LaterStages(float* Re, float* Im) const;
    void Phases(float* Re, float* Im) const;

    std::string FVersion = "7.0";
    std::string FCopyright = "Copyright (c) Quillex signal processing components";
    int FExponent = 0;
    int64_t FSize = 0;
    TDXLeakType FLeakFunction = wnRectangle;
    std::vector<std::unique_ptr<TDXVector>> VectorList;
    std::vector<std::unique_ptr<TDXComplexVector>> ComplexVectorList;
    std::unique_ptr<TDXVector> FCosTable;
    std::unique_ptr<TDXVector> FSinTable;
    std::unique_ptr<TDXVector> FWindow;
    TDXLeakFunction FOwnerLeakFunction;
    TDXLeakFunction WindowProc;
    TDXLoopBuild FLoopBuild;
    const TDXFFTLoops* FLoops;
    // Input of RealFFTOfSamples where it cannot fuse; created on first need.
    std::unique_ptr<TDXVector> FSampleScratch;
    // The window's coefficients scaled to a reference window's coherent gain (or that gain
    // alone for the rectangle), for the window and reference named.
    std::unique_ptr<TDXVector> FGainedWindow;
    TDXLeakType FGainedKind = wnOwn;
    TDXLeakType FGainedReference = wnOwn;

    // Faster forms of the tables, rebuilt with them: the bit-reversal permutation and, per
    // butterfly stage of half-width h, the twiddles e^(i pi k / h) for k = 0..h-1 stored
    // contiguously from index h - 1 so the inner loops run over consecutive memory.
    std::vector<uint32_t> BitReverse;
    std::vector<float> StageCos;
    std::vector<float> StageSin;
};
