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

} // namespace dxplot
