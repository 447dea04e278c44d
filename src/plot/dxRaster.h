#pragma once

// Qt-free drawing of solid one-pixel lines straight into 32-bit pixel rows. Lines follow the
// canvas rule that the end pixel is not set, so a polyline's vertices are drawn once.

#include "dxSeriesPoints.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace dxplot {

struct RasterTarget
{
    std::uint32_t* Bits = nullptr;
    int Stride = 0; // pixels per row
    // Clip, right and bottom exclusive; must lie inside the image.
    int ClipLeft = 0, ClipTop = 0, ClipRight = 0, ClipBottom = 0;
};

void FillRect(const RasterTarget& t, int left, int top, int right, int bottom, std::uint32_t c);

// Pixels from (x, y0) towards (x, y1), the end pixel excluded, inside the clip: the vertical
// line DrawLine draws, inline for the per-frame curve.
inline void DrawColumn(const RasterTarget& t, int x, int y0, int y1, std::uint32_t c)
{
    if (x < t.ClipLeft || x >= t.ClipRight || y0 == y1)
        return;
    const int lo = std::max(y1 > y0 ? y0 : y1 + 1, t.ClipTop);
    const int hi = std::min(y1 > y0 ? y1 - 1 : y0, t.ClipBottom - 1);
    if (lo > hi)
        return;
    const std::ptrdiff_t stride = t.Stride;
    std::uint32_t* p = t.Bits + lo * stride + x;
    for (int y = lo; y <= hi; ++y, p += stride)
        *p = c;
}
void DrawLine(const RasterTarget& t, int x0, int y0, int x1, int y1, std::uint32_t c);
void DrawPolyline(const RasterTarget& t, const Point* p, int count, std::uint32_t c);

// Inverting pen: each pixel becomes NOT(pen XOR pixel), colour bits only, so drawing the same
// line twice restores the pixels exactly.
constexpr std::uint32_t NotXorPixel(std::uint32_t pixel, std::uint32_t pen)
{
    return (~(pixel ^ pen) & 0x00FFFFFFu) | (pixel & 0xFF000000u);
}
void NotXorLine(const RasterTarget& t, int x0, int y0, int x1, int y1, std::uint32_t c);
void NotXorPolyline(const RasterTarget& t, const Point* p, int count, std::uint32_t c);
// Dotted outline of (left, top, right, bottom), right and bottom exclusive, inverted; an empty
// rectangle draws nothing. The outline is `dot` pixels thick and its dots are dot x dot squares
// on a checkerboard of that size (one logical pixel on a high-density surface). Every pixel is
// inverted at most once, so drawing it twice restores the pixels.
void InvertFocusRect(const RasterTarget& t, int left, int top, int right, int bottom, int dot = 1);

} // namespace dxplot
