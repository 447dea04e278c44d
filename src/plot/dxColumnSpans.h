#pragma once

// Qt-free record of the device rows the curves covered in each device column of the plot area.
// A new frame puts back only those pixels from a copy of the plot area's background instead of
// filling the whole area: on a high-density surface the fill alone took most of a frame.

#include "dxRaster.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace dxplot {

// The plot area's device pixels without the curves, kept column by column, so that putting
// back a column's span reads one contiguous run. Most columns of a plot area are alike (the
// background with the horizontal grid lines): those share one copy, which stays in the cache; the
// others (vertical grid lines, a title reaching in) are kept each.
class ColumnBackground
{
public:
    // Copies the rectangle (left, top, width, height) of the rows `bits` (`stride` pixels
    // apart). Storage is kept while it does not need to grow.
    void Keep(const std::uint32_t* bits, int stride, int left, int top, int width, int height);
    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // The pixels of device column x from the top row down.
    const std::uint32_t* Column(int x) const { return m_pixels.data() + m_offset[x - m_left]; }
    // Columns kept apart from the shared one.
    int OwnColumns() const { return m_own; }

private:
    int Share(const std::uint32_t* bits, int stride, int candidate);

    std::vector<std::uint32_t> m_pixels; // the shared column, then each other column
    std::vector<std::size_t> m_offset;   // per column, into m_pixels
    std::vector<unsigned char> m_alike;  // per column: equals the shared one
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0, m_own = 0;
};

class ColumnSpans
{
public:
    // Columns left .. left + width - 1, all empty. Storage is kept while the width does not grow.
    void Reset(int left, int width);
    void Clear();
    // Each column's span grows to hold the line's pixels in it, end pixel included: exactly for
    // lines along a column and steps of one column, the bounding box for others.
    void AddLine(int x0, int y0, int x1, int y1)
    {
        if (x0 == x1)
            AddColumn(x0, y0, y1);
        else
            AddSlanted(x0, y0, x1, y1);
    }
    void AddPolyline(const Point* p, int count);
    // Rows y0 .. y1 (either order) of column x.
    void AddColumn(int x, int y0, int y1)
    {
        const int c = x - m_left;
        if (c < 0 || c >= m_width)
            return;
        m_top[c] = std::min(m_top[c], std::min(y0, y1));
        m_bottom[c] = std::max(m_bottom[c], std::max(y0, y1));
    }
    // The rows all spans cover together; false when there are none.
    bool Rows(int& top, int& bottom) const;
    // Copies the spanned pixels of columns first .. last inside the target's clip (which must lie
    // inside the background's area) from the background.
    void Restore(const RasterTarget& t, const ColumnBackground& background, int first = -(1 << 30),
                 int last = 1 << 30) const;

private:
    void AddSlanted(int x0, int y0, int x1, int y1);

    int m_left = 0;
    int m_width = 0;
    std::vector<int> m_top;    // per column; empty while top > bottom
    std::vector<int> m_bottom; // inclusive
};

// New curves drawn over old ones: each column gets its old curves' pixels back from the background
// just before the first new line reaches it, while its pixels are at hand, and the columns no new
// line reaches at the end. What the new lines draw is recorded for the next frame.
class CurveSweep
{
public:
    // `previous` holds the old curves' spans, `next` (cleared by the caller) receives the new.
    CurveSweep(const ColumnSpans& previous, ColumnSpans& next, const RasterTarget& restore,
               const ColumnBackground& background);
    // A solid polyline, drawn into `t` as DrawPolyline does.
    void Polyline(const RasterTarget& t, const Point* p, int count, std::uint32_t c);
    void Finish();

private:
    void RestoreTo(int x);

    const ColumnSpans& m_previous;
    ColumnSpans& m_next;
    RasterTarget m_restore;
    const ColumnBackground& m_background;
    int m_done; // columns left of this have their old pixels back
};

} // namespace dxplot
