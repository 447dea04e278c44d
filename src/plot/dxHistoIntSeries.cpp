// Series rendering of the plot control: curves into the plot area.

#include "dxCanvas.h"
#include "dxHistoInt.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int DataLimit = 3000000;
constexpr int ReferenceLimit = 30000;

class CanvasPolyline final : public dxplot::PolylineOutput
{
public:
    // With `spans` the lines are recorded; with `sweep` they are drawn over the last frame's.
    CanvasPolyline(TDXCanvas& canvas, TColor color, TPenStyle style, const QRect& area,
                   dxplot::ColumnSpans* spans, dxplot::CurveSweep* sweep)
        : m_canvas(canvas), m_color(color), m_style(style), m_area(area), m_spans(spans),
          m_sweep(sweep)
    {
    }
    void Polyline(const dxplot::Point* points, int count) override
    {
        if (m_sweep) {
            if (m_style != psClear)
                m_canvas.DevicePolyline(points, count, m_color, m_area, *m_sweep);
            return;
        }
        m_canvas.DevicePolyline(points, count, m_color, m_style, m_area);
        if (m_spans)
            m_spans->AddPolyline(points, count);
    }

private:
    TDXCanvas& m_canvas;
    TColor m_color;
    TPenStyle m_style;
    QRect m_area;
    dxplot::ColumnSpans* m_spans;
    dxplot::CurveSweep* m_sweep;
};

bool SolidOrClear(TPenStyle s)
{
    return s == psSolid || s == psInsideFrame || s == psClear;
}

bool Drawable(const TDXHistographInt::TDXSeries& s)
{
    return s.Data && s.Count > 0 && s.Count < TDXHistographInt::MaxReferenceCount;
}

} // namespace

dxplot::ViewRange TDXHistographInt::View() const
{
    return {m_viewXNominalMin, m_viewXNominalMax, m_viewXCurrentMin,
            m_viewXCurrentMax, m_viewYMin,        m_viewYMax};
}

void TDXHistographInt::DrawSeries(TDXCanvas& canvas, const dxplot::PlotBox& plot)
{
    if (m_mode < modeMeasure || m_mode > modeCalculate)
        return;
    const QRect area = QRect(QPoint(plot.Left, plot.Top), QPoint(plot.Right - 1, plot.Bottom - 1))
                           .intersected(canvas.Clip());
    if (area.isEmpty())
        return;
    for (int i = 0; i < m_seriesNumber; ++i) {
        const TDXSeries& s = m_series[i];
        if (s.Kind == dtUpperRef || s.Kind == dtLowerRef)
            DrawReferenceSeries(canvas, s, plot, area);
        else
            DrawDataSeries(canvas, s, plot, area);
    }
}

void TDXHistographInt::DrawDataSeries(TDXCanvas& canvas, const TDXSeries& series,
                                      const dxplot::PlotBox& plot, const QRect& area)
{
    if (!Drawable(series))
        return;
    if (series.Kind != dtDataXY) {
        // Two points per device column at most: the curve keeps the screen's detail.
        const int columns = m_scale.X(width() - m_gapRight) - m_scale.X(m_gapLeft);
        const bool decimate = series.Count > 2 * columns;
        DrawEquidistant(canvas, series, plot, area, DataLimit, decimate);
        return;
    }
    if (!series.Pairs)
        return;
    CanvasPolyline out(canvas, series.LineColor, series.PenStyle, area, m_recording, m_sweep);
    dxplot::PointSink sink(m_pointBuffer.data(), PointBufferCapacity(), out);
    const auto map = dxplot::MakePairMapping(View(), plot, IsLogX(), IsLogY(), m_logX, m_logY,
                                             DataLimit, m_scale.Ratio);
    dxplot::CollectPairs(map, series.Data, series.Count, sink);
    sink.Finish();
}

void TDXHistographInt::DrawReferenceSeries(TDXCanvas& canvas, const TDXSeries& series,
                                           const dxplot::PlotBox& plot, const QRect& area)
{
    if (Drawable(series))
        DrawEquidistant(canvas, series, plot, area, ReferenceLimit, false);
}

void TDXHistographInt::DrawEquidistant(TDXCanvas& canvas, const TDXSeries& series,
                                       const dxplot::PlotBox& plot, const QRect& area, int limit,
                                       bool decimate)
{
    CanvasPolyline out(canvas, series.LineColor, series.PenStyle, area, m_recording, m_sweep);
    dxplot::PointSink sink(m_pointBuffer.data(), PointBufferCapacity(), out);
    const dxplot::ViewRange view = View();
    const auto map = dxplot::MakeEquidistantMapping(view, plot, series.Count, IsLogX(), IsLogY(),
                                                    m_logX, m_logY, limit, m_scale.Ratio);
    const QRect columns = canvas.DeviceRect(area);
    const auto range =
        dxplot::VisibleIndexRange(map, view, series.Count, columns.left(), columns.right() + 1);
    if (decimate)
        dxplot::CollectDecimated(map, series.Data, range, sink);
    else
        dxplot::CollectPlain(map, series.Data, range, sink);
    sink.Finish();
}

void TDXHistographInt::KeepBackground(const QRect& device)
{
    // Sized at the first full paint and when the plot area grows, never per frame.
    m_background.Keep(reinterpret_cast<const std::uint32_t*>(m_surface.constBits()),
                      static_cast<int>(m_surface.bytesPerLine() / 4), device.left(), device.top(),
                      device.width(), device.height());
    m_backgroundRect = device;
    m_curveSpans.Reset(device.left(), device.width());
    m_previousSpans.Reset(device.left(), device.width());
    m_backgroundValid = true;
}

bool TDXHistographInt::RefreshCurves()
{
    // Anything else drawn over the curves, or curves whose pixels the spans do not bound (a
    // styled pen goes through Qt's painter), takes the full repaint of the plot area.
    if (!m_backgroundValid || m_surfaceStale || !SurfaceFits() || m_paintCanvas || OnAfterPaint ||
        (ZoomBandActive() && m_bandShown) || (m_refDragActive && m_refCurveShown))
        return false;
    for (int i = 0; i < m_seriesNumber; ++i)
        if (!SolidOrClear(m_series[i].PenStyle))
            return false;
    const dxplot::PlotBox plot{m_gapLeft, m_gapTop, width() - m_gapRight, height() - m_gapBottom};
    const std::array<TDXCrossSlot, CrossSlots> slotsBefore = m_slots;
    const std::array<bool, CrossSlots> shownBefore = m_slotShown;
    {
        TDXCanvas canvas(m_surface, m_scale, PlotRect(), &m_deviceView);
        m_paintCanvas = &canvas;
        struct Done
        {
            TDXCanvas*& Canvas;
            ~Done() { Canvas = nullptr; }
        } done{m_paintCanvas};
        // The crosses are inverted over the curves: off first, placed anew on the new data.
        for (int k = 0; k < CrossSlots; ++k)
            if (m_slotShown[k])
                DrawCrossLines(canvas, m_slots[k].PixelX, m_slots[k].Color, m_slots[k].PixelY);
        m_slotShown.fill(false);
        std::swap(m_curveSpans, m_previousSpans);
        m_curveSpans.Reset(m_backgroundRect.left(), m_backgroundRect.width());
        dxplot::CurveSweep sweep(m_previousSpans, m_curveSpans, canvas.Raster(m_backgroundRect),
                                 m_background);
        m_sweep = &sweep;
        DrawSeries(canvas, plot);
        m_sweep = nullptr;
        sweep.Finish();
        PaintOverlays(canvas, true);
    }
    // To the screen: the rows the old and the new curves cover, and the crosses' lines.
    int top = 0, bottom = -1, newTop = 0, newBottom = -1;
    m_previousSpans.Rows(top, bottom);
    if (m_curveSpans.Rows(newTop, newBottom)) {
        top = bottom < top ? newTop : std::min(top, newTop);
        bottom = std::max(bottom, newBottom);
    }
    top = std::max(top, m_backgroundRect.top());
    bottom = std::min(bottom, m_backgroundRect.bottom());
    if (top <= bottom) {
        const qreal r = m_scale.Ratio;
        MarkDirty(QRect(QPoint(m_gapLeft, int(std::floor(top / r))),
                        QPoint(width() - m_gapRight - 1, int(std::ceil((bottom + 1) / r)) - 1))
                      .intersected(PlotRect()));
    }
    for (int k = 0; k < CrossSlots; ++k) {
        if (shownBefore[k])
            MarkCrossLines(slotsBefore[k].PixelX, slotsBefore[k].PixelY);
        if (m_slotShown[k])
            MarkCrossLines(m_slots[k].PixelX, m_slots[k].PixelY);
    }
    return true;
}
