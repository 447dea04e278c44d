#include "dxRaster.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace dxplot {

void FillRect(const RasterTarget& t, int left, int top, int right, int bottom, std::uint32_t c)
{
    left = std::max(left, t.ClipLeft);
    top = std::max(top, t.ClipTop);
    right = std::min(right, t.ClipRight);
    bottom = std::min(bottom, t.ClipBottom);
    if (left >= right || top >= bottom)
        return;
    for (int y = top; y < bottom; ++y)
        std::fill(t.Bits + std::ptrdiff_t(y) * t.Stride + left,
                  t.Bits + std::ptrdiff_t(y) * t.Stride + right, c);
}

namespace {

using i64 = std::int64_t;

// Smallest integer >= a / b for b > 0.
i64 CeilDiv(i64 a, i64 b)
{
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// Line stepping along a major axis: the minor offset of step t is round(t * dMinor / dMajor)
// with halves rounded up. Steps 0 .. dMajor - 1 are drawn (the end pixel is not).
// major0/minor0: start; sMaj/sMin: directions; [majLo, majHi] and [minLo, minHi] the clip.
// step(major, minor, pixels, remainder, twoMajor, twoMinor) draws the visible part.
template <class Step>
void StepLine(int major0, int minor0, i64 dMaj, i64 dMin, int sMaj, int sMin, int majLo, int majHi,
              int minLo, int minHi, Step&& step)
{
    // Step range inside the clip along the major axis.
    i64 tLo, tHi;
    if (sMaj > 0) {
        tLo = std::max<i64>(0, i64(majLo) - major0);
        tHi = std::min<i64>(dMaj - 1, i64(majHi) - major0);
    } else {
        tLo = std::max<i64>(0, i64(major0) - majHi);
        tHi = std::min<i64>(dMaj - 1, i64(major0) - majLo);
    }
    // Offset range inside the clip along the minor axis.
    i64 oLo, oHi;
    if (sMin > 0) {
        oLo = i64(minLo) - minor0;
        oHi = i64(minHi) - minor0;
    } else {
        oLo = i64(minor0) - minHi;
        oHi = i64(minor0) - minLo;
    }
    oLo = std::max<i64>(oLo, 0);
    if (oHi < oLo)
        return;
    const i64 twoMaj = 2 * dMaj;
    if (dMin == 0) {
        if (oLo > 0)
            return;
    } else {
        // offset(t) >= oLo  <=>  2 t dMin + dMaj >= 2 dMaj oLo
        tLo = std::max(tLo, CeilDiv(twoMaj * oLo - dMaj, 2 * dMin));
        // offset(t) <= oHi  <=>  2 t dMin + dMaj < 2 dMaj (oHi + 1)
        tHi = std::min(tHi, CeilDiv(twoMaj * (oHi + 1) - dMaj, 2 * dMin) - 1);
    }
    if (tLo > tHi)
        return;
    const i64 num = 2 * tLo * dMin + dMaj;
    const i64 off = num / twoMaj;
    i64 rem = num % twoMaj;
    const int maj = static_cast<int>(major0 + sMaj * tLo);
    const int min = static_cast<int>(minor0 + sMin * off);
    step(maj, min, static_cast<int>(tHi - tLo + 1), rem, twoMaj, 2 * dMin);
}

} // namespace

namespace {

// `n` pixels from (x, y) along y in direction sy, inside the clip.
template <class Put> void ColumnRun(const RasterTarget& t, int x, i64 y, i64 n, int sy, Put&& put)
{
    if (n <= 0 || x < t.ClipLeft || x >= t.ClipRight)
        return;
    const i64 lo = std::max<i64>(sy > 0 ? y : y - n + 1, t.ClipTop);
    const i64 hi = std::min<i64>(sy > 0 ? y + n - 1 : y, t.ClipBottom - 1);
    if (lo > hi)
        return;
    // The stride in a local: stores through the pixel pointer could alias the target.
    const std::ptrdiff_t stride = t.Stride;
    std::uint32_t* p = t.Bits + std::ptrdiff_t(lo) * stride + x;
    for (i64 r = lo; r <= hi; ++r, p += stride)
        put(*p);
}

// `n` pixels from (x, y) along x in direction sx, inside the clip.
template <class Put> void RowRun(const RasterTarget& t, i64 x, int y, i64 n, int sx, Put&& put)
{
    if (n <= 0 || y < t.ClipTop || y >= t.ClipBottom)
        return;
    const i64 lo = std::max<i64>(sx > 0 ? x : x - n + 1, t.ClipLeft);
    const i64 hi = std::min<i64>(sx > 0 ? x + n - 1 : x, t.ClipRight - 1);
    if (lo > hi)
        return;
    std::uint32_t* p = t.Bits + std::ptrdiff_t(y) * t.Stride;
    for (i64 c = lo; c <= hi; ++c)
        put(p[c]);
}

// Walks the pixels of a line (end pixel excluded) inside the clip and applies `put` to each.
template <class Put> void WalkLine(const RasterTarget& t, int x0, int y0, int x1, int y1, Put&& put)
{
    if (t.ClipLeft >= t.ClipRight || t.ClipTop >= t.ClipBottom)
        return;
    const i64 dx = i64(x1) - x0;
    const i64 dy = i64(y1) - y0;
    const i64 adx = std::llabs(dx);
    const i64 ady = std::llabs(dy);
    if (adx == 0 && ady == 0)
        return;
    const int sx = dx < 0 ? -1 : 1;
    const int sy = dy < 0 ? -1 : 1;
    // A decimated curve is vertical runs joined by steps of one column: those, and lines along
    // an axis, are one or two straight runs (the first half of a one-column step stays in its
    // column, rounding halves up), with no stepping arithmetic.
    if (adx == 0) {
        ColumnRun(t, x0, y0, ady, sy, put);
        return;
    }
    if (ady == 0) {
        RowRun(t, x0, y0, adx, sx, put);
        return;
    }
    if (adx == 1 && ady > 1) {
        const i64 first = (ady + 1) / 2;
        ColumnRun(t, x0, y0, first, sy, put);
        ColumnRun(t, x1, y0 + sy * first, ady - first, sy, put);
        return;
    }
    if (ady == 1 && adx > 1) {
        const i64 first = (adx + 1) / 2;
        RowRun(t, x0, y0, first, sx, put);
        RowRun(t, x0 + sx * first, y1, adx - first, sx, put);
        return;
    }
    std::uint32_t* const bits = t.Bits;
    const std::ptrdiff_t stride = t.Stride;
    // Pixel pointer walks: one step along the major axis, a minor step when the remainder
    // overflows. Vertical runs (the bulk of a decimated curve) never take the minor branch.
    if (adx >= ady) {
        StepLine(x0, y0, adx, ady, sx, sy, t.ClipLeft, t.ClipRight - 1, t.ClipTop, t.ClipBottom - 1,
                 [&](int x, int y, int n, i64 rem, i64 twoMaj, i64 twoMin) {
                     std::uint32_t* p = bits + y * stride + x;
                     const std::ptrdiff_t minorStep = sy * stride;
                     for (; n > 0; --n, p += sx) {
                         put(*p);
                         rem += twoMin;
                         if (rem >= twoMaj) {
                             rem -= twoMaj;
                             p += minorStep;
                         }
                     }
                 });
    } else {
        StepLine(y0, x0, ady, adx, sy, sx, t.ClipTop, t.ClipBottom - 1, t.ClipLeft, t.ClipRight - 1,
                 [&](int y, int x, int n, i64 rem, i64 twoMaj, i64 twoMin) {
                     std::uint32_t* p = bits + y * stride + x;
                     const std::ptrdiff_t majorStep = sy * stride;
                     if (twoMin == 0) {
                         for (; n > 0; --n, p += majorStep)
                             put(*p);
                         return;
                     }
                     for (; n > 0; --n, p += majorStep) {
                         put(*p);
                         rem += twoMin;
                         if (rem >= twoMaj) {
                             rem -= twoMaj;
                             p += sx;
                         }
                     }
                 });
    }
}

} // namespace

void DrawLine(const RasterTarget& t, int x0, int y0, int x1, int y1, std::uint32_t c)
{
    WalkLine(t, x0, y0, x1, y1, [c](std::uint32_t& p) { p = c; });
}

void NotXorLine(const RasterTarget& t, int x0, int y0, int x1, int y1, std::uint32_t c)
{
    WalkLine(t, x0, y0, x1, y1, [c](std::uint32_t& p) { p = NotXorPixel(p, c); });
}

void DrawPolyline(const RasterTarget& t, const Point* p, int count, std::uint32_t c)
{
    for (int i = 1; i < count; ++i)
        DrawLine(t, p[i - 1].x, p[i - 1].y, p[i].x, p[i].y, c);
}

void NotXorPolyline(const RasterTarget& t, const Point* p, int count, std::uint32_t c)
{
    for (int i = 1; i < count; ++i)
        NotXorLine(t, p[i - 1].x, p[i - 1].y, p[i].x, p[i].y, c);
}

void InvertFocusRect(const RasterTarget& t, int left, int top, int right, int bottom, int dot)
{
    if (left >= right || top >= bottom || dot < 1)
        return;
    // Every other square of the outline, on the screen's checkerboard.
    auto invert = [&](int x0, int y0, int x1, int y1) {
        x0 = std::max(x0, t.ClipLeft);
        y0 = std::max(y0, t.ClipTop);
        x1 = std::min(x1, t.ClipRight);
        y1 = std::min(y1, t.ClipBottom);
        for (int y = y0; y < y1; ++y) {
            std::uint32_t* row = t.Bits + std::ptrdiff_t(y) * t.Stride;
            for (int x = x0; x < x1; ++x)
                if (((x / dot + y / dot) & 1) == 0)
                    row[x] ^= 0x00FFFFFFu;
        }
    };
    // Bands that would overlap become one, so no pixel is inverted twice.
    const bool twoRows = bottom - top >= 2 * dot;
    const bool twoColumns = right - left >= 2 * dot;
    const int topEnd = twoRows ? top + dot : bottom;
    invert(left, top, right, topEnd);
    if (twoRows)
        invert(left, bottom - dot, right, bottom);
    const int innerTop = topEnd;
    const int innerBottom = twoRows ? bottom - dot : bottom;
    const int leftEnd = twoColumns ? left + dot : right;
    invert(left, innerTop, leftEnd, innerBottom);
    if (twoColumns)
        invert(right - dot, innerTop, right, innerBottom);
}

} // namespace dxplot
