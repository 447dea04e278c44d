#include "dxCanvas.h"

#include <QPen>
#include <algorithm>

namespace {

bool IsSolid(TPenStyle s)
{
    return s == psSolid || s == psInsideFrame;
}

QPen StyledPen(TColor c, TPenStyle style)
{
    QPen pen(ColorToQColor(c));
    pen.setWidth(1);
    pen.setCapStyle(Qt::FlatCap);
    // Dash lengths of the classic one-pixel cosmetic pens.
    switch (style) {
    case psDash:
        pen.setDashPattern({18, 6});
        break;
    case psDot:
        pen.setDashPattern({3, 3});
        break;
    case psDashDot:
        pen.setDashPattern({9, 6, 3, 6});
        break;
    case psDashDotDot:
        pen.setDashPattern({9, 3, 3, 3, 3, 3});
        break;
    default:
        break;
    }
    return pen;
}

} // namespace

TDXCanvas::TDXCanvas(QImage& surface, const QRect& clip)
    : m_surface(surface), m_clip(clip.intersected(surface.rect()))
{
}

QPainter& TDXCanvas::Painter()
{
    if (!m_painter) {
        m_painter.emplace(&m_surface);
        m_painter->setClipRect(m_clip);
    }
    return *m_painter;
}

std::uint32_t TDXCanvas::Pixel(TColor c)
{
    if (!IsSystemColor(c))
        return 0xFF000000u | (std::uint32_t(c & 0xFF) << 16) | (std::uint32_t(c) & 0xFF00u) |
               ((std::uint32_t(c) >> 16) & 0xFFu);
    return ColorToQColor(c).rgb();
}

dxplot::RasterTarget TDXCanvas::Raster(const QRect& area) const
{
    const QRect r = area.intersected(m_clip);
    dxplot::RasterTarget t;
    // The painter (if open) writes into the same pixels; no detach happens as the surface is
    // not shared while painting.
    t.Bits = reinterpret_cast<std::uint32_t*>(m_surface.bits());
    t.Stride = static_cast<int>(m_surface.bytesPerLine() / 4);
    t.ClipLeft = r.left();
    t.ClipTop = r.top();
    t.ClipRight = r.isEmpty() ? r.left() : r.right() + 1;
    t.ClipBottom = r.isEmpty() ? r.top() : r.bottom() + 1;
    return t;
}

void TDXCanvas::FillRect(const QRect& r, TColor c)
{
    const QRect a = r.intersected(m_clip);
    if (a.isEmpty())
        return;
    dxplot::FillRect(Raster(m_clip), a.left(), a.top(), a.right() + 1, a.bottom() + 1, Pixel(c));
}

void TDXCanvas::Line(int x0, int y0, int x1, int y1, TColor c, TPenStyle style)
{
    if (style == psClear)
        return;
    if (IsSolid(style)) {
        if (m_notXor)
            dxplot::NotXorLine(Raster(m_clip), x0, y0, x1, y1, Pixel(c));
        else
            dxplot::DrawLine(Raster(m_clip), x0, y0, x1, y1, Pixel(c));
        return;
    }
    QPainter& p = Painter();
    p.setPen(StyledPen(c, style));
    p.setCompositionMode(m_notXor ? QPainter::RasterOp_NotSourceXorDestination
                                  : QPainter::CompositionMode_SourceOver);
    p.drawLine(x0, y0, x1, y1);
}

void TDXCanvas::FocusRect(const QRect& r)
{
    dxplot::InvertFocusRect(Raster(m_clip), r.left(), r.top(), r.right() + 1, r.bottom() + 1);
}

void TDXCanvas::Polyline(const dxplot::Point* pts, int count, TColor c, TPenStyle style,
                         const QRect& area)
{
    if (style == psClear || count < 2)
        return;
    if (IsSolid(style)) {
        if (m_notXor)
            dxplot::NotXorPolyline(Raster(area), pts, count, Pixel(c));
        else
            dxplot::DrawPolyline(Raster(area), pts, count, Pixel(c));
        return;
    }
    QPainter& p = Painter();
    p.save();
    p.setClipRect(area, Qt::IntersectClip);
    p.setPen(StyledPen(c, style));
    if (m_notXor)
        p.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
    // Converted in joined chunks on the stack: no allocation for long curves.
    constexpr int chunk = 512;
    QPoint tmp[chunk];
    for (int start = 0; start < count - 1; start += chunk - 1) {
        const int n = std::min(chunk, count - start);
        for (int i = 0; i < n; ++i)
            tmp[i] = QPoint(pts[start + i].x, pts[start + i].y);
        p.drawPolyline(tmp, n);
    }
    p.restore();
}

void TDXCanvas::Text(int x, int y, const QString& text, const QFont& font, TColor c)
{
    QPainter& p = Painter();
    p.setFont(font);
    p.setPen(ColorToQColor(c));
    p.drawText(x, y + p.fontMetrics().ascent(), text);
}
