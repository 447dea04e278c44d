#pragma once

// Shared helpers of the plot tests: real mouse events sent to the control, a record of the
// cross notifications and the plot layouts the tests use.

#include "dxHistoInt.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
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
    SetY(h, -140, 0.1f);
    h.setViewYGap(10);
    h.setViewXNominalMax(40000);
    h.setViewXCurrentMax(40000);
    h.setSeries({50688, 0, 0});
}

// Natural-log mapping with 32-bit coefficients, truncated and clamped to +-30000, as the axes
// map values to pixels; Value maps a pixel back.
struct LogMap
{
    float Factor = 0, Offset = 0;
    int operator()(double v) const
    {
        const double p = std::log(std::max(v, 1e-30)) * Factor + Offset;
        return static_cast<int>(std::trunc(std::clamp(p, -30000.0, 30000.0)));
    }
    double Value(int px) const { return std::exp((px - double(Offset)) / Factor); }
};

// The log map that puts min on pixel from and max on pixel to, less shift.
inline LogMap MapLog(float min, float max, int from, int to, int shift = 0)
{
    LogMap m;
    m.Factor = static_cast<float>((to - from) / (std::log(double(max)) - std::log(double(min))));
    m.Offset = static_cast<float>(from - double(m.Factor) * std::log(double(min)) - shift);
    return m;
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

// What the screen shows of a plot: a full grab once shown, then only the regions of the paint
// events Qt delivers, each drawn by the plot's own paint event.
class Screen : public QObject
{
public:
    explicit Screen(QWidget& w) : m_widget(w)
    {
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
        QApplication::processEvents();
        Image = w.grab().toImage();
        w.installEventFilter(this);
    }
    ~Screen() override { m_widget.removeEventFilter(this); }
    const QImage& Sync()
    {
        QApplication::processEvents();
        m_drawing = true;
        for (const QRect& r : Painted)
            m_widget.render(&Image, r.topLeft(), QRegion(r), QWidget::DrawChildren);
        m_drawing = false;
        Painted = QRegion();
        return Image;
    }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && !m_drawing)
            Painted += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
    QImage Image;
    QRegion Painted; // what paint events asked for since the last sync

private:
    QWidget& m_widget;
    bool m_drawing = false;
};

// Plays the same steps on a plot on the screen and on a twin drawn anew after each: whatever
// parts the plot repaints, and whatever it keeps from before, its surface must equal the twin's
// full render and the screen must show that surface.
inline void
ExpectScreenShowsFullRenders(TDXHistographInt& h, TDXHistographInt& twin,
                             const std::vector<std::function<void(TDXHistographInt&)>>& steps)
{
    Screen screen(h);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        for (TDXHistographInt* p : {&h, &twin})
            steps[i](*p);
        const QImage& shown = screen.Sync();
        twin.RenderNow();
        ASSERT_EQ(Differing(h.Surface(), twin.Surface()), 0) << "step " << i;
        ASSERT_EQ(Differing(shown, h.Surface()), 0) << "step " << i;
    }
}

// A plot as the program shows it (grid, titles, a reference curve under noisy frames, some
// with levels beyond the view, far beyond it or no number, some too short to be decimated;
// marks) taken through every interaction: crosses resting under new data, a zoom band dragged
// and released, a reference bent, two calculate crosses, a title and a gap changed.
inline void ExpectInteractionsReachTheScreen(TDXHistographInt& h, TDXHistographInt& twin,
                                             TDXGrdScale scale)
{
    for (TDXHistographInt* p : {&h, &twin}) {
        MainWindowPlot(*p);
        p->setGapRight(30);
        p->setGridVisible(grdBoth);
        p->setTitleTop("Reaches into the plot area");
        p->setTitleRight("dB");
        p->setSeriesNumber(2);
        p->setSeriesCurrent(2);
        p->setSeriesStyle(dtUpperRef);
        p->setSeriesColor(0x0000FFFF);
        p->setShowValues(false); // a bend's readout box stays only until the next paint
        if (scale == sclLogLog) {
            SetX(*p, 10, 40000);
            SetY(*p, 1e-14f, 1.0f);
        }
        p->setGridScale(scale);
    }
    const float floor = scale == sclLogLog ? 1e-13f : -130.0f;
    static std::vector<std::vector<float>> frames;
    frames.clear();
    for (unsigned f = 0; f < 6; ++f) {
        const int n = f == 3 ? 300 : 4096;
        frames.push_back(Noise(n, f + 1, floor, floor * (scale == sclLogLog ? 1e10f : 0.4f)));
        if (f == 1) {
            frames[f][n / 2] = 20.0f;
            frames[f][n / 3] = -1e30f;
            frames[f][n / 3 + 1] = 1e30f;
        }
        if (f == 4)
            frames[f][n / 4] = std::nanf("");
    }
    static std::vector<float> reference(300);
    for (int i = 0; i < 300; ++i)
        reference[i] = scale == sclLogLog ? std::pow(10.0f, -6.0f - 3.0f * std::sin(i * 0.05f))
                                          : -60.0f - 30.0f * std::sin(i * 0.05f);
    static const auto data = [](int f) {
        return [f](TDXHistographInt& p) {
            p.SetSeriesData(frames[f].data(), int(frames[f].size()), 1);
        };
    };
    using P = TDXHistographInt&;
    using B = Qt::MouseButton;
    const auto move = [](int x, int y, Qt::MouseButtons held = Qt::NoButton) {
        return [=](P p) { Move(p, x, y, held); };
    };
    const auto press = [](int x, int y, B b, int tx, int ty) {
        return [=](P p) {
            Press(p, b, x, y);
            Move(p, tx, ty, b);
        };
    };
    const auto release = [](int x, int y, B b) { return [=](P p) { Release(p, b, x, y); }; };
    const auto click = [](int x, int y, B b) { return [=](P p) { Click(p, b, x, y); }; };
    const auto mode = [](TDXMode m, auto&& then) {
        return [=](P p) {
            p.setMode(m);
            then(p);
        };
    };
    ExpectScreenShowsFullRenders(
        h, twin,
        {[](P p) { p.SetSeriesData(reference.data(), 300, 2); }, data(0), move(320, 120), data(1),
         // Marks set now are drawn with the next data.
         [](P p) {
             p.SetMarker(1, 12000.0f, -70.0f, clWhite);
             p.SetMarker(2, 30000.0f, -20.0f, clFuchsia);
             data(2)(p);
         },
         move(181, 60), data(3),
         [](P p) {
             p.SetMarker(1, 25000.0f, -100.0f, clWhite);
             data(4)(p);
         },
         [](P p) { Leave(p); }, mode(modeZoom, press(100, 40, Qt::LeftButton, 400, 150)),
         move(200, 60, Qt::LeftButton), data(5), move(101, 200, Qt::LeftButton),
         release(101, 200, Qt::LeftButton), click(300, 100, Qt::RightButton),
         mode(modeUpperRef, press(300, 120, Qt::LeftButton, 300, 90)),
         move(310, 160, Qt::LeftButton), data(0), release(310, 160, Qt::LeftButton),
         mode(modeCalculate, click(150, 100, Qt::LeftButton)), click(500, 200, Qt::RightButton),
         data(1), press(500, 200, Qt::RightButton, 620, 50), release(620, 50, Qt::RightButton),
         [](P p) { p.setTitleTop("Shorter"); }, [](P p) { p.setGapBottom(35); }, data(2)});
}

} // namespace plottest
