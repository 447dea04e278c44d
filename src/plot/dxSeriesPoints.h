#pragma once

// Qt-free conversion of series data to polyline points: value-to-pixel mappings with clamping,
// the visible index range and the min/max decimation per pixel column.

#include "dxPlotMath.h"

#include <cstdint>

namespace dxplot {

struct Point
{
    std::int32_t x;
    std::int32_t y;
    friend bool operator==(const Point&, const Point&) = default;
};

// Receives finished polylines.
class PolylineOutput
{
public:
    virtual void Polyline(const Point* points, int count) = 0;

protected:
    ~PolylineOutput() = default;
};

// Collects points into a fixed buffer; when it is full the points so far are drawn and the
// last one starts the next chunk, so the chunks join into one line.
class PointSink
{
public:
    PointSink(Point* buffer, int capacity, PolylineOutput& out)
        : m_buf(buffer), m_capacity(capacity), m_out(out)
    {
    }
    void Push(int x, int y);
    // Draws what is left (nothing when fewer than two points are pending).
    void Finish();
    bool Usable() const { return m_capacity >= 2; }

private:
    Point* m_buf;
    int m_capacity;
    int m_count = 0;
    PolylineOutput& m_out;
};

struct ViewRange
{
    double NominalMin, NominalMax;
    double CurrentMin, CurrentMax;
    double YMin, YMax;
};

// Pixel mapping of one series inside a plot rectangle (left, top, right, bottom). The plot
// rectangle is in logical pixels; the pixels produced are device pixels, Scale per logical one,
// so that a curve keeps the detail of a high-density screen.
struct SeriesMapping
{
    bool LogX = false;
    bool LogY = false;
    LogMapping LogXMap, LogYMap;
    double XScale = 0, XOff = 0; // value-based (pairs) or index-based (equidistant)
    double Dx = 0;               // X step between equidistant samples
    double YScale = 0, YOff = 0;
    double YTopValue = 0, YBottomValue = 0; // values that map to -Limit / +Limit
    double XLeftValue = 0, XRightValue = 0; // same for pair X values
    double NominalMin = 0;
    double Scale = 1.0;
    int Limit = 3000000;

    int YPixel(double v) const;
    int XPixelOfValue(double x) const;
    int XPixelOfIndex(int i) const; // i from 1
};

// Inline: called once per sample on the per-frame path.
inline int SeriesMapping::YPixel(double v) const
{
    if (LogY)
        return LogYMap.ToPixel(v, Scale);
    if (v > YTopValue)
        return -Limit;
    if (!(v >= YBottomValue))
        return Limit;
    return TruncClamp(v * YScale + YOff, -Limit, Limit - 1) + 1;
}

inline int SeriesMapping::XPixelOfIndex(int i) const
{
    if (LogX)
        return LogXMap.ToPixel(NominalMin + (i - 1) * Dx, Scale);
    // Not clamped by rule, but a far zoom must not overflow the pixel type.
    return TruncClamp(i * XScale + XOff, -Limit, Limit);
}

struct PlotBox
{
    int Left, Top, Right, Bottom;
};

// `scale` is the number of device pixels per logical pixel of the plot box and the log mappings.
SeriesMapping MakeEquidistantMapping(const ViewRange& view, const PlotBox& plot, int count,
                                     bool logX, bool logY, const LogMapping& lx,
                                     const LogMapping& ly, int limit, double scale = 1.0);
SeriesMapping MakePairMapping(const ViewRange& view, const PlotBox& plot, bool logX, bool logY,
                              const LogMapping& lx, const LogMapping& ly, int limit,
                              double scale = 1.0);

struct IndexRange
{
    int First;
    int Last;
};

// 1-based range of samples that can reach the device clip columns clipLeft..clipRight (right
// exclusive).
IndexRange VisibleIndexRange(const SeriesMapping& m, const ViewRange& view, int count, int clipLeft,
                             int clipRight);

void CollectPlain(const SeriesMapping& m, const float* data, IndexRange r, PointSink& sink);
// One (min, max) pair per pixel column, drawn maximum first when the column did not start at
// its minimum; the last column is included.
void CollectDecimated(const SeriesMapping& m, const float* data, IndexRange r, PointSink& sink);
void CollectPairs(const SeriesMapping& m, const float* pairs, int count, PointSink& sink);

} // namespace dxplot
