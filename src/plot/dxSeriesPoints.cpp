#include "dxSeriesPoints.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace dxplot {

void PointSink::Push(int x, int y)
{
    if (!Usable())
        return;
    if (m_count == m_capacity) {
        m_out.Polyline(m_buf, m_count);
        m_buf[0] = m_buf[m_count - 1];
        m_count = 1;
    }
    m_buf[m_count++] = Point{x, y};
}

void PointSink::Finish()
{
    if (m_count >= 2)
        m_out.Polyline(m_buf, m_count);
    m_count = 0;
}

int SeriesMapping::XPixelOfValue(double x) const
{
    if (LogX)
        return LogXMap.ToPixel(x, Scale);
    if (x < XLeftValue)
        return -Limit;
    if (!(x <= XRightValue))
        return Limit;
    return TruncClamp(x * XScale + XOff, -Limit, Limit);
}

namespace {

void SetY(SeriesMapping& m, const ViewRange& view, const PlotBox& plot, bool logY,
          const LogMapping& ly)
{
    m.LogY = logY;
    m.LogYMap = ly;
    const double h = plot.Bottom - plot.Top;
    const double range = view.YMax - view.YMin;
    const double s = m.Scale;
    m.YScale = -h / range * s;
    // A value lands one logical pixel below its truncated position: at scale s that is
    // trunc(s * (y + 1)), written so that YPixel's "+ 1" stays and scale 1 is the plain rule.
    m.YOff = (h * view.YMin / range + plot.Bottom) * s + (s - 1.0);
    m.YTopValue = (-m.Limit - m.YOff) / m.YScale;
    m.YBottomValue = (m.Limit - m.YOff) / m.YScale;
}

} // namespace

SeriesMapping MakeEquidistantMapping(const ViewRange& view, const PlotBox& plot, int count,
                                     bool logX, bool logY, const LogMapping& lx,
                                     const LogMapping& ly, int limit, double scale)
{
    SeriesMapping m;
    m.Limit = limit;
    m.Scale = scale;
    m.LogX = logX;
    m.LogXMap = lx;
    m.NominalMin = view.NominalMin;
    SetY(m, view, plot, logY, ly);
    if (count < 2)
        return m;
    const double w = plot.Right - plot.Left;
    const double cur = view.CurrentMax - view.CurrentMin;
    const double nom = view.NominalMax - view.NominalMin;
    m.Dx = nom / (count - 1);
    const double xScale = nom * w / cur / (count - 1);
    m.XScale = xScale * scale;
    m.XOff = ((view.NominalMin - view.CurrentMin) * w / cur + plot.Left - xScale) * scale;
    return m;
}

SeriesMapping MakePairMapping(const ViewRange& view, const PlotBox& plot, bool logX, bool logY,
                              const LogMapping& lx, const LogMapping& ly, int limit, double scale)
{
    SeriesMapping m;
    m.Limit = limit;
    m.Scale = scale;
    m.LogX = logX;
    m.LogXMap = lx;
    SetY(m, view, plot, logY, ly);
    const double w = plot.Right - plot.Left;
    const double xScale = w / (view.CurrentMax - view.CurrentMin);
    m.XScale = xScale * scale;
    m.XOff = (plot.Left - view.CurrentMin * xScale) * scale;
    m.XLeftValue = (-limit - m.XOff) / m.XScale;
    m.XRightValue = (limit - m.XOff) / m.XScale;
    return m;
}

IndexRange VisibleIndexRange(const SeriesMapping& m, const ViewRange& view, int count, int clipLeft,
                             int clipRight)
{
    // A single sample has no X step: there is no line to draw.
    if (count < 2)
        return {1, 0};
    const double nom = view.NominalMax - view.NominalMin;
    IndexRange r{1, count};
    if (view.CurrentMin > view.NominalMin)
        r.First = std::max(
            1, TruncClamp((view.CurrentMin - view.NominalMin) / nom * count, INT_MIN, INT_MAX));
    if (view.CurrentMax < view.NominalMax) {
        const int t =
            TruncClamp((view.CurrentMax - view.NominalMin) / nom * count, INT_MIN + 1, INT_MAX - 1);
        r.Last = std::min(count, m.LogX ? t : t + 1);
    }
    double atLeft, atRight;
    if (m.LogX) {
        const double x0 = view.NominalMin - m.Dx;
        atLeft = (m.LogXMap.ToValue(clipLeft / m.Scale) - x0) / m.Dx;
        atRight = (m.LogXMap.ToValue(clipRight / m.Scale) - x0) / m.Dx;
    } else {
        atLeft = (clipLeft - m.XOff) / m.XScale;
        atRight = (clipRight - m.XOff) / m.XScale;
    }
    const int fromClip = TruncClamp(atLeft, INT_MIN + 1, INT_MAX) - 1;
    if (fromClip > r.First)
        r.First = fromClip;
    const int toClip = TruncClamp(atRight, INT_MIN, INT_MAX - 1) + 1;
    if (toClip < r.Last)
        r.Last = toClip;
    return r;
}

void CollectPlain(const SeriesMapping& m, const float* data, IndexRange r, PointSink& sink)
{
    for (int i = r.First; i <= r.Last; ++i)
        sink.Push(m.XPixelOfIndex(i), m.YPixel(data[i - 1]));
}

namespace {

void CloseColumn(const SeriesMapping& m, int col, float lo, float hi, float start, PointSink& sink)
{
    if (start > lo && start <= hi) {
        sink.Push(col, m.YPixel(hi));
        sink.Push(col, m.YPixel(lo));
    } else {
        sink.Push(col, m.YPixel(lo));
        sink.Push(col, m.YPixel(hi));
    }
}

} // namespace

namespace {

template <class Column>
void Decimate(const SeriesMapping& m, const float* data, IndexRange r, PointSink& sink,
              Column&& column)
{
    int col = column(r.First);
    float lo = data[r.First - 1];
    float hi = lo;
    float start = lo;
    bool openedByLast = false;
    for (int i = r.First; i <= r.Last; ++i) {
        const int c = column(i);
        const float v = data[i - 1];
        if (c == col) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            if (i != r.Last)
                continue;
        }
        CloseColumn(m, col, lo, hi, start, sink);
        openedByLast = c != col;
        col = c;
        lo = hi = start = v;
    }
    // The last sample may open a column of its own; without it the right edge stays empty.
    if (openedByLast)
        CloseColumn(m, col, lo, hi, start, sink);
}

} // namespace

void CollectDecimated(const SeriesMapping& m, const float* data, IndexRange r, PointSink& sink)
{
    if (r.First > r.Last)
        return;
    // A linear X rises with the index: when both ends are inside the pixel limits, every sample
    // is, and the per-frame loop needs no clamping.
    const double first = r.First * m.XScale + m.XOff, last = r.Last * m.XScale + m.XOff;
    if (!m.LogX && first >= -m.Limit && first <= m.Limit && last >= -m.Limit && last <= m.Limit) {
        Decimate(m, data, r, sink, [&m](int i) { return static_cast<int>(i * m.XScale + m.XOff); });
        return;
    }
    Decimate(m, data, r, sink, [&m](int i) { return m.XPixelOfIndex(i); });
}

void CollectPairs(const SeriesMapping& m, const float* pairs, int count, PointSink& sink)
{
    for (int j = 0; j < count; ++j)
        sink.Push(m.XPixelOfValue(pairs[2 * j]), m.YPixel(pairs[2 * j + 1]));
}

} // namespace dxplot
