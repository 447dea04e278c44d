// Measuring markers of the plot control: small numbered marks drawn over the curves.

#include "dxCanvas.h"
#include "dxHistoInt.h"
#include "dxMarkerMath.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace {

// The mark: a triangle pointing down at its tip, its number above it.
constexpr double HalfWidth = 4.0;
constexpr double TriangleHeight = 7.0;
constexpr int NumberGap = 1;

} // namespace

namespace dxplot {

MarkerTip PlaceMarkerTip(const CrossGeometry& g, float x, float y, int above)
{
    MarkerTip tip;
    const int left = g.GapLeft, right = g.Width - g.GapRight;
    const int top = g.GapTop, bottom = g.Height - g.GapBottom;
    if (right <= left || bottom <= top || !std::isfinite(x))
        return tip;
    if (g.LogX) {
        if (!(x > 0.0f))
            return tip;
        tip.X = g.LogXMap.ToPixel(x);
    } else {
        tip.X = (double(x) - g.CurrentMin) * g.PlotW() / (double(g.CurrentMax) - g.CurrentMin) +
                g.GapLeft;
    }
    if (!(tip.X >= left && tip.X < right))
        return tip;
    double py;
    if (g.LogY)
        py = y > 0.0f ? g.LogYMap.ToPixel(y) : double(bottom);
    else if (std::isfinite(y))
        py = (double(g.YMin) - y) * g.PlotH() / (double(g.YMax) - g.YMin) + bottom + 1;
    else
        py = y > 0.0f ? double(top) : double(bottom);
    tip.Y = std::clamp(py, double(std::min(top + above, bottom)), double(bottom));
    tip.Shown = true;
    return tip;
}

ShadeColumns PlaceShade(const CrossGeometry& g, float x1, float x2)
{
    ShadeColumns shade;
    const int left = g.GapLeft, right = g.Width - g.GapRight;
    if (right <= left || !std::isfinite(x1) || !std::isfinite(x2))
        return shade;
    const auto column = [&g](float x) {
        if (g.LogX)
            return x > 0.0f ? double(g.LogXMap.ToPixel(x)) : -HUGE_VAL;
        return (double(x) - g.CurrentMin) * g.PlotW() / (double(g.CurrentMax) - g.CurrentMin) +
               g.GapLeft;
    };
    const double a = std::min(column(x1), column(x2)), b = std::max(column(x1), column(x2));
    if (!(b >= left && a < right))
        return shade;
    shade.Left = int(std::floor(std::max(a, double(left))));
    shade.Right = std::max(int(std::floor(std::min(b, double(right - 1)))) + 1, shade.Left + 1);
    shade.Shown = true;
    return shade;
}

} // namespace dxplot

void TDXHistographInt::SetMarker(int Number, float X, float Y, TColor Color)
{
    if (Number < 1 || Number > MaxMarkers)
        return;
    m_markers[Number - 1] = {true, X, Y, Color};
}

void TDXHistographInt::HideMarker(int Number)
{
    if (Number >= 1 && Number <= MaxMarkers)
        m_markers[Number - 1].Shown = false;
}

void TDXHistographInt::SetShade(float X1, float X2, TColor Color)
{
    m_shade = {true, X1, X2, Color};
}

void TDXHistographInt::HideShade()
{
    m_shade.Shown = false;
}

void TDXHistographInt::DrawShade(TDXCanvas& canvas)
{
    if (!m_shade.Shown)
        return;
    const dxplot::ShadeColumns shade = dxplot::PlaceShade(Geometry(), m_shade.X1, m_shade.X2);
    const QRect plot = PlotRect();
    if (!shade.Shown || plot.isEmpty())
        return;
    const QRect box = QRect(QPoint(shade.Left, plot.top()), QPoint(shade.Right - 1, plot.bottom()))
                          .intersected(canvas.Clip());
    if (box.isEmpty())
        return;
    QColor color = ColorToQColor(m_shade.Color);
    color.setAlpha(ShadeAlpha);
    QPainter& p = canvas.Painter();
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.fillRect(box, color);
    p.restore();
    // As the markers' marks: new data puts these pixels back with the curves' (RefreshCurves).
    if (m_backgroundValid) {
        const QRect device = canvas.DeviceRect(box).intersected(m_backgroundRect);
        for (int x = device.left(); x <= device.right(); ++x)
            m_curveSpans.AddColumn(x, device.top(), device.bottom());
    }
}

const TDXHistographInt::TDXMarker& TDXHistographInt::Marker(int Number) const
{
    return m_markers[Number >= 1 && Number <= MaxMarkers ? Number - 1 : 0];
}

void TDXHistographInt::DrawMarkers(TDXCanvas& canvas)
{
    if (std::none_of(m_markers.begin(), m_markers.end(),
                     [](const TDXMarker& m) { return m.Shown; }))
        return;
    const QFont& font = m_fonts[fiXAxis];
    const QFontMetrics fm(font);
    const int above = int(TriangleHeight) + NumberGap + fm.height();
    const dxplot::CrossGeometry g = Geometry();
    const QRect plot = PlotRect();
    for (int i = 0; i < MaxMarkers; ++i) {
        const TDXMarker& m = m_markers[i];
        if (!m.Shown)
            continue;
        const dxplot::MarkerTip tip = dxplot::PlaceMarkerTip(g, m.X, m.Y, above);
        if (!tip.Shown)
            continue;
        QPainter& p = canvas.Painter();
        p.save();
        p.setClipRect(plot.intersected(canvas.Clip()));
        const QColor color = ColorToQColor(m.Color);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        const QPolygonF triangle{QPointF(tip.X, tip.Y),
                                 QPointF(tip.X - HalfWidth, tip.Y - TriangleHeight),
                                 QPointF(tip.X + HalfWidth, tip.Y - TriangleHeight)};
        p.drawPolygon(triangle);
        const QString number = QString::number(i + 1);
        p.setFont(font);
        p.setPen(color);
        const double textWidth = fm.horizontalAdvance(number);
        const double baseline = tip.Y - TriangleHeight - NumberGap - fm.descent();
        p.drawText(QPointF(tip.X - textWidth / 2.0, baseline), number);
        p.restore();
        // New data puts back only the pixels the curves covered (RefreshCurves): the mark's are
        // added to them, so that it is taken off with the curves when it moves.
        if (m_backgroundValid) {
            const double half = std::max(HalfWidth, textWidth / 2.0) + 1.0;
            const QRect box(
                QPoint(int(std::floor(tip.X - half)), int(std::floor(tip.Y - above)) - 1),
                QPoint(int(std::ceil(tip.X + half)), int(std::ceil(tip.Y)) + 1));
            const QRect device =
                canvas.DeviceRect(box.intersected(plot)).intersected(m_backgroundRect);
            for (int x = device.left(); x <= device.right(); ++x)
                m_curveSpans.AddColumn(x, device.top(), device.bottom());
        }
    }
}
