#include "dxColors.h"

#include <QApplication>
#include <QPalette>
#include <algorithm>
#include <cmath>

QColor ColorToQColor(TColor c)
{
    if (!IsSystemColor(c))
        return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    const QPalette pal = QApplication::palette();
    switch (static_cast<std::uint32_t>(c) & 0xFFu) {
    case 0x05:
        return pal.color(QPalette::Base);
    case 0x08:
        return pal.color(QPalette::WindowText);
    case 0x0D:
        return pal.color(QPalette::Highlight);
    case 0x0F:
        return pal.color(QPalette::Button);
    case 0x10:
        return pal.color(QPalette::Dark);
    case 0x12:
        return pal.color(QPalette::ButtonText);
    case 0x14:
        return pal.color(QPalette::Light);
    case 0x1E:
        return pal.color(QPalette::Window);
    default:
        return QColor(0, 0, 0);
    }
}

TColor QColorToColor(const QColor& c)
{
    return static_cast<TColor>(c.red() | (c.green() << 8) | (c.blue() << 16));
}

TColor ScaleColor(TColor c, double factor)
{
    const QColor q = ColorToQColor(c);
    auto part = [factor](int v) {
        return static_cast<int>(std::min(255.0, std::nearbyint(v * factor)));
    };
    return static_cast<TColor>(part(q.red()) | (part(q.green()) << 8) | (part(q.blue()) << 16));
}
