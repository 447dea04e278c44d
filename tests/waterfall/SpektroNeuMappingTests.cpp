#include "SpektroNeuMapping.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

using namespace quillex;

namespace {

TBgr Entry(int p)
{
    const TSpektroPaletteTables& t = SpektroPalette();
    return {t.BlueTable[p], t.GreenTable[p], t.RedTable[p]};
}

TLevelToColor Range(float ZMin, float ZMax)
{
    TLevelToColor c;
    c.SetRange(ZMin, ZMax);
    return c;
}

std::uint32_t PixelOf(TBgr C)
{
    return 0xff000000u | (std::uint32_t{C.Red} << 16) | (std::uint32_t{C.Green} << 8) | C.Blue;
}

// Nearest integer to Num / Den (Den > 0), ties to even, in exact integer arithmetic.
long long NearestEven(long long Num, long long Den)
{
    long long q = Num / Den;
    long long r = Num % Den;
    if (r < 0) {
        q -= 1;
        r += Den;
    }
    if (2 * r > Den || (2 * r == Den && (q & 1) != 0))
        q += 1;
    return q;
}

} // namespace

TEST(SpektroPalette, RunsBlackBlueCyanGreenYellowRedInSingleSteps)
{
    EXPECT_EQ(Entry(0), (TBgr{0, 0, 0}));
    EXPECT_EQ(Entry(255), (TBgr{255, 0, 0}));
    EXPECT_EQ(Entry(511), (TBgr{255, 255, 0}));
    EXPECT_EQ(Entry(767), (TBgr{0, 255, 0}));
    EXPECT_EQ(Entry(1023), (TBgr{0, 255, 255}));
    EXPECT_EQ(Entry(1279), (TBgr{0, 0, 255}));
    // Between neighbours exactly one channel moves by one, except at the four knots where
    // the next segment starts one step further along.
    for (int p = 1; p < SpektroPaletteSize; ++p) {
        const TBgr a = Entry(p - 1), b = Entry(p);
        const int moved =
            std::abs(a.Blue - b.Blue) + std::abs(a.Green - b.Green) + std::abs(a.Red - b.Red);
        EXPECT_LE(moved, 1) << "entry " << p;
        EXPECT_EQ(moved == 0, p % 256 == 0) << "entry " << p;
    }
}

TEST(LevelToColor, MapsTheScaleEndsAndClampsBeyondThem)
{
    const TLevelToColor c = Range(-140, -40);
    EXPECT_EQ(c.LevelToColor(-140, 0), (TBgr{0, 0, 0}));
    EXPECT_EQ(c.LevelToColor(-500, 0), (TBgr{0, 0, 0}));
    EXPECT_EQ(c.LevelToColor(INT_MIN, 0), (TBgr{0, 0, 0}));
    EXPECT_EQ(c.LevelToColor(-40, 0), (TBgr{0, 0, 255}));
    EXPECT_EQ(c.LevelToColor(30, 0), (TBgr{0, 0, 255}));
    EXPECT_EQ(c.LevelToColor(INT_MAX, 0), (TBgr{0, 0, 255}));
    // round(40 * 12.79) = 512: the first entry of the cyan-to-green segment.
    EXPECT_EQ(c.PaletteIndex(-100), 512);
    EXPECT_EQ(c.LevelToColor(-100, 0), (TBgr{255, 255, 0}));
    EXPECT_EQ(c.LevelToColor(-100, SpektroHighlightMask), (TBgr{255 ^ 37, 255 ^ 37, 37}));
    EXPECT_EQ(c.LevelToPixel(-100, SpektroHighlightMask), 0xff25dadau);
}

TEST(LevelToColor, IsMonotonicAndHitsBothEndsForAnyValidRange)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> lowest(-200, 50);
    std::uniform_int_distribution<int> width(1, 300);
    for (int trial = 0; trial < 200; ++trial) {
        const int lo = lowest(rng), hi = lo + width(rng);
        const TLevelToColor c = Range(float(lo), float(hi));
        ASSERT_TRUE(c.RangeValid());
        EXPECT_EQ(c.PaletteIndex(lo), 0);
        EXPECT_EQ(c.PaletteIndex(hi), SpektroPaletteLast);
        int previous = 0;
        for (int level = lo - 5; level <= hi + 5; ++level) {
            const int p = c.PaletteIndex(level);
            ASSERT_GE(p, previous) << lo << ".." << hi << " at " << level;
            ASSERT_EQ(c.LevelToPixel(level, 0), PixelOf(c.LevelToColor(level, 0))) << level;
            // Within a step the error of the scale is below half an entry.
            if (level >= lo && level <= hi) {
                EXPECT_LE(std::fabs(p - (level - lo) * 1279.0 / (hi - lo)), 0.5 + 1e-9);
            }
            previous = p;
        }
    }
}

TEST(LevelToColor, WideRangeWithoutTableGivesTheSamePixels)
{
    const TLevelToColor c = Range(-1e6f, 2e6f);
    for (int level = -1000010; level <= 2000010; level += 997)
        ASSERT_EQ(c.LevelToPixel(level, 37), PixelOf(c.LevelToColor(level, 37))) << level;
    EXPECT_EQ(c.PaletteIndex(-1000000), 0);
    EXPECT_EQ(c.PaletteIndex(2000000), SpektroPaletteLast);
}

TEST(LevelToColor, UnusableRangeShowsTheFirstEntryEverywhere)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float ranges[][2] = {{0, 0},      {-40, -40}, {-40, -140}, {nan, -40},
                               {-140, nan}, {-inf, 0},  {-140, inf}, {-inf, inf}};
    for (const auto& r : ranges) {
        const TLevelToColor c = Range(r[0], r[1]);
        EXPECT_FALSE(c.RangeValid()) << r[0] << ".." << r[1];
        for (int level : {INT_MIN, -140, -90, -40, 0, INT_MAX})
            EXPECT_EQ(c.PaletteIndex(level), 0) << r[0] << ".." << r[1] << " at " << level;
        EXPECT_EQ(c.LevelToColor(-90, SpektroHighlightMask), (TBgr{37, 37, 37}));
    }
}

TEST(RoundLevel, RoundsHalfToEvenAndClampsWhatIsNoNumber)
{
    EXPECT_EQ(RoundLevel(-89.5f), -90);
    EXPECT_EQ(RoundLevel(-88.5f), -88);
    EXPECT_EQ(RoundLevel(0.5f), 0);
    EXPECT_EQ(RoundLevel(1.5f), 2);
    EXPECT_EQ(RoundLevel(-100.49f), -100);
    EXPECT_EQ(RoundLevel(std::numeric_limits<float>::quiet_NaN()), INT_MIN);
    EXPECT_EQ(RoundLevel(-std::numeric_limits<float>::infinity()), INT_MIN);
    EXPECT_EQ(RoundLevel(std::numeric_limits<float>::infinity()), INT_MAX);
    EXPECT_EQ(RoundLevel(3e9f), INT_MAX);
    EXPECT_EQ(RoundLevel(-3e9f), INT_MIN);
}

TEST(MapColumns, FourThousandValuesOnFiveHundredNinetyOneColumns)
{
    std::vector<std::int32_t> map(591, -1);
    MapColumns(map, 0, 4095);
    EXPECT_EQ(map.front(), 0);
    EXPECT_EQ(map[1], 7);
    EXPECT_EQ(map.back(), 4095);
}

TEST(MapColumns, EachColumnShowsTheNearestValueTiesToEven)
{
    for (int w : {2, 3, 7, 64, 591, 785, 1000}) {
        for (int lo : {0, 5}) {
            for (int n : {1, 2, 3, 10, 591, 1024, 4096}) {
                const int hi = lo + n - 1;
                std::vector<std::int32_t> map(std::size_t(w), -1);
                MapColumns(map, lo, hi);
                for (int x = 0; x < w; ++x) {
                    const long long expected =
                        NearestEven(static_cast<long long>(hi - lo) * x + lo * (w - 1LL), w - 1);
                    ASSERT_EQ(map[std::size_t(x)], expected)
                        << "w " << w << " lo " << lo << " hi " << hi << " x " << x;
                }
            }
        }
    }
}

TEST(MapColumns, SingleColumnShowsTheFirstValueAndNoColumnsIsHarmless)
{
    std::vector<std::int32_t> one(1, -1);
    MapColumns(one, 3, 4095);
    EXPECT_EQ(one[0], 3);
    std::vector<std::int32_t> none;
    MapColumns(none, 0, 4095);
    EXPECT_TRUE(none.empty());
}
