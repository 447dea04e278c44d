#pragma once

#include <vector>

// The level scale beside the waterfall: which level each row of its colour bar shows and where
// its labels go. No Qt here, so the rule can be tested on its own.
namespace quillex {

// The level a row of a bar of Rows rows shows: ZMax in the top row (0), ZMin in the bottom row,
// evenly in between. A bar of one row shows ZMin.
double LegendLevel(int Row, int Rows, double ZMin, double ZMax);

struct TLegendTick
{
    double Level = 0; // on the waterfall's scale
    double Shown = 0; // the number the label shows: Level plus the level offset
    int Row = 0;      // the bar's row nearest to Level
};

// The labels of a bar of Rows rows from ZMin to ZMax: both ends, and between them the levels
// whose shown value (level plus Offset) is a multiple of the smallest step of 1, 2 or 5 times
// a power of ten that puts them at least MinSpacing rows apart. A label nearer than EndSpacing
// to an end is left out (the texts of the ends stand inside the bar's height, not centred on
// their ticks). Ordered from the top (ZMax) down.
std::vector<TLegendTick> LegendTicks(double ZMin, double ZMax, double Offset, int Rows,
                                     int MinSpacing, int EndSpacing);

} // namespace quillex
