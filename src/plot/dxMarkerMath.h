#pragma once

// Qt-free placement of a measuring marker's mark: where its tip lies in client pixels.

#include "dxCrossMath.h"

namespace dxplot {

struct MarkerTip
{
    bool Shown = false;
    double X = 0, Y = 0; // fractional client pixels; a pixel covers [k, k + 1)
};

// The tip of a mark standing on the point (x, y) in axis values, at the fractional pixel the
// curves put that point at (the column holding x, the top edge of the row holding y). Hidden
// when x lies outside the plot; y is limited so that a mark reaching `above` pixels up from its
// tip stays inside the plot.
MarkerTip PlaceMarkerTip(const CrossGeometry& g, float x, float y, int above);

// The client columns [Left, Right) a shaded band from x1 to x2 (axis values, either order)
// covers: the columns holding its edges and all between, cut to the plot. A band narrower than
// a column still shades the one holding it; a band outside the plot is not shown.
struct ShadeColumns
{
    bool Shown = false;
    int Left = 0, Right = 0;
};
ShadeColumns PlaceShade(const CrossGeometry& g, float x1, float x2);

} // namespace dxplot
