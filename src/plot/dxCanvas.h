#pragma once

#include "dxColumnSpans.h"
#include "dxDeviceScale.h"
#include "dxHistoInt.h"
#include "dxRaster.h"

#include <QImage>
#include <QPainter>
#include <optional>

// Drawing target of one paint. Callers work in logical pixels, as the layout does; the surface
// holds device pixels (Scale().Ratio per logical pixel). Solid lines and fills go straight into
// the surface's pixel rows (fast and exact: end pixels are not set; a line one logical pixel wide
// covers Scale().LineWidth() device pixels); text and styled pens go through a QPainter that is
// opened only when first needed. Curves and overlays that want the screen's full detail give
// device points (Scale() maps fractional logical positions). Everything is limited to the clip.
class TDXCanvas
{
public:
    // `clip` in logical pixels; the surface is Scale's device size. `deviceView` may hold the
    // painter's view of the surface from canvas to canvas, so that Qt's paint engine for it is
    // made once rather than at every paint that draws text.
    TDXCanvas(QImage& surface, const dxplot::DeviceScale& scale, const QRect& clip,
              QImage* deviceView = nullptr);

    const QRect& Clip() const { return m_clip; }
    const dxplot::DeviceScale& Scale() const { return m_scale; }
    // The device pixels covered by a logical rectangle.
    QRect DeviceRect(const QRect& r) const;
    // A painter in logical coordinates, clipped to the device pixels of the clip.
    QPainter& Painter();

    void FillRect(const QRect& r, TColor c);
    // Line from (x0, y0) towards (x1, y1) without the end pixel, one logical pixel wide. Lines
    // along an axis cover exactly the device pixels of their logical pixels.
    void Line(int x0, int y0, int x1, int y1, TColor c, TPenStyle style);
    // Polyline of device points, one device pixel wide, limited to the logical `area`.
    void DevicePolyline(const dxplot::Point* p, int count, TColor c, TPenStyle style,
                        const QRect& area);
    void Text(int x, int y, const QString& text, const QFont& font, TColor c);

    // Lines and polylines with the inverting pen (drawing twice erases) instead of copying.
    void SetNotXor(bool On) { m_notXor = On; }
    // Dotted inverted outline (the zoom band), limited to the clip.
    void FocusRect(const QRect& r);

    static std::uint32_t Pixel(TColor c);

    // A solid polyline of device points over the previous frame's curves (dxplot::CurveSweep).
    void DevicePolyline(const dxplot::Point* p, int count, TColor c, const QRect& area,
                        dxplot::CurveSweep& sweep);
    // Direct access to the device pixels of a device rectangle, limited to the clip.
    dxplot::RasterTarget Raster(const QRect& deviceArea) const;

private:
    void SolidLine(int x0, int y0, int x1, int y1, std::uint32_t c);
    void StyledLine(int x0, int y0, int x1, int y1, TColor c, TPenStyle style);

    QImage& m_surface;
    dxplot::DeviceScale m_scale;
    QRect m_clip;       // logical
    QRect m_deviceClip; // its device pixels
    // The surface's pixels seen at ratio 1: the painter draws in device pixels on it and
    // scales to logical coordinates itself, so clips and styled lines land on whole pixels.
    QImage m_ownView;
    QImage* m_deviceView;
    std::optional<QPainter> m_painter;
    bool m_notXor = false;
};
