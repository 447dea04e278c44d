#include "DXVector.h"
#include "dxFFT.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

TEST(Vectors, SizesAndZeroFill)
{
    for (int32_t size : {0, -1, DXVectorMaxCount + 1, INT32_MIN}) {
        TDXVector v(size);
        EXPECT_TRUE(v.Count == 0 && v.Values == nullptr) << size;
    }
    TDXVector v(1000);
    ASSERT_EQ(v.Count, 1000);
    EXPECT_EQ(std::count(v.Values, v.Values + 1000, 0.0f), 1000);

    TDXComplexVector c(5);
    EXPECT_EQ(c.Count, 5);
    EXPECT_TRUE(c.Real->Count == 5 && c.Imag->Count == 5 && c.Real->Values != c.Imag->Values);
    // An impossible size still reports what was asked for; the parts are empty.
    TDXComplexVector bad(-3);
    EXPECT_EQ(bad.Count, -3);
    EXPECT_TRUE(bad.Real->Count == 0 && bad.Imag->Values == nullptr);
}

TEST(Vectors, TheLimitItselfIsAccepted)
{
    // Zeroed pages are only mapped, not touched, so this costs no real memory.
    TDXVector v(DXVectorMaxCount);
    if (v.Values == nullptr)
        GTEST_SKIP() << "not enough address space for the largest vector";
    EXPECT_EQ(v.Count, DXVectorMaxCount);
    EXPECT_EQ(v.Values[DXVectorMaxCount - 1], 0.0f);
}

// Caps the address space a little above its current use, so large allocations fail.
class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(rlim_t headroom)
    {
        unsigned long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            active = std::fscanf(f, "%lu", &pages) == 1;
            std::fclose(f);
        }
        getrlimit(RLIMIT_AS, &saved);
        rlimit limited = saved;
        limited.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + headroom;
        active = active && setrlimit(RLIMIT_AS, &limited) == 0;
    }
    ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &saved); }
    bool active = false;

private:
    rlimit saved{};
};

TEST(Vectors, OutOfMemoryGivesEmptyVectorsAndNoTransform)
{
    TDXFFT fft;
    // Created before the cap: the vectors an exponent of 24 needs.
    TDXVector* in = fft.CreateVector(int64_t(2) << 24);
    TDXComplexVector* out = fft.CreateComplexVector(int64_t(1) << 24);
    ASSERT_EQ(in->Count, 2 << 24);
    in->Values[0] = 5.0f;
    int32_t counts[3] = {-1, -1, -1};
    {
        AddressSpaceLimit limit(16u << 20);
        ASSERT_TRUE(limit.active);
        TDXVector big(100'000'000);
        TDXComplexVector bigComplex(100'000'000);
        // The tables for 2^24 points cannot be allocated now.
        fft.setExponent(24);
        counts[0] = big.Count;
        counts[1] = bigComplex.Real != nullptr ? bigComplex.Real->Count : 0;
        counts[2] = fft.CosTable().Count;
        fft.RealFFT(in, out, false);
        fft.ComplexFFT(out, false);
    }
    EXPECT_EQ(counts[0] + counts[1] + counts[2], 0);
    EXPECT_EQ(in->Values[0], 5.0f);
    EXPECT_EQ(out->Real->Values[0], 0.0f);
}

} // namespace
