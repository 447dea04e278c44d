#pragma once

#include <cstdint>

// Fixed-length float arrays that carry sample blocks and spectra between the acquisition
// loop and the FFT. Users index Values directly; there is no behaviour beyond storage.

// Largest element count a vector may hold; larger requests give an empty vector.
inline constexpr int32_t DXVectorMaxCount = 200'000'000;

class TDXVector
{
public:
    // Sizes outside 0..DXVectorMaxCount, and storage that cannot be obtained, give an empty
    // vector (Count 0, Values null); nothing is thrown.
    explicit TDXVector(int32_t Size);
    ~TDXVector();
    TDXVector(const TDXVector&) = delete;
    TDXVector& operator=(const TDXVector&) = delete;

    int32_t Count = 0;
    float* Values = nullptr; // Count zero-filled elements, or null when Count is 0
};

class TDXComplexVector
{
public:
    // Count always reports the requested size, even when the parts came out empty, so users
    // must check Real->Count / Imag->Count. If a part cannot be created at all, Count is 0
    // and both parts are null.
    explicit TDXComplexVector(int32_t Size);
    ~TDXComplexVector();
    TDXComplexVector(const TDXComplexVector&) = delete;
    TDXComplexVector& operator=(const TDXComplexVector&) = delete;

    TDXVector* Real = nullptr;
    TDXVector* Imag = nullptr;
    int32_t Count = 0;
};
