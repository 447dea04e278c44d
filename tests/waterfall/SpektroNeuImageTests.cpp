#include "SpektroNeuImage.h"

#include <QPainter>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

// The row ring against a plain image that really moves its rows, over random sequences of
// scrolling, row writes, painting and resizing.
TEST(SpektroImage, BehavesLikeAnImageThatMovesItsRows)
{
    const QRgb bg = 0xff102030u;
    std::mt19937 rng(3);
    TSpektroImage ring(bg);
    QImage plain;
    auto resize = [&](int w, int h) {
        ring.Resize(w, h);
        QImage next(w, h, QImage::Format_RGB32);
        next.fill(bg);
        QPainter(&next).drawImage(0, 0, plain);
        plain = next;
    };
    resize(7, 5);
    for (int step = 0; step < 3000; ++step) {
        const int h = ring.Height();
        switch (rng() % 8) {
        case 0:
            resize(1 + int(rng() % 9), 1 + int(rng() % 9));
            break;
        case 1: { // paint a dot through the view, as the time marks do
            const int y = int(rng() % unsigned(h));
            QImage view = ring.PaintView();
            QPainter(&view).fillRect(0, y, 1, 1, QColor(0xff00ff00u));
            ring.CommitRows(y, 1);
            plain.setPixel(0, y, 0xff00ff00u);
            break;
        }
        default: { // scroll and write the bottom row
            ring.ScrollUp();
            std::memmove(plain.bits(), plain.constScanLine(1),
                         std::size_t(plain.bytesPerLine()) * (h - 1));
            const QRgb c = 0xff000000u | rng() % 0xffffffu;
            const int x = int(rng() % unsigned(ring.Width()));
            ring.Row(h - 1)[x] = c;
            ring.CommitRows(h - 1, 1);
            plain.setPixel(x, h - 1, c);
        }
        }
        ASSERT_EQ(ring.Visible(), plain) << "step " << step;
        ASSERT_EQ(ring.Storage().copy(ring.Window()), plain) << "step " << step;
    }
}
