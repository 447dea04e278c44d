#include "DXVector.h"
#include "dxFFT.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>

namespace {

TEST(TDXVector, SizesOutsideTheLimitGiveEmptyVectors)
{
    for (int32_t size : {0, -1, DXVectorMaxCount + 1, INT32_MIN, INT32_MAX}) {
        TDXVector v(size);
        EXPECT_EQ(v.Count, 0) << size;
        EXPECT_EQ(v.Values, nullptr) << size;
    }
}

TEST(TDXVector, NewElementsAreZero)
{
    TDXVector v(1000);
    ASSERT_EQ(v.Count, 1000);
    EXPECT_TRUE(std::all_of(v.Values, v.Values + 1000, [](float x) { return x == 0.0f; }));
}

TEST(TDXVector, TheLimitItselfIsAccepted)
{
    // Zeroed pages are only mapped, not touched, so this costs no real memory.
    TDXVector v(DXVectorMaxCount);
    if (v.Values == nullptr)
        GTEST_SKIP() << "not enough address space for the largest vector";
    EXPECT_EQ(v.Count, DXVectorMaxCount);
    EXPECT_EQ(v.Values[DXVectorMaxCount - 1], 0.0f);
}

TEST(TDXComplexVector, PartsHaveTheRequestedLength)
{
    TDXComplexVector v(5);
    EXPECT_EQ(v.Count, 5);
    ASSERT_NE(v.Real, nullptr);
    ASSERT_NE(v.Imag, nullptr);
    EXPECT_EQ(v.Real->Count, 5);
    EXPECT_EQ(v.Imag->Count, 5);
    EXPECT_NE(v.Real->Values, v.Imag->Values);

    // An impossible size still reports what was asked for; the parts are empty.
    TDXComplexVector bad(-3);
    EXPECT_EQ(bad.Count, -3);
    EXPECT_EQ(bad.Real->Count, 0);
    EXPECT_EQ(bad.Imag->Values, nullptr);
}

// Caps the address space so that large allocations fail, then restores it.
class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(rlim_t headroomBytes)
    {
        getrlimit(RLIMIT_AS, &saved);
        rlimit limited = saved;
        limited.rlim_cur = CurrentAddressSpace() + headroomBytes;
        active = setrlimit(RLIMIT_AS, &limited) == 0;
    }
    ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &saved); }
    bool active = false;

private:
    static rlim_t CurrentAddressSpace()
    {
        unsigned long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%lu", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        return rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE));
    }
    rlimit saved{};
};

TEST(OutOfMemory, VectorsComeBackEmptyAndTransformsDoNothing)
{
    TDXFFT fft;
    // Created before the cap: the vectors an exponent of 24 needs.
    TDXVector* in = fft.CreateVector(int64_t(2) << 24);
    TDXComplexVector* out = fft.CreateComplexVector(int64_t(1) << 24);
    ASSERT_EQ(in->Count, 2 << 24);
    in->Values[0] = 5.0f;

    int32_t bigCount = -1, complexRealCount = -1;
    int32_t cosCount = -1;
    {
        AddressSpaceLimit limit(16u << 20);
        ASSERT_TRUE(limit.active);
        TDXVector big(100'000'000);
        TDXComplexVector bigComplex(100'000'000);
        bigCount = big.Count;
        complexRealCount = bigComplex.Real != nullptr ? bigComplex.Real->Count : 0;
        // The tables for 2^24 points cannot be allocated now.
        fft.setExponent(24);
        cosCount = fft.CosTable().Count;
        fft.RealFFT(in, out, false);
        fft.ComplexFFT(out, false);
    }
    EXPECT_EQ(bigCount, 0);
    EXPECT_EQ(complexRealCount, 0);
    EXPECT_EQ(cosCount, 0);
    EXPECT_EQ(in->Values[0], 5.0f);
    EXPECT_EQ(out->Real->Values[0], 0.0f);
}

} // namespace
