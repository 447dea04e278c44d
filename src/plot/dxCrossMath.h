#pragma once

// Qt-free arithmetic of the plot's interaction: pixel/value mappings of the hit tests, the
// snapping of a pointer to an equidistant sample, the bell profile of a reference bend and the
// number formats of the read-outs.

#include "dxPlotMath.h"

#include <string>
#include <vector>

namespace dxplot {

// Control geometry and view as the hit tests see them. Plot width and height are the gaps'
// complement (not reduced by one); the plot rectangle is (GapLeft, GapTop) .. (Width - GapRight,
// Height - GapBottom), bounds inclusive for pointer tests.
struct CrossGeometry
{
    int Width = 0, Height = 0;
    int GapLeft = 0, GapTop = 0, GapRight = 0, GapBottom = 0;
    float NominalMin = 0, NominalMax = 1;
    float CurrentMin = 0, CurrentMax = 1;
    float YMin = 0, YMax = 1;
    bool LogX = false, LogY = false;
    LogMapping LogXMap, LogYMap;

    int PlotW() const { return Width - GapLeft - GapRight; }
    int PlotH() const { return Height - GapTop - GapBottom; }
    bool InPlot(int x, int y) const
    {
        return GapLeft <= x && x <= Width - GapRight && GapTop <= y && y <= Height - GapBottom;
    }

    float PixelToX(int px) const;
    float PixelToY(int py) const;
    int XToPixel(float x) const;
    int YToPixel(float y) const;
};

struct Snap
{
    int Index;    // 1-based
    float ValueX; // X of that sample
};

// Nearest sample of an equidistant series of n >= 1 samples to the pointer column px, clamped to
// 1..n. A single sample is always the one.
Snap SnapIndex(const CrossGeometry& g, int n, int px);

// Pixel column of sample i (1-based, fractional) of an equidistant series of n samples, for the
// strip a reference bend redraws.
double SamplePixel(const CrossGeometry& g, int n, int i);

// Bell-shaped weights of a bend over n samples: 1.0 at the centre, close to 0 at the ends, the
// two outermost entries on each side damped further when n > 10.
void BuildRubberProfile(int n, std::vector<float>& weights);

// Read-out number format: 4 significant digits, fixed notation for 0.00001 <= |v| < 10000 (and 0),
// else d.dddE+dd; trailing zeros dropped; `point` is the decimal separator (UTF-8).
std::string FormatValue4(double value, const std::string& point);

// "#.##E-00" with the given decimal separator.
std::string FormatReadout(double value, const std::string& point);

} // namespace dxplot
