#include "dxColumnSpans.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace dxplot {

void ColumnSpans::Reset(int left, int width)
{
    m_left = left;
    m_width = std::max(0, width);
    if (static_cast<int>(m_top.size()) < m_width) {
        m_top.resize(m_width);
        m_bottom.resize(m_width);
    }
    Clear();
}

void ColumnSpans::Clear()
{
    std::fill_n(m_top.begin(), m_width, INT_MAX);
    std::fill_n(m_bottom.begin(), m_width, INT_MIN);
}

void ColumnSpans::AddSlanted(int x0, int y0, int x1, int y1)
{
    // A step of one column puts the first half of its rows (halves rounding up) in its own
    // column, as the line drawing does; that is what keeps a carrier's column from widening
    // its neighbours' spans to the carrier's full height.
    const long long ady = std::llabs(static_cast<long long>(y1) - y0);
    if (std::abs(x1 - x0) == 1 && ady > 1) {
        const int sy = y1 < y0 ? -1 : 1;
        const int first = static_cast<int>((ady + 1) / 2);
        AddColumn(x0, y0, y0 + sy * (first - 1));
        AddColumn(x1, y0 + sy * first, y1);
        return;
    }
    const int first = std::max(std::min(x0, x1), m_left) - m_left;
    const int last = std::min(std::max(x0, x1), m_left + m_width - 1) - m_left;
    const int top = std::min(y0, y1), bottom = std::max(y0, y1);
    for (int c = first; c <= last; ++c) {
        m_top[c] = std::min(m_top[c], top);
        m_bottom[c] = std::max(m_bottom[c], bottom);
    }
}

bool ColumnSpans::Rows(int& top, int& bottom) const
{
    int t = INT_MAX, b = INT_MIN;
    for (int c = 0; c < m_width; ++c) {
        t = std::min(t, m_top[c]);
        b = std::max(b, m_bottom[c]);
    }
    if (t > b)
        return false;
    top = t;
    bottom = b;
    return true;
}

void ColumnSpans::AddPolyline(const Point* p, int count)
{
    for (int i = 1; i < count; ++i)
        AddLine(p[i - 1].x, p[i - 1].y, p[i].x, p[i].y);
}

void ColumnSpans::Restore(const RasterTarget& t, const ColumnBackground& background,
                          int firstColumn, int lastColumn) const
{
    const int first = std::max({m_left, t.ClipLeft, firstColumn});
    const int last = std::min({m_left + m_width - 1, t.ClipRight - 1, lastColumn});
    const std::ptrdiff_t stride = t.Stride;
    for (int x = first; x <= last; ++x) {
        const int c = x - m_left;
        const int top = std::max(m_top[c], t.ClipTop);
        const int bottom = std::min(m_bottom[c], t.ClipBottom - 1);
        if (top > bottom)
            continue;
        const std::uint32_t* from = background.Column(x) + (top - background.Top());
        std::uint32_t* to = t.Bits + top * stride + x;
        for (int y = top; y <= bottom; ++y, to += stride)
            *to = *from++;
    }
}

int ColumnBackground::Share(const std::uint32_t* bits, int stride, int candidate)
{
    // Row by row (as the pixels lie), each column is compared with the candidate's pixel. Locals
    // only in the loop: a byte store could otherwise alias the members and stop vectorising.
    unsigned char* const alike = m_alike.data();
    std::uint32_t* const shared = m_pixels.data();
    const int width = m_width, height = m_height;
    std::fill_n(alike, width, 1);
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* row = bits + std::ptrdiff_t(m_top + y) * stride + m_left;
        const std::uint32_t pixel = row[candidate];
        shared[y] = pixel;
        for (int x = 0; x < width; ++x)
            alike[x] &= static_cast<unsigned char>(row[x] == pixel);
    }
    return width - static_cast<int>(std::count(alike, alike + width, 1));
}

void ColumnBackground::Keep(const std::uint32_t* bits, int stride, int left, int top, int width,
                            int height)
{
    m_left = left;
    m_top = top;
    m_width = std::max(0, width);
    m_height = std::max(0, height);
    if (m_offset.size() < std::size_t(m_width)) {
        m_offset.resize(m_width);
        m_alike.resize(m_width);
    }
    if (m_pixels.size() < std::size_t(m_height))
        m_pixels.resize(m_height);
    if (m_width == 0 || m_height == 0)
        return;
    // The middle column, or beside it if that one is a grid line most others differ from.
    m_own = Share(bits, stride, m_width / 2);
    if (m_own > m_width / 2)
        m_own = Share(bits, stride, std::min(m_width - 1, m_width / 2 + 7));
    const std::size_t size = std::size_t(m_own + 1) * std::size_t(m_height);
    if (m_pixels.size() < size)
        m_pixels.resize(size);
    std::size_t next = m_height;
    for (int x = 0; x < m_width; ++x) {
        if (m_alike[x]) {
            m_offset[x] = 0;
            continue;
        }
        m_offset[x] = next;
        for (int y = 0; y < m_height; ++y)
            m_pixels[next + y] = bits[std::ptrdiff_t(m_top + y) * stride + m_left + x];
        next += m_height;
    }
}

CurveSweep::CurveSweep(const ColumnSpans& previous, ColumnSpans& next, const RasterTarget& restore,
                       const ColumnBackground& background)
    : m_previous(previous), m_next(next), m_restore(restore), m_background(background),
      m_done(restore.ClipLeft)
{
}

void CurveSweep::RestoreTo(int x)
{
    if (x < m_done)
        return;
    m_previous.Restore(m_restore, m_background, m_done, x);
    m_done = x + 1;
}

void CurveSweep::Polyline(const RasterTarget& t, const Point* p, int count, std::uint32_t c)
{
    const int lastColumn = m_restore.ClipRight - 1;
    for (int i = 1; i < count; ++i) {
        const Point a = p[i - 1], b = p[i];
        const int right = std::max(a.x, b.x);
        if (right >= m_done)
            RestoreTo(std::min(right, lastColumn));
        // The curve's own shapes inline: a column, and a step of one column whose first half
        // (halves rounding up) stays in its column, as DrawLine draws them.
        const int dy = b.y - a.y;
        if (a.x == b.x) {
            DrawColumn(t, a.x, a.y, b.y, c);
            m_next.AddColumn(a.x, a.y, b.y);
        } else if (std::abs(b.x - a.x) == 1 && std::abs(dy) > 1 && std::abs(dy) < (1 << 30)) {
            const int half = (std::abs(dy) + 1) / 2;
            const int mid = a.y + (dy > 0 ? half : -half);
            DrawColumn(t, a.x, a.y, mid, c);
            DrawColumn(t, b.x, mid, b.y, c);
            m_next.AddColumn(a.x, a.y, mid - (dy > 0 ? 1 : -1));
            m_next.AddColumn(b.x, mid, b.y);
        } else {
            DrawLine(t, a.x, a.y, b.x, b.y, c);
            m_next.AddLine(a.x, a.y, b.x, b.y);
        }
    }
}

void CurveSweep::Finish()
{
    RestoreTo(m_restore.ClipRight - 1);
}

} // namespace dxplot
