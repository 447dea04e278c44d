#include "SpektroNeuScale.h"

#include <algorithm>
#include <cmath>

namespace quillex {

namespace {

int RowOf(double Level, int Rows, double ZMin, double ZMax)
{
    if (Rows <= 1 || !(ZMax > ZMin))
        return 0;
    return static_cast<int>(std::lround((ZMax - Level) / (ZMax - ZMin) * (Rows - 1)));
}

// 1, 2, 5, 10, 20, 50, ... dB: the smallest whose labels are MinSpacing rows apart.
double LabelStep(double ZMin, double ZMax, int Rows, int MinSpacing)
{
    const double rowsPerDb = (Rows - 1) / (ZMax - ZMin);
    for (double decade = 1; decade < 1e9; decade *= 10)
        for (double factor : {1.0, 2.0, 5.0})
            if (factor * decade * rowsPerDb >= MinSpacing)
                return factor * decade;
    return 0;
}

} // namespace

double LegendLevel(int Row, int Rows, double ZMin, double ZMax)
{
    if (Rows <= 1)
        return ZMin;
    return ZMax - (ZMax - ZMin) * Row / (Rows - 1);
}

std::vector<TLegendTick> LegendTicks(double ZMin, double ZMax, double Offset, int Rows,
                                     int MinSpacing, int EndSpacing)
{
    std::vector<TLegendTick> ticks;
    if (Rows <= 0 || !std::isfinite(ZMin) || !std::isfinite(ZMax) || !std::isfinite(Offset))
        return ticks;
    const auto add = [&](double Level) {
        ticks.push_back({Level, Level + Offset, RowOf(Level, Rows, ZMin, ZMax)});
    };
    add(ZMax);
    if (!(ZMax > ZMin))
        return ticks;
    const double step = LabelStep(ZMin, ZMax, Rows, std::max(MinSpacing, 1));
    if (step > 0) {
        const int top = RowOf(ZMax, Rows, ZMin, ZMax);
        const int bottom = RowOf(ZMin, Rows, ZMin, ZMax);
        // Shown values that are multiples of the step, from the top down.
        for (double shown = std::floor((ZMax + Offset) / step) * step; shown > ZMin + Offset;
             shown -= step) {
            const double level = shown - Offset;
            const int row = RowOf(level, Rows, ZMin, ZMax);
            if (level < ZMax && row - top >= EndSpacing && bottom - row >= EndSpacing)
                ticks.push_back({level, shown, row});
        }
    }
    add(ZMin);
    return ticks;
}

} // namespace quillex
