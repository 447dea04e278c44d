#include "SpektroNeuImage.h"
#include "SpektroNeuMapping.h"
#include "SpektroNeuRows.h"
#include "SpektroNeuScale.h"
#include "waterfall_rules.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

using namespace quillex;

namespace {

TBgr Entry(int p)
{
    const TSpektroPaletteTables& t = SpektroPalette();
    return {t.BlueTable[p], t.GreenTable[p], t.RedTable[p]};
}

std::uint32_t PixelOf(TBgr C)
{
    return 0xff000000u | (std::uint32_t{C.Red} << 16) | (std::uint32_t{C.Green} << 8) | C.Blue;
}

TLevelToColor Range(float ZMin, float ZMax)
{
    TLevelToColor c;
    c.SetRange(ZMin, ZMax);
    return c;
}

} // namespace

TEST(LevelToColor, PaletteStepsScaleEndsClampingAndUnusableRanges)
{
    for (int p = 0; p < SpektroPaletteSize; ++p)
        ASSERT_EQ(PixelOf(Entry(p)), PaletteEntry(p)) << "entry " << p;

    // Scale ends, clamping and the highlight mask on -140 .. -40.
    const TLevelToColor c = Range(-140, -40);
    for (int level : {INT_MIN, -500, -140})
        EXPECT_EQ(c.LevelToColor(level, 0), (TBgr{0, 0, 0})) << level;
    for (int level : {-40, 30, INT_MAX})
        EXPECT_EQ(c.LevelToColor(level, 0), (TBgr{0, 0, 255})) << level;
    // round(40 * 12.79) = 512, the first entry of the cyan-to-green segment.
    EXPECT_EQ(c.PaletteIndex(-100), 512);
    EXPECT_EQ(c.LevelToColor(-100, SpektroHighlightMask), (TBgr{255 ^ 37, 255 ^ 37, 37}));
    EXPECT_EQ(c.LevelToPixel(-100, SpektroHighlightMask), 0xff25dadau);

    EXPECT_EQ(RoundLevel(std::numeric_limits<float>::quiet_NaN()), INT_MIN);
    EXPECT_EQ(RoundLevel(-std::numeric_limits<float>::infinity()), INT_MIN);
    EXPECT_EQ(RoundLevel(3e9f), INT_MAX);
    // Nearest integer, ties to even, inside and at the edges of the inline path's range.
    const std::pair<float, int> rounded[] = {{-100.5f, -100},
                                             {-101.5f, -102},
                                             {2.5f, 2},
                                             {-0.5f, 0},
                                             {-99.75f, -100},
                                             {0.49999997f, 0},
                                             {4194303.5f, 4194304},
                                             {-4194303.5f, -4194304},
                                             {4194305.0f, 4194305},
                                             {-1e7f, -10000000}};
    for (const auto& [level, expected] : rounded) {
        EXPECT_EQ(RoundLevel(level), expected) << level;
        EXPECT_EQ(RoundLevelFast(level), expected) << level;
    }
    EXPECT_EQ(RoundLevelFast(std::numeric_limits<float>::quiet_NaN()), INT_MIN);
    EXPECT_EQ(RoundLevelFast(3e9f), INT_MAX);

    // A range that is empty, reversed or not finite shows the first entry everywhere.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float ranges[][2] = {{0, 0},      {-40, -40}, {-40, -140}, {nan, -40},
                               {-140, nan}, {-inf, 0},  {-140, inf}};
    for (const auto& r : ranges) {
        const TLevelToColor u = Range(r[0], r[1]);
        for (int level : {INT_MIN, -140, -90, -40, INT_MAX})
            EXPECT_EQ(u.PaletteIndex(level), 0) << r[0] << ".." << r[1] << " at " << level;
        EXPECT_EQ(u.LevelToColor(-90, SpektroHighlightMask), (TBgr{37, 37, 37}));
    }
}

// Random ranges, and one too wide for the level table: the index never falls, reaches both
// ends, stays within half an entry of the exact scale, and the pixel matches the colour.
TEST(LevelToColor, IsMonotonicAndHitsBothEndsForAnyValidRange)
{
    std::mt19937 rng(7);
    for (int trial = 0; trial <= 200; ++trial) {
        const int lo = trial == 200 ? -1000000 : int(rng() % 250) - 200;
        const int hi = trial == 200 ? 2000000 : lo + 1 + int(rng() % 300);
        const int step = trial == 200 ? 997 : 1;
        const TLevelToColor c = Range(float(lo), float(hi));
        EXPECT_EQ(c.PaletteIndex(lo), 0);
        EXPECT_EQ(c.PaletteIndex(hi), SpektroPaletteLast);
        int previous = 0;
        for (int level = lo - 5 * step; level <= hi + 5 * step; level += step) {
            const int p = c.PaletteIndex(level);
            ASSERT_GE(p, previous) << lo << ".." << hi << " at " << level;
            ASSERT_EQ(c.LevelToPixel(level, 37), PixelOf(c.LevelToColor(level, 37))) << level;
            if (level >= lo && level <= hi) {
                ASSERT_LE(std::fabs(p - (level - lo) * 1279.0 / (hi - lo)), 0.5 + 1e-9);
            }
            previous = p;
        }
    }
}

// A whole row at once: each column the pixel of its rounded level, for levels inside, beyond
// and between the ends, halves, NaN and infinities, and for ranges too wide for a table.
TEST(LevelToColor, FillRowColoursEachColumnAsItsLevel)
{
    std::mt19937 rng(11);
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> levels = {std::numeric_limits<float>::quiet_NaN(),
                                 -inf,
                                 inf,
                                 -1e30f,
                                 1e30f,
                                 2147483648.0f,
                                 -2147483648.0f};
    for (int i = 0; i < 3000; ++i)
        levels.push_back(float(int(rng() % 4000) - 2000) / 8.0f);
    std::vector<std::int32_t> columns(6000);
    for (auto& c : columns)
        c = std::int32_t(rng() % levels.size());
    for (const auto& r : {std::pair{-140.0f, -40.0f},
                          {-120.5f, -80.25f},
                          {-1e7f, 1e7f},
                          {-5e6f, -5e6f + 100},
                          {0.0f, 0.0f}}) {
        const TLevelToColor c = Range(r.first, r.second);
        std::vector<std::uint32_t> row(columns.size());
        c.FillRow(levels.data(), columns, row.data());
        for (std::size_t x = 0; x < columns.size(); ++x) {
            const float v = levels[std::size_t(columns[x])];
            const int level = std::isnan(v) || v <= -2.147483648e9f ? INT_MIN
                              : v >= 2.147483648e9f                 ? INT_MAX
                                                                    : int(std::nearbyint(v));
            ASSERT_EQ(row[x], PixelOf(c.LevelToColor(level, 0))) << r.first << " level " << v;
        }
    }
}

// Lines never thinner than one device pixel; rows one logical pixel high on average: rows
// 0 .. n end where n + 1 logical pixels end, at least one device row each.
TEST(DevicePixels, LineWidthsAndRowHeights)
{
    EXPECT_EQ(DeviceLineWidth(0.5) * 100 + DeviceLineWidth(1.25) * 10 + DeviceLineWidth(1.5), 112);
    for (double ratio : {0.5, 1.0, 1.25, 1.5, 2.0}) {
        std::int64_t sum = 0;
        for (std::int64_t n = 0; n < 1000; ++n) {
            sum += RowHeight(n, ratio);
            ASSERT_EQ(sum, std::int64_t(std::floor(double(n + 1) * std::max(ratio, 1.0)))) << ratio;
        }
    }
}

// Against exact integer arithmetic: nearest value index, ties to even.
TEST(MapColumns, EachColumnShowsTheNearestValue)
{
    std::vector<std::int32_t> map;
    for (long long w : {2, 3, 7, 64, 591, 785, 1000})
        for (long long lo : {0, 5})
            for (long long n : {1, 2, 3, 10, 591, 1024, 4096}) {
                map.assign(std::size_t(w), -1);
                MapColumns(map, int(lo), int(lo + n - 1));
                for (long long x = 0; x < w; ++x) {
                    const long long num = (n - 1) * x + lo * (w - 1), den = w - 1;
                    const long long q = num / den, twice = 2 * (num % den);
                    const long long expected = q + (twice > den || (twice == den && q % 2));
                    ASSERT_EQ(map[std::size_t(x)], expected)
                        << w << " " << lo << " " << n << " " << x;
                }
            }
    map.assign(1, -1);
    MapColumns(map, 3, 4095);
    EXPECT_EQ(map[0], 3);
    MapColumns(std::span<std::int32_t>(), 0, 4095);
}

// On a shared axis: each column shows the value whose place is nearest to the column's
// centre, found by search; values beside the columns fill the edges; no axis is unsafe.
TEST(MapColumns, OnAnAxisEachColumnShowsTheValueNearestItsCentre)
{
    std::vector<std::int32_t> map;
    for (const auto& [w, n, origin, per] : std::vector<std::tuple<int, int, double, double>>{
             {900, 256, 0.0, 256.0 / 900}, // a column wider than a bin: cells of 3.5 columns
             {900, 32, -0.3, 32.0 / 900},  // bins beside the first column's edge
             {700, 4096, 2.65, 4096.0 / 700},
             {65, 8, 5.5, 0.25}}) {
        map.assign(std::size_t(w), -1);
        MapColumnsOnAxis(map, n, origin, per);
        for (int x = 0; x < w; ++x) {
            const double centre = origin + (x + 0.5) * per;
            int best = 0;
            for (int k = 1; k < n; ++k)
                if (std::fabs(k - centre) < std::fabs(best - centre))
                    best = k;
            ASSERT_EQ(map[std::size_t(x)], best) << w << " " << n << " " << x;
        }
    }
    map.assign(4, -1);
    MapColumnsOnAxis(map, 10, 1e300, 1.0);
    EXPECT_EQ(map, std::vector<std::int32_t>(4, 9));
    MapColumnsOnAxis(map, 10, std::nan(""), 1.0);
    EXPECT_EQ(map, std::vector<std::int32_t>(4, 0));
    MapColumnsOnAxis(map, 0, 3.0, 1.0);
    EXPECT_EQ(map, std::vector<std::int32_t>(4, 0));
}

// The row ring against a plain image that really moves its rows, over random sequences of
// scrolling, row writes, painting and resizing.
TEST(SpektroImage, BehavesLikeAnImageThatMovesItsRows)
{
    const QRgb bg = 0xff102030u;
    std::mt19937 rng(3);
    TSpektroImage ring(bg);
    QImage plain;
    auto resize = [&](int w, int h) {
        ring.Resize(w, h);
        QImage next(w, h, QImage::Format_RGB32);
        next.fill(bg);
        // The newest rows and the right edge stay where they are.
        QPainter(&next).drawImage(w - plain.width(), h - plain.height(), plain);
        plain = next;
    };
    resize(7, 5);
    for (int step = 0; step < 3000; ++step) {
        const int h = ring.Height();
        const unsigned kind = rng() % 8;
        if (kind == 0) {
            resize(1 + int(rng() % 9), 1 + int(rng() % 9));
        } else if (kind == 1) { // paint a dot through the view, as the time marks do
            const int y = int(rng() % unsigned(h));
            QImage view = ring.PaintView();
            QPainter(&view).fillRect(0, y, 1, 1, QColor(0xff00ff00u));
            ring.CommitRows(y, 1);
            plain.setPixel(0, y, 0xff00ff00u);
        } else if (kind == 2) { // scroll several rows, carrying the bottom row, as the margin
            const int n = 1 + int(rng() % 12);
            ring.ScrollUp(n, true);
            const int moved = std::min(n, h);
            QImage next = plain.copy(0, moved, plain.width(), h);
            for (int y = h - moved; y < h; ++y)
                std::memcpy(next.scanLine(y), plain.constScanLine(h - 1),
                            std::size_t(plain.bytesPerLine()));
            plain = next;
        } else if (kind == 3) { // scroll several rows and paint them all, as the waterfall
            const int n = 1 + int(rng() % 3);
            ring.ScrollUp(n, false);
            const int moved = std::min(n, h);
            QImage next = plain.copy(0, moved, plain.width(), h);
            const QRgb c = 0xff000000u | rng() % 0xffffffu;
            for (int y = h - moved; y < h; ++y)
                for (int x = 0; x < ring.Width(); ++x) {
                    ring.Row(y)[x] = c;
                    next.setPixel(x, y, c);
                }
            ring.CommitRows(h - moved, moved);
            plain = next;
        } else { // scroll and write the bottom row
            ring.ScrollUp();
            std::memmove(plain.bits(), plain.constScanLine(1),
                         std::size_t(plain.bytesPerLine()) * (h - 1));
            const QRgb c = 0xff000000u | rng() % 0xffffffu;
            const int x = int(rng() % unsigned(ring.Width()));
            ring.Row(h - 1)[x] = c;
            ring.CommitRows(h - 1, 1);
            plain.setPixel(x, h - 1, c);
        }
        ASSERT_EQ(ring.Visible(), plain) << "step " << step;
        ASSERT_EQ(ring.Storage().copy(ring.Window()), plain) << "step " << step;
    }
}

// The painted rows against a plain list of rows, over random pushes of rows of many widths and
// changes of the room, which must keep the newest rows whole whatever widths they have.
TEST(SpektroRows, KeepsTheNewestRowsAtTheirOwnWidths)
{
    std::mt19937 rng(5);
    TSpektroRows rows;
    std::deque<std::vector<std::uint32_t>> plain;
    int width = 0, height = 0;
    for (int step = 0; step < 2000; ++step) {
        if (rng() % 6 == 0) {
            width = int(rng() % 12);
            height = int(rng() % 7);
            rows.Reserve(width, height);
            while (int(plain.size()) > height)
                plain.pop_front();
        } else if (width > 0) {
            std::vector<std::uint32_t> row(1 + rng() % unsigned(width));
            for (auto& pixel : row)
                pixel = rng();
            rows.Push(row);
            if (height > 0)
                plain.push_back(row);
            if (int(plain.size()) > height)
                plain.pop_front();
        }
        ASSERT_EQ(rows.Size(), int(plain.size())) << "step " << step;
        for (int age = 0; age < rows.Size(); ++age) {
            const auto row = rows.Newest(age);
            ASSERT_EQ(std::vector<std::uint32_t>(row.begin(), row.end()),
                      plain[plain.size() - 1 - std::size_t(age)])
                << "step " << step << " age " << age;
        }
    }
    rows.Clear();
    EXPECT_EQ(rows.Size(), 0);
}

// The legend's labels: the ends, round steps of the shown level between them, none too near
// an end; scales that cannot be divided still give their ends.
TEST(LegendTicks, EndsAndRoundStepsOfTheShownLevel)
{
    const auto ticks = [](double ZMin, double ZMax, double Offset, int Rows) {
        std::vector<std::pair<double, int>> t;
        for (const auto& tick : LegendTicks(ZMin, ZMax, Offset, Rows, 5, 10))
            t.push_back({tick.Shown, tick.Row});
        return t;
    };
    using T = std::vector<std::pair<double, int>>;
    // One row per dB: steps of 5 dB, 5 rows apart; exactly 10 rows from an end still counts.
    EXPECT_EQ(ticks(-120, -80, 0, 41),
              (T{{-80, 0}, {-90, 10}, {-95, 15}, {-100, 20}, {-105, 25}, {-110, 30}, {-120, 40}}));
    EXPECT_EQ(ticks(-120, -80, 3, 41),
              (T{{-77, 0}, {-90, 13}, {-95, 18}, {-100, 23}, {-105, 28}, {-117, 40}}));
    EXPECT_EQ(
        ticks(-120, -80, -10, 41),
        (T{{-90, 0}, {-100, 10}, {-105, 15}, {-110, 20}, {-115, 25}, {-120, 30}, {-130, 40}}));
    EXPECT_EQ(ticks(-120, -80, 0, 30), (T{{-80, 0}, {-100, 15}, {-120, 29}})); // 0.725 rows per dB
    EXPECT_EQ(ticks(-120, -80, 0, 1), (T{{-80, 0}, {-120, 0}}));
    EXPECT_EQ(ticks(-80, -120, 0, 200).size(), 1u);
    for (double bad : {std::nan(""), double(INFINITY)})
        EXPECT_TRUE(ticks(bad, -80, 0, 200).empty() && ticks(-120, bad, 0, 200).empty() &&
                    ticks(-120, -80, bad, 200).empty());
    EXPECT_TRUE(ticks(-120, -80, 0, 0).empty());
    EXPECT_EQ(LegendLevel(0, 5, -120, -80), -80);
    EXPECT_EQ(LegendLevel(4, 5, -120, -80), -120);
    EXPECT_EQ(LegendLevel(0, 1, -120, -80), -120);
}
