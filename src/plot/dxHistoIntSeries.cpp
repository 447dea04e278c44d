// Series rendering of the plot control: curves into the plot area.

#include "dxCanvas.h"
#include "dxHistoInt.h"

namespace {

constexpr int DataLimit = 3000000;
constexpr int ReferenceLimit = 30000;

class CanvasPolyline final : public dxplot::PolylineOutput
{
public:
    CanvasPolyline(TDXCanvas& canvas, TColor color, TPenStyle style, const QRect& area)
        : m_canvas(canvas), m_color(color), m_style(style), m_area(area)
    {
    }
    void Polyline(const dxplot::Point* points, int count) override
    {
        m_canvas.DevicePolyline(points, count, m_color, m_style, m_area);
    }

private:
    TDXCanvas& m_canvas;
    TColor m_color;
    TPenStyle m_style;
    QRect m_area;
};

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
    CanvasPolyline out(canvas, series.LineColor, series.PenStyle, area);
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
    CanvasPolyline out(canvas, series.LineColor, series.PenStyle, area);
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
