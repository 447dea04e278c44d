#pragma once

// Shared helpers of the plot tests: real mouse events sent to the control, a record of the
// cross notifications and the plot layouts the tests use.

#include "dxHistoInt.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <random>
#include <vector>

namespace plottest {

inline void Move(QWidget& w, int x, int y, Qt::MouseButtons held = Qt::NoButton)
{
    const QPointF p(x, y);
    QMouseEvent e(QEvent::MouseMove, p, w.mapToGlobal(p), Qt::NoButton, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

inline void Press(QWidget& w, Qt::MouseButton b, int x, int y)
{
    QTest::mousePress(&w, b, Qt::NoModifier, QPoint(x, y));
}

inline void Release(QWidget& w, Qt::MouseButton b, int x, int y)
{
    QTest::mouseRelease(&w, b, Qt::NoModifier, QPoint(x, y));
}

inline void Click(QWidget& w, Qt::MouseButton b, int x, int y)
{
    Press(w, b, x, y);
    Release(w, b, x, y);
}

inline void Leave(QWidget& w)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(&w, &e);
}

struct CrossEvent
{
    float X, Y;
    int Serie, Index;
};

// Records every OnCrossMove of the plot.
inline std::vector<CrossEvent>& Record(TDXHistographInt& h, std::vector<CrossEvent>& events)
{
    h.OnCrossMove = [&events](QObject*, float X, float Y, int Serie, int Index) {
        events.push_back({X, Y, Serie, Index});
    };
    return events;
}

// Plot of the given size and gaps on black, Y from ymin to ymax, X 0..xmax.
inline void Layout(TDXHistographInt& h, int w, int ht, int gl, int gt, int gr, int gb)
{
    h.resize(w, ht);
    h.setBkColor(clBlack);
    h.setGapLeft(gl);
    h.setGapTop(gt);
    h.setGapRight(gr);
    h.setGapBottom(gb);
}

// X from min to max at its nominal extent (not zoomed); Y from min to max.
inline void SetX(TDXHistographInt& h, float min, float max)
{
    h.setViewXNominalMin(min);
    h.setViewXNominalMax(max);
    h.setViewXCurrentMin(min);
    h.setViewXCurrentMax(max);
}

inline void SetY(TDXHistographInt& h, float min, float max)
{
    h.setViewYMin(min);
    h.setViewYMax(max);
}

// The main window's plot: 845 x 248 on black, gaps 60/10/0/20 (left, top, right, bottom),
// -140 .. 0.1 dBm over 0 .. 40000 kHz, one green series.
inline void MainWindowPlot(TDXHistographInt& h)
{
    Layout(h, 845, 248, 60, 10, 0, 20);
    h.setViewYMin(-140);
    h.setViewYMax(0.1f);
    h.setViewYGap(10);
    h.setViewXNominalMax(40000);
    h.setViewXCurrentMax(40000);
    h.setSeries({50688, 0, 0});
}

// n values drawn evenly from lo .. hi, the same for the same seed.
inline std::vector<float> Noise(int n, unsigned seed, float lo, float hi)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(lo, hi);
    std::vector<float> d(n);
    for (float& v : d)
        v = u(rng);
    return d;
}

// Pixels that differ between two images of the same size and format; -1 for other sizes.
inline int Differing(const QImage& img, const QImage& other)
{
    const QImage a = img.convertToFormat(QImage::Format_RGB32);
    const QImage b = other.convertToFormat(QImage::Format_RGB32);
    if (a.size() != b.size())
        return -1;
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

} // namespace plottest
