#include "DXVector.h"
#include "dxFFT.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLEX_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(QUILLEX_ADDRESS_SANITIZER)
// Under AddressSanitizer a failed allocation must give null, as it does without it, or the
// out-of-memory test below would end the program instead of checking the vectors.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}
#endif

namespace {

TEST(Vectors, SizesLimitsZeroFillAndFactory)
{
    for (int32_t size : {0, -1, DXVectorMaxCount + 1, INT32_MIN}) {
        TDXVector v(size);
        EXPECT_TRUE(v.Count == 0 && v.Values == nullptr) << size;
    }
    EXPECT_EQ(TDXVector(1).Count, 1); // the smallest
    TDXVector v(1000);
    ASSERT_EQ(v.Count, 1000);
    EXPECT_EQ(std::count(v.Values, v.Values + 1000, 0.0f), 1000);

    TDXComplexVector c(5);
    EXPECT_TRUE(c.Count == 5 && c.Real->Count == 5 && c.Imag->Count == 5);
    EXPECT_NE(c.Real->Values, c.Imag->Values);
    // An impossible size still reports what was asked for; the parts are empty.
    TDXComplexVector bad(-3);
    EXPECT_EQ(bad.Count, -3);
    EXPECT_TRUE(bad.Real->Count == 0 && bad.Imag->Values == nullptr);
    // The factory frees only vectors it created, each once; foreign ones stay usable.
    TDXFFT fft;
    TDXVector foreign(8);
    TDXComplexVector foreignComplex(8);
    fft.FreeVector(&foreign);
    fft.FreeVector(nullptr);
    fft.FreeComplexVector(&foreignComplex);
    foreign.Values[7] = 1.0f;
    foreignComplex.Imag->Values[7] = 1.0f;
    EXPECT_EQ(foreign.Count + foreignComplex.Real->Count, 16);

    // Freeing one of its vectors, even twice, leaves the others whole.
    TDXVector* kept = fft.CreateVector(4);
    TDXComplexVector* keptComplex = fft.CreateComplexVector(4);
    TDXVector* own = fft.CreateVector(4);
    TDXComplexVector* ownComplex = fft.CreateComplexVector(4);
    fft.FreeVector(own);
    fft.FreeVector(own);
    fft.FreeComplexVector(ownComplex);
    fft.FreeComplexVector(ownComplex);
    kept->Values[3] = keptComplex->Imag->Values[3] = 2.0f;
    EXPECT_TRUE(kept->Count == 4 && keptComplex->Count == 4 && keptComplex->Real->Count == 4);
    // Sizes are checked before narrowing to 32 bits.
    EXPECT_EQ(fft.CreateVector((int64_t(1) << 32) + 8)->Count, 0);
    // The limit itself is accepted; its zeroed pages are only mapped, so it costs no memory.
    TDXVector limit(DXVectorMaxCount);
    if (limit.Values == nullptr)
        GTEST_SKIP() << "not enough address space for the largest vector";
    EXPECT_EQ(limit.Count, DXVectorMaxCount);
    EXPECT_EQ(limit.Values[DXVectorMaxCount - 1], 0.0f);
}

TEST(Vectors, OutOfMemoryGivesEmptyVectorsAndNoTransform)
{
    TDXFFT fft;
    // Created before the cap: the vectors an exponent of 24 needs.
    TDXVector* in = fft.CreateVector(int64_t(2) << 24);
    TDXComplexVector* out = fft.CreateComplexVector(int64_t(1) << 24);
    ASSERT_EQ(in->Count, 2 << 24);
    in->Values[0] = 5.0f;
    // An owner's window needs a scratch vector of 2N samples, made at the first transform.
    TDXFFT owned;
    owned.setExponent(23);
    owned.setOwnerLeakFunction([](TDXVector&) {});
    owned.setLeakFunction(wnOwn);
    TDXComplexVector* ownedOut = owned.CreateComplexVector(1 << 23);
    // Cap the address space a little above its current use, so large allocations fail; no
    // assertion runs under the cap since a failing one would itself need memory.
    std::ifstream statm("/proc/self/statm");
    rlim_t pages = 0;
    rlimit saved{};
    ASSERT_TRUE(statm >> pages && getrlimit(RLIMIT_AS, &saved) == 0);
    const rlimit capped{pages * rlim_t(sysconf(_SC_PAGESIZE)) + (16u << 20), saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_AS, &capped), 0);
    TDXVector big(100'000'000);
    TDXComplexVector bigComplex(100'000'000);
    fft.setExponent(24); // its tables cannot be allocated now
    const int32_t counts[3] = {big.Count, bigComplex.Real != nullptr ? bigComplex.Real->Count : 0,
                               fft.CosTable().Count};
    fft.RealFFT(in, out, false);
    fft.ComplexFFT(out, false);
    const bool scratchless =
        owned.RealFFTOfSamples(reinterpret_cast<const int16_t*>(in->Values), ownedOut, false);
    setrlimit(RLIMIT_AS, &saved);
    EXPECT_EQ(counts[0] + counts[1] + counts[2], 0);
    EXPECT_FALSE(scratchless);
    EXPECT_EQ(in->Values[0], 5.0f);
    EXPECT_EQ(out->Real->Values[0], 0.0f);
}

} // namespace
