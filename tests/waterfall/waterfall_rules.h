#pragma once

#include <QBackingStore>
#include <QImage>
#include <QRect>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <cmath>

// The waterfall's colour rule written out again for the tests: the palette's five segments
// and the nearest of its 1280 entries for a level rounded half to even.
inline QRgb PaletteEntry(int P)
{
    int r = 0, g = 0, b = 0;
    if (P < 256)
        b = P;
    else if (P < 512)
        g = P - 256, b = 255;
    else if (P < 768)
        g = 255, b = 767 - P;
    else if (P < 1024)
        r = P - 768, g = 255;
    else
        r = 255, g = 1279 - P;
    return qRgb(r, g, b);
}

inline QRgb LevelColour(double Level, double ZMin, double ZMax, bool Lit = false)
{
    const long double p =
        std::nearbyint((std::nearbyint(Level) - ZMin) * (1279.0L / (ZMax - ZMin)));
    const QRgb c = PaletteEntry(static_cast<int>(std::clamp<long double>(p, 0, 1279)));
    return Lit ? (c ^ 0x252525u) : c;
}

// Whether every pixel of the area, clipped to the image, has the colour.
inline bool AreaIs(const QImage& Image, QRect Area, QRgb Colour)
{
    Area &= Image.rect();
    for (int y = Area.top(); y <= Area.bottom(); ++y)
        for (int x = Area.left(); x <= Area.right(); ++x)
            if (Image.pixel(x, y) != Colour)
                return false;
    return true;
}

// What the window surface shows of an area, in device pixels, opaque, once every requested
// paint has passed the platform's update timer.
inline QImage Shown(const QWidget* Area, double Ratio = 1)
{
    QTest::qWait(30);
    const auto* surface =
        dynamic_cast<const QImage*>(Area->window()->backingStore()->paintDevice());
    if (surface == nullptr)
        return QImage();
    const QPoint at = Area->mapTo(Area->window(), QPoint(0, 0));
    return surface->copy(QRectF(QPointF(at) * Ratio, QSizeF(Area->size()) * Ratio).toRect())
        .convertToFormat(QImage::Format_RGB32);
}
