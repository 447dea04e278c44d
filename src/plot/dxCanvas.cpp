#include "dxCanvas.h"

#include <QPen>
#include <algorithm>
#include <cstdlib>

namespace {

bool IsSolid(TPenStyle s)
{
    return s == psSolid || s == psInsideFrame;
}

// `width` in device pixels; dash lengths (in pen widths) are stretched by `dashScale`.
QPen StyledPen(TColor c, TPenStyle style, int width, qreal dashScale)
{
    QPen pen(ColorToQColor(c));
    pen.setWidth(width);
    pen.setCapStyle(Qt::FlatCap);
    // Dash lengths of the classic one-pixel cosmetic pens.
    QList<qreal> dashes;
    switch (style) {
    case psDash:
        dashes = {18, 6};
        break;
    case psDot:
        dashes = {3, 3};
        break;
    case psDashDot:
        dashes = {9, 6, 3, 6};
        break;
    case psDashDotDot:
        dashes = {9, 3, 3, 3, 3, 3};
        break;
    default:
        return pen;
    }
    for (qreal& d : dashes)
        d *= dashScale;
    pen.setDashPattern(dashes);
    return pen;
}

} // namespace

TDXCanvas::TDXCanvas(QImage& surface, const dxplot::DeviceScale& scale, const QRect& clip,
                     QImage* deviceView)
    : m_surface(surface), m_scale(scale),
      m_clip(clip.intersected(QRect(0, 0, scale.LogicalWidth, scale.LogicalHeight))),
      m_deviceClip(DeviceRect(m_clip).intersected(surface.rect())),
      m_deviceView(deviceView ? deviceView : &m_ownView)
{
}

QRect TDXCanvas::DeviceRect(const QRect& r) const
{
    return QRect(QPoint(m_scale.X(r.left()), m_scale.Y(r.top())),
                 QPoint(m_scale.X(r.right() + 1) - 1, m_scale.Y(r.bottom() + 1) - 1));
}

QPainter& TDXCanvas::Painter()
{
    if (!m_painter) {
        // A view made for other pixels (a surface since replaced or detached) is made anew.
        uchar* const bits = m_surface.bits();
        QImage& view = *m_deviceView;
        if (view.constBits() != bits || view.size() != m_surface.size() ||
            view.bytesPerLine() != m_surface.bytesPerLine())
            view = QImage(bits, m_surface.width(), m_surface.height(), m_surface.bytesPerLine(),
                          m_surface.format());
        m_painter.emplace(&view);
        m_painter->setClipRect(m_deviceClip);
        m_painter->setTransform(QTransform::fromScale(m_scale.Ratio, m_scale.Ratio));
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

dxplot::RasterTarget TDXCanvas::Raster(const QRect& deviceArea) const
{
    const QRect r = deviceArea.intersected(m_deviceClip);
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
    const QRect a = DeviceRect(r.intersected(m_clip));
    if (a.isEmpty())
        return;
    dxplot::FillRect(Raster(m_deviceClip), a.left(), a.top(), a.right() + 1, a.bottom() + 1,
                     Pixel(c));
}

void TDXCanvas::Line(int x0, int y0, int x1, int y1, TColor c, TPenStyle style)
{
    if (style == psClear)
        return;
    if (IsSolid(style))
        SolidLine(x0, y0, x1, y1, Pixel(c));
    else
        StyledLine(x0, y0, x1, y1, c, style);
}

void TDXCanvas::SolidLine(int x0, int y0, int x1, int y1, std::uint32_t c)
{
    const dxplot::RasterTarget t = Raster(m_deviceClip);
    auto line = [&](int a0, int b0, int a1, int b1) {
        if (m_notXor)
            dxplot::NotXorLine(t, a0, b0, a1, b1, c);
        else
            dxplot::DrawLine(t, a0, b0, a1, b1, c);
    };
    if (m_scale.Ratio == 1.0) {
        line(x0, y0, x1, y1);
        return;
    }
    const int w = m_scale.LineWidth();
    if (y0 == y1 && x0 != x1) {
        // The logical pixels first .. last, each to its device columns, w rows deep.
        const int first = x1 > x0 ? x0 : x1 + 1;
        const int last = x1 > x0 ? x1 - 1 : x0;
        const int left = m_scale.X(first), right = m_scale.X(last + 1);
        for (int y = m_scale.Y(y0), n = 0; n < w; ++y, ++n)
            line(left, y, right, y);
        return;
    }
    if (x0 == x1 && y0 != y1) {
        const int first = y1 > y0 ? y0 : y1 + 1;
        const int last = y1 > y0 ? y1 - 1 : y0;
        const int top = m_scale.Y(first), bottom = m_scale.Y(last + 1);
        for (int x = m_scale.X(x0), n = 0; n < w; ++x, ++n)
            line(x, top, x, bottom);
        return;
    }
    // A slanted line: w copies side by side across its minor axis never share a pixel, so the
    // inverting pen still erases it on the second drawing.
    const int dx0 = m_scale.X(x0), dy0 = m_scale.Y(y0);
    const int dx1 = m_scale.X(x1), dy1 = m_scale.Y(y1);
    const bool shallow = std::abs(dx1 - dx0) >= std::abs(dy1 - dy0);
    for (int n = 0; n < w; ++n)
        line(dx0 + (shallow ? 0 : n), dy0 + (shallow ? n : 0), dx1 + (shallow ? 0 : n),
             dy1 + (shallow ? n : 0));
}

void TDXCanvas::StyledLine(int x0, int y0, int x1, int y1, TColor c, TPenStyle style)
{
    QPainter& p = Painter();
    const QPainter::CompositionMode mode = m_notXor ? QPainter::RasterOp_NotSourceXorDestination
                                                    : QPainter::CompositionMode_SourceOver;
    if (m_scale.Ratio == 1.0) {
        p.setPen(StyledPen(c, style, 1, 1.0));
        p.setCompositionMode(mode);
        p.drawLine(x0, y0, x1, y1);
        return;
    }
    // In device pixels, w wide: an aliased pen of even width straddles its line, one of odd
    // width lies below and right of it, so half the width down puts it on the logical pixel.
    const int w = m_scale.LineWidth();
    const int ox = x0 == x1 || y0 != y1 ? w / 2 : 0;
    const int oy = y0 == y1 || x0 != x1 ? w / 2 : 0;
    p.save();
    p.resetTransform();
    p.setPen(StyledPen(c, style, w, 1.0));
    p.setCompositionMode(mode);
    p.drawLine(m_scale.X(x0) + ox, m_scale.Y(y0) + oy, m_scale.X(x1) + ox, m_scale.Y(y1) + oy);
    p.restore();
}

void TDXCanvas::FocusRect(const QRect& r)
{
    // The outline of the logical rectangle's border pixels, one logical pixel thick.
    const int w = m_scale.LineWidth();
    dxplot::InvertFocusRect(Raster(m_deviceClip), m_scale.X(r.left()), m_scale.Y(r.top()),
                            m_scale.X(r.right()) + w, m_scale.Y(r.bottom()) + w, w);
}

void TDXCanvas::DevicePolyline(const dxplot::Point* pts, int count, TColor c, TPenStyle style,
                               const QRect& area)
{
    if (style == psClear || count < 2)
        return;
    const QRect deviceArea = DeviceRect(area);
    if (IsSolid(style)) {
        if (m_notXor)
            dxplot::NotXorPolyline(Raster(deviceArea), pts, count, Pixel(c));
        else
            dxplot::DrawPolyline(Raster(deviceArea), pts, count, Pixel(c));
        return;
    }
    QPainter& p = Painter();
    p.save();
    p.resetTransform();
    p.setClipRect(deviceArea, Qt::IntersectClip);
    // One device pixel wide, with dashes as long as at ratio 1 in logical pixels.
    p.setPen(StyledPen(c, style, 1, m_scale.Ratio));
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

void TDXCanvas::DevicePolyline(const dxplot::Point* pts, int count, TColor c, const QRect& area,
                               dxplot::CurveSweep& sweep)
{
    sweep.Polyline(Raster(DeviceRect(area)), pts, count, Pixel(c));
}

void TDXCanvas::Text(int x, int y, const QString& text, const QFont& font, TColor c)
{
    QPainter& p = Painter();
    p.setFont(font);
    p.setPen(ColorToQColor(c));
    p.drawText(x, y + p.fontMetrics().ascent(), text);
}
