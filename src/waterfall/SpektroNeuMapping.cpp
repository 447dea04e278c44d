#include "SpektroNeuMapping.h"

#include <climits>
#include <cmath>

namespace quillex {

namespace {

constexpr long double MaxTableLevels = 65536;

TSpektroPaletteTables BuildPalette()
{
    TSpektroPaletteTables t;
    for (int p = 0; p < SpektroPaletteSize; ++p) {
        int red = 0, green = 0, blue = 0;
        if (p < 256) {
            blue = p;
        } else if (p < 512) {
            green = p - 256;
            blue = 255;
        } else if (p < 768) {
            green = 255;
            blue = 767 - p;
        } else if (p < 1024) {
            red = p - 768;
            green = 255;
        } else {
            red = 255;
            green = 1279 - p;
        }
        t.RedTable[p] = static_cast<std::uint8_t>(red);
        t.GreenTable[p] = static_cast<std::uint8_t>(green);
        t.BlueTable[p] = static_cast<std::uint8_t>(blue);
    }
    return t;
}

} // namespace

const TSpektroPaletteTables& SpektroPalette()
{
    static const TSpektroPaletteTables tables = BuildPalette();
    return tables;
}

int RoundLevel(float Level)
{
    if (std::isnan(Level) || Level <= static_cast<float>(INT_MIN))
        return INT_MIN;
    if (Level >= -static_cast<float>(INT_MIN))
        return INT_MAX;
    return static_cast<int>(std::lrint(Level));
}

TLevelToColor::TLevelToColor()
{
    const TSpektroPaletteTables& t = SpektroPalette();
    for (int p = 0; p < SpektroPaletteSize; ++p)
        Pixels[p] = 0xff000000u | (std::uint32_t{t.RedTable[p]} << 16) |
                    (std::uint32_t{t.GreenTable[p]} << 8) | t.BlueTable[p];
}

void TLevelToColor::SetRange(float ZMin, float ZMax)
{
    // The scale is worked out in extended precision, so that ties land where a
    // long-double reference computation puts them.
    const long double lo = ZMin;
    const long double hi = ZMax;
    Valid = std::isfinite(ZMin) && std::isfinite(ZMax) && hi > lo;
    Min = lo;
    Factor = Valid ? SpektroPaletteLast / (hi - lo) : 0.0L;

    // Levels below floor(ZMin) - 1 and above ceil(ZMax) + 1 are clamped anyway.
    LevelPixels.clear();
    if (!Valid)
        return;
    const long double first = std::floor(lo) - 1;
    const long double last = std::ceil(hi) + 1;
    if (first < INT_MIN || last > INT_MAX || last - first > MaxTableLevels)
        return;
    TableLo = static_cast<int>(first);
    TableHi = static_cast<int>(last);
    LevelPixels.resize(std::size_t(TableHi - TableLo) + 1);
    for (int level = TableLo; level <= TableHi; ++level)
        LevelPixels[std::size_t(level - TableLo)] = Pixels[PaletteIndex(level)];
}

int TLevelToColor::PaletteIndex(int Level) const
{
    if (!Valid)
        return 0;
    const long double p = (static_cast<long double>(Level) - Min) * Factor;
    if (p <= -1.0L)
        return 0;
    if (p >= SpektroPaletteSize)
        return SpektroPaletteLast;
    const long r = std::lrint(p);
    return r < 0 ? 0 : (r > SpektroPaletteLast ? SpektroPaletteLast : static_cast<int>(r));
}

TBgr TLevelToColor::LevelToColor(int Level, std::uint8_t Mask) const
{
    const TSpektroPaletteTables& t = SpektroPalette();
    const int p = PaletteIndex(Level);
    return {static_cast<std::uint8_t>(t.BlueTable[p] ^ Mask),
            static_cast<std::uint8_t>(t.GreenTable[p] ^ Mask),
            static_cast<std::uint8_t>(t.RedTable[p] ^ Mask)};
}

void TLevelToColor::FillRow(const float* Levels, std::span<const std::int32_t> Columns,
                            std::uint32_t* Row) const
{
    const std::size_t width = Columns.size();
    const std::int32_t* __restrict columns = Columns.data();
    std::uint32_t* __restrict row = Row;
    constexpr int Limit = 4194304; // 2^22: where the rounding of RoundLevelFast holds
    if (LevelPixels.empty() || TableLo <= -Limit || TableHi >= Limit) {
        for (std::size_t x = 0; x < width; ++x)
            row[x] = Pixel(RoundLevel(Levels[columns[x]]));
        return;
    }
    // The table covers every level from TableLo to TableHi and the levels beyond get its end
    // pixels, so clamping first gives the same pixel, without a branch per column. NaN fails
    // the first comparison and counts as the lowest level, as RoundLevel has it.
    const std::uint32_t* __restrict table = LevelPixels.data();
    const float lo = static_cast<float>(TableLo);
    const float hi = static_cast<float>(TableHi);
    constexpr float Shift = 12582912.0f; // 1.5 * 2^23, as in RoundLevelFast
    for (std::size_t x = 0; x < width; ++x) {
        float v = Levels[columns[x]];
        v = v > lo ? v : lo;
        v = v < hi ? v : hi;
        row[x] = table[static_cast<int>((v + Shift) - Shift) - TableLo];
    }
}

void MapColumns(std::span<std::int32_t> ColumnIndex, int Lo, int Hi)
{
    const std::size_t w = ColumnIndex.size();
    if (w == 1) {
        ColumnIndex[0] = Lo;
        return;
    }
    const long long span = static_cast<long long>(Hi) - Lo;
    const long double last = static_cast<long double>(w - 1);
    for (std::size_t x = 0; x < w; ++x) {
        const long double pos = static_cast<long double>(span * static_cast<long long>(x)) / last;
        ColumnIndex[x] = static_cast<std::int32_t>(std::lrint(pos + Lo));
    }
}

void MapColumnsOnAxis(std::span<std::int32_t> ColumnIndex, int Count, double Origin,
                      double PerColumn)
{
    const double last = std::max(Count - 1, 0);
    for (std::size_t x = 0; x < ColumnIndex.size(); ++x) {
        const double at = Origin + (static_cast<double>(x) + 0.5) * PerColumn;
        // Clamped before rounding: a far origin must not overflow the conversion; NaN gives 0.
        const double inside = at > last ? last : (at >= 0.0 ? at : 0.0);
        ColumnIndex[x] = static_cast<std::int32_t>(std::lrint(inside));
    }
}

} // namespace quillex
