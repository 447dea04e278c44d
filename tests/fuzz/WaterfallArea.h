#pragma once

#include <QImage>
#include <QRect>

// The waterfall's rectangle in an exported image, found by its axes (an empty one when they
// are not there). The frequency axis below the waterfall is a black line of exactly its
// Columns, starting one pixel right of the time axis, a black line that spans exactly its
// rows (the corner between the two stays blank). Waterfall rows that are black up to their
// last column look alike (a time tick left of the axis rising from the pixel before them),
// but all lie above the axis: the lowest such line is the axis. Nothing below it (labels,
// the colour scale) is a black line of a power of two.
inline QRect WaterfallArea(const QImage& Image, int Columns)
{
    const QImage rgb = Image.convertToFormat(QImage::Format_RGB888);
    const int width = rgb.width();
    auto black = [&](int X, int Y) {
        const uchar* p = rgb.constScanLine(Y) + 3 * X;
        return p[0] == 0 && p[1] == 0 && p[2] == 0;
    };
    for (int y = rgb.height() - 1; y > 0; --y) {
        for (int x = 1; x + Columns <= width; ++x) {
            if (black(x - 1, y) || !black(x, y))
                continue;
            int run = 1;
            while (x + run < width && black(x + run, y))
                ++run;
            int rows = 0;
            while (y - 1 - rows >= 0 && black(x - 1, y - 1 - rows))
                ++rows;
            if (run == Columns && rows > 0)
                return QRect(x, y - rows, Columns, rows);
            x += run;
        }
    }
    return QRect();
}
