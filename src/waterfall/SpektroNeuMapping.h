#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

// The waterfall's pure mappings: level to palette colour and level index to pixel column.
// No Qt here, so they can be tested and reused without a widget.
namespace quillex {

inline constexpr int SpektroPaletteSize = 1280;
inline constexpr int SpektroPaletteLast = SpektroPaletteSize - 1;
inline constexpr std::uint8_t SpektroHighlightMask = 37;

struct TBgr
{
    std::uint8_t Blue = 0;
    std::uint8_t Green = 0;
    std::uint8_t Red = 0;
    friend bool operator==(const TBgr&, const TBgr&) = default;
};

// Black through blue, cyan, green and yellow to red, five segments of 256 entries.
struct TSpektroPaletteTables
{
    std::array<std::uint8_t, SpektroPaletteSize> RedTable{};
    std::array<std::uint8_t, SpektroPaletteSize> GreenTable{};
    std::array<std::uint8_t, SpektroPaletteSize> BlueTable{};
};
const TSpektroPaletteTables& SpektroPalette();

// A level in the waterfall's integer resolution: nearest integer, ties to even. NaN counts as
// the lowest level and values beyond the int range are clamped, so no input is undefined.
int RoundLevel(float Level);
// RoundLevel for levels within +-2^22, inline for the per-column loops: adding and taking
// away 1.5 * 2^23 rounds to an integer, ties to even (the default rounding, as lrint's).
inline int RoundLevelFast(float Level)
{
    constexpr float Limit = 4194304.0f;  // 2^22
    constexpr float Shift = 12582912.0f; // 1.5 * 2^23: sums lie in [2^23, 2^24), spacing 1
    if (Level > -Limit && Level < Limit)
        return static_cast<int>((Level + Shift) - Shift);
    return RoundLevel(Level);
}

// Maps integer levels to palette entries for one ZMin..ZMax range. ZMin maps to entry 0 and
// ZMax to the last entry. A range that is empty, reversed or not finite cannot be scaled, so
// every level then shows entry 0 (black) rather than dividing by zero.
class TLevelToColor
{
public:
    TLevelToColor();
    void SetRange(float ZMin, float ZMax);
    bool RangeValid() const { return Valid; }

    int PaletteIndex(int Level) const;
    TBgr LevelToColor(int Level, std::uint8_t Mask) const;
    // The same colour as a 32-bit 0xffRRGGBB pixel, whose bytes in memory on a little-endian
    // machine are blue, green, red, 0xff.
    std::uint32_t LevelToPixel(int Level, std::uint8_t Mask) const
    {
        return Pixel(Level) ^ (Mask * 0x010101u);
    }
    // One waterfall row without highlighting: column x gets the pixel of the level
    // Levels[Columns[x]] rounded as RoundLevel does. Every index must lie within Levels.
    void FillRow(const float* Levels, std::span<const std::int32_t> Columns,
                 std::uint32_t* Row) const;

private:
    std::uint32_t Pixel(int Level) const
    {
        if (LevelPixels.empty())
            return Pixels[PaletteIndex(Level)];
        if (Level < TableLo)
            return Pixels.front();
        if (Level > TableHi)
            return Pixels.back();
        return LevelPixels[std::size_t(Level - TableLo)];
    }

    std::array<std::uint32_t, SpektroPaletteSize> Pixels{};
    // Pixels of every integer level from TableLo to TableHi, so a row costs one lookup per
    // column; empty when the range is too wide for a table.
    std::vector<std::uint32_t> LevelPixels;
    int TableLo = 0;
    int TableHi = 0;
    long double Min = 0;
    long double Factor = 0;
    bool Valid = false;
};

// Device pixels at a device pixel ratio (the screen's pixels per logical pixel). The layout is
// worked out in logical pixels; these turn its lengths into whole device pixels.
// A logical length or position from an edge: the nearest whole number of device pixels.
inline int DeviceLength(int Logical, double Ratio)
{
    return static_cast<int>(std::lround(Logical * Ratio));
}
// A line one logical pixel wide: whole device pixels, never none, so it is never blurred.
inline int DeviceLineWidth(double Ratio)
{
    return std::max(1, static_cast<int>(std::lround(Ratio)));
}
// Rows of the waterfall are one logical pixel high on average: row n of an endless strip starts
// at device row RowEdge(n) and ends before RowEdge(n + 1). At a fractional ratio some rows take
// one device row more than others, and every row keeps its height while it scrolls. Below a ratio
// of 1 every row takes one device row.
inline std::int64_t RowEdge(std::int64_t Row, double Ratio)
{
    return static_cast<std::int64_t>(std::floor(static_cast<double>(Row) * std::max(Ratio, 1.0)));
}
inline int RowHeight(std::int64_t Row, double Ratio)
{
    return static_cast<int>(RowEdge(Row + 1, Ratio) - RowEdge(Row, Ratio));
}

// Column x of ColumnIndex gets the value index nearest to its proportional position between
// Lo (first column) and Hi (last column), ties to even. A single column gets Lo.
void MapColumns(std::span<std::int32_t> ColumnIndex, int Lo, int Hi);

// Columns on a value axis shared with another view (a plot above): value index Origin lies at
// the left edge of column 0 and PerColumn indices pass per column. Column x gets the index
// nearest to its centre, Origin + (x + 0.5) * PerColumn, clamped to 0 .. Count - 1, so each
// value fills the columns nearer to it than to its neighbours and the edge values fill the
// rest. Count < 1 maps every column to 0.
void MapColumnsOnAxis(std::span<std::int32_t> ColumnIndex, int Count, double Origin,
                      double PerColumn);

} // namespace quillex
