#pragma once

#include "dxHistoInt.h"
#include "dxRaster.h"

#include <QPainter>
#include <optional>

// Drawing target of one paint: solid one-pixel lines and fills go straight into the surface's
// pixel rows (fast and exact: end pixels are not set); text and styled pens go through a
// QPainter that is opened only when first needed. Everything is limited to the clip rectangle.
class TDXCanvas
{
public:
    TDXCanvas(QImage& surface, const QRect& clip);

    const QRect& Clip() const { return m_clip; }
    QPainter& Painter();

    void FillRect(const QRect& r, TColor c);
    // Line from (x0, y0) towards (x1, y1) without the end pixel.
    void Line(int x0, int y0, int x1, int y1, TColor c, TPenStyle style);
    // Polyline limited to `area` (inside the clip).
    void Polyline(const dxplot::Point* p, int count, TColor c, TPenStyle style, const QRect& area);
    void Text(int x, int y, const QString& text, const QFont& font, TColor c);

    // Lines and polylines with the inverting pen (drawing twice erases) instead of copying.
    void SetNotXor(bool On) { m_notXor = On; }
    // Dotted inverted outline (the zoom band), limited to the clip.
    void FocusRect(const QRect& r);

    static std::uint32_t Pixel(TColor c);

private:
    dxplot::RasterTarget Raster(const QRect& area) const;

    QImage& m_surface;
    QRect m_clip;
    std::optional<QPainter> m_painter;
    bool m_notXor = false;
};
