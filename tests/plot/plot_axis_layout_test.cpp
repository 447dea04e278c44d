// The plot's frame, axes, labels, tick marks and grid, compared pixel for pixel with a picture
// this test draws itself from the layout rules: plot area from the gaps, 3-D edges from the
// scaled face colour, linear and logarithmic tick positions, label texts, spacing and placement.

#include "plot_interaction_support.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

struct Axis
{
    float Min, Max, Gap;
    int Decimals;
};

struct View
{
    const char* Name;
    int Width, Height;
    int GapLeft, GapTop, GapRight, GapBottom;
    TDXGrdScale Scale;
    TDXGrdVisible Grid;
    Axis X, Y;
    int FontPx;
    TColor Face;
};

constexpr TColor Odd = 101 | (103 << 8) | (220 << 16); // parts round both ways, blue caps
constexpr TColor Muted = 41 | (173 << 8) | (95 << 16); // no cap at all
constexpr TColor TextInk = clNavy;
constexpr TColor GridInk = clYellow;

// clang-format off
const View Views[] = {
    // The main window's plot: no right gap, Y a little over zero.
    {"main window", 845, 248, 60, 10, 0, 20, sclLinLin, grdBoth,
     {0, 40000, 5000, 0}, {-140, 0.1f, 10, 0}, 11, clBtnFace},
    {"symmetric X, two Y decimals", 411, 300, 70, 40, 40, 60, sclLinLin, grdBoth,
     {-5, 5, 1, 1}, {0, 10, 2, 2}, 11, Odd},
    {"gaps enlarged to ten pixels", 300, 200, 70, 40, 40, 60, sclLinLin, grdBoth,
     {0, 1000, 10, 1}, {-140, 0, 10, 0}, 11, Muted},
    {"large font spreads labels", 420, 320, 80, 30, 40, 60, sclLinLin, grdHor,
     {0, 100, 5, 0}, {-50, 50, 5, 0}, 18, Odd},
    {"first ticks truncate toward zero", 500, 260, 70, 30, 40, 50, sclLinLin, grdVer,
     {12, 40, 5, 3}, {-145, -45, 25, 1}, 13, clBtnFace},
    // Ten times the step count truncates to exactly the axis length: the gaps are kept.
    {"gaps just wide enough", 300, 200, 70, 40, 40, 60, sclLinLin, grdBoth,
     {0, 1895, 100, 0}, {0, 100, 9.95f, 1}, 11, Muted},
    {"tiny Y range and large negative X use exponents", 500, 300, 80, 30, 50, 60, sclLinLin,
     grdBoth, {-200000, -20000, 50000, 2}, {0.0001f, 0.0009f, 0.0002f, 2}, 11, Muted},
    {"exponents from -100000 and up to 100000", 520, 300, 80, 30, 50, 60, sclLinLin, grdNone,
     {10000, 100000, 30000, 0}, {-100000, -10000, 30000, 0}, 11, Odd},
    {"plain numbers just inside the exponent limits", 560, 300, 80, 30, 50, 60, sclLinLin,
     grdNone, {10000, 99990, 30000, 1}, {-99990, -10000, 30000, 0}, 11, Odd},
    {"decades 1 to 1000", 400, 300, 70, 40, 40, 60, sclLinLog, grdHor,
     {0, 10, 2, 0}, {1, 1000, 1, 0}, 11, clBtnFace},
    {"decades down to 1E-05", 400, 300, 70, 40, 40, 60, sclLinLog, grdBoth,
     {0, 10, 2, 0}, {0.00001f, 10, 1, 0}, 11, Muted},
    {"general decades 0.001 to 1000", 400, 360, 70, 40, 40, 60, sclLinLog, grdHor,
     {0, 10, 2, 0}, {0.001f, 1000, 1, 0}, 11, Odd},
    {"decade 1E-04 switches to exponents", 400, 300, 70, 40, 40, 60, sclLinLog, grdNone,
     {0, 10, 2, 0}, {0.0001f, 1, 1, 0}, 11, Odd},
    {"decade 1E+04 switches to exponents", 400, 300, 70, 40, 40, 60, sclLinLog, grdNone,
     {0, 10, 2, 0}, {1, 10000, 1, 0}, 11, Odd},
    {"logarithmic X between decades", 480, 300, 70, 40, 40, 60, sclLogLin, grdVer,
     {2, 900, 1, 0}, {-100, 0, 20, 0}, 11, clBtnFace},
    {"logarithmic X over general decades", 560, 300, 70, 40, 40, 60, sclLogLin, grdNone,
     {0.001f, 5000, 1, 0}, {-100, 0, 20, 0}, 11, Odd},
    {"logarithmic X up to 1E+04", 480, 300, 70, 40, 40, 60, sclLogLin, grdBoth,
     {1, 10000, 1, 0}, {-100, 0, 20, 0}, 11, Muted},
    {"both logarithmic", 480, 320, 70, 40, 40, 60, sclLogLog, grdBoth,
     {0.01f, 100, 1, 0}, {5, 50000, 1, 0}, 11, Odd},
};
// clang-format on

bool IsLogX(TDXGrdScale s)
{
    return s == sclLogLin || s == sclLogLog;
}

bool IsLogY(TDXGrdScale s)
{
    return s == sclLinLog || s == sclLogLog;
}

int Trunc(double v)
{
    return static_cast<int>(std::trunc(v));
}

QColor Resolve(TColor c)
{
    if (c == clBtnFace)
        return QApplication::palette().color(QPalette::Button);
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// Each part times the factor, rounded to nearest, at most 255.
QColor Scaled(const QColor& c, double f)
{
    auto part = [f](int v) { return static_cast<int>(std::min(255L, std::lround(v * f))); };
    return QColor(part(c.red()), part(c.green()), part(c.blue()));
}

// "0" or "0.00..": fixed decimals; a minus only when a digit other than 0 shows.
QString FixedText(double v, int decimals)
{
    const QString s = QString::number(std::fabs(v), 'f', decimals);
    return v < 0 && s.contains(QRegularExpression("[1-9]")) ? "-" + s : s;
}

QString ExponentDigits(int e)
{
    return QString::number(std::abs(e)).rightJustified(2, '0');
}

// "#.##E-00": one leading digit, up to two decimals, exponent of two digits signed when negative.
QString ScientificText(double v)
{
    int e = static_cast<int>(std::floor(std::log10(std::fabs(v))));
    double m = std::round(std::fabs(v) / std::pow(10.0, e) * 100) / 100;
    if (m >= 10) {
        m /= 10;
        ++e;
    }
    QString s = QString::number(m, 'f', 2);
    while (s.endsWith('0'))
        s.chop(1);
    if (s.endsWith('.'))
        s.chop(1);
    return (v < 0 ? "-" : "") + s + "E" + (e < 0 ? "-" : "") + ExponentDigits(e);
}

QString LinearText(double v, const Axis& a)
{
    if (a.Min <= -100000 || a.Max >= 100000 || double(a.Max) - a.Min < 0.001)
        return ScientificText(v);
    return FixedText(v, std::max(a.Decimals, 0));
}

// "#E+00" beyond the decades -3..3, else the plain decimal form (0.001 .. 1000).
QString DecadeText(int e, bool scientific)
{
    if (scientific)
        return QString("1E") + (e < 0 ? "-" : "+") + ExponentDigits(e);
    return e >= 0 ? "1" + QString(e, '0') : "0." + QString(-e - 1, '0') + "1";
}

// Linear ticks: the step widened until ten steps per pixel fit the axis length, the first
// tick the first multiple of the step at or above the minimum, the step's width in pixels.
struct LinearTicks
{
    double Gap, First;
    int StepPx;
};

LinearTicks Ticks(const Axis& a, int length, float& gapOut)
{
    const double range = double(a.Max) - a.Min;
    gapOut = a.Gap;
    if (length < Trunc(range * 10 / gapOut))
        gapOut = static_cast<float>(range * 10 / length);
    const double gap = gapOut;
    double first = std::trunc(a.Min / gap) * gap;
    if (first < a.Min)
        first += gap;
    return {gap, first, Trunc(length * gap / range)};
}

// Calls line(value) on 1..9 times each power of ten from the minimum while below the maximum.
template <class F> void LogGrid(float min, float max, F&& line)
{
    const float lmin = std::log10(min);
    const int d = static_cast<int>(std::floor(lmin));
    int m = Trunc(std::pow(10.0, double(lmin) - d));
    double p = std::pow(10.0, d);
    auto next = [&] {
        if (++m == 10) {
            m = 1;
            p *= 10;
        }
    };
    while (m * p < min)
        next();
    for (int n = 0; n < 1000 && m * p < max; ++n, next())
        line(m * p);
}

QFont AxisFont(int px)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(px);
    return f;
}

// Text of an owner-drawn label; empty: the axis pattern.
using LabelText = std::function<QString(double)>;

// The picture the control should paint for a view without series; also gives the grid steps
// the linear axes end up with.
struct Picture
{
    QImage Image;
    float XGap = 0, YGap = 0;
};

Picture Expected(const View& v, const LabelText& owner = {})
{
    Picture out;
    const int W = v.Width, H = v.Height;
    const int l = v.GapLeft, t = v.GapTop, r = W - v.GapRight, b = H - v.GapBottom;
    const QColor face = Resolve(v.Face), light = Scaled(face, 1.25), dark = Scaled(face, 0.75);
    const QColor grid = Resolve(GridInk), ink = Resolve(TextInk), bk(0, 0, 0);
    out.Image = QImage(W, H, QImage::Format_RGB32);
    out.Image.fill(face);
    QPainter p(&out.Image);
    auto dot = [&](int x, int y, const QColor& c) { p.fillRect(x, y, 1, 1, c); };
    // Lines leave out their end pixel.
    auto hline = [&](int x0, int x1, int y, const QColor& c) {
        for (int x = x0; x != x1; x += x1 > x0 ? 1 : -1)
            dot(x, y, c);
    };
    auto vline = [&](int x, int y0, int y1, const QColor& c) {
        for (int y = y0; y != y1; y += y1 > y0 ? 1 : -1)
            dot(x, y, c);
    };
    // Raised control edge (corners are not compared), plot area one pixel larger, sunken frame.
    hline(1, W - 1, 0, light);
    vline(0, 1, H - 1, light);
    hline(1, W - 1, H - 1, dark);
    vline(W - 1, 1, H - 1, dark);
    p.fillRect(QRect(QPoint(l, t), QPoint(r, b)), bk);
    vline(l - 1, b + 1, t - 1, dark);
    hline(l - 1, r, t - 1, dark);
    vline(r, t - 1, b + 1, light);
    hline(r, l - 1, b + 1, light);

    const QFont font = AxisFont(v.FontPx);
    const QFontMetrics fm(font);
    p.setFont(font);
    p.setPen(ink);
    auto text = [&](int x, int y, const QString& s) {
        p.drawText(x, y + p.fontMetrics().ascent(), s);
    };
    const int th = fm.height();

    // Logarithmic axes: a label on each decade, plain from 0.001 to 1000 unless the axis reaches
    // beyond, and grid lines on 1..9 times each decade.
    const auto logAxis = [&](const Axis& a, const plottest::LogMap& m, auto&& label, bool grid,
                             auto&& line) {
        const int dmin = static_cast<int>(std::ceil(std::log10(a.Min)));
        const int dmax = static_cast<int>(std::floor(std::log10(a.Max)));
        for (int e = dmin; e <= dmax; ++e) {
            const double val = std::pow(10.0, e);
            label(owner ? owner(val) : DecadeText(e, dmin < -3 || dmax > 3), m(val));
        }
        if (grid)
            LogGrid(a.Min, a.Max, [&](double g) { line(m(g)); });
    };
    // Linear axes: labels on every few ticks, as many as keep them minPx apart.
    const auto linearAxis = [&](const Axis& a, int length, float& gapOut, int minPx, auto&& at,
                                auto&& label, bool grid, auto&& line) {
        const LinearTicks k = Ticks(a, length, gapOut);
        double labelStep = k.Gap;
        for (int px = k.StepPx; px < minPx; px += k.StepPx)
            labelStep += k.Gap;
        for (double val = k.First; val <= a.Max; val += labelStep)
            label(owner ? owner(val) : LinearText(val, a), at(val));
        for (double val = k.First; grid && val < a.Max; val += k.Gap)
            line(at(val));
    };

    // Y: labels right-aligned ten pixels left of the plot, centred on two-pixel ticks.
    auto yLabel = [&](const QString& s, int y) {
        text(l - fm.horizontalAdvance(s) - 10, y - th / 2, s);
        hline(l - 2, l, y, grid);
    };
    auto yGrid = [&](int y) { hline(l, r, y, grid); };
    const bool hor = v.Grid == grdHor || v.Grid == grdBoth;
    if (IsLogY(v.Scale)) {
        logAxis(v.Y, plottest::MapLog(v.Y.Min, v.Y.Max, b, t + 1, 1), yLabel, hor, yGrid);
    } else {
        const int h = b - t;
        const double range = double(v.Y.Max) - v.Y.Min;
        const int offset = Trunc(h * double(v.Y.Min) / range);
        linearAxis(
            v.Y, h, out.YGap, 2 * th,
            [&](double val) { return b - Trunc(h * val / range) + offset; }, yLabel, hor, yGrid);
    }

    // X: labels five pixels below the plot, centred on two-pixel ticks under the frame; the
    // labels keep the width of the widest text with a minus and ten pixels apart.
    auto xLabel = [&](const QString& s, int x) {
        text(x - fm.horizontalAdvance(s) / 2, b + 5, s);
        vline(x, b + 1, b + 3, grid);
    };
    auto xGrid = [&](int x) { vline(x, t, b, grid); };
    const bool ver = v.Grid == grdVer || v.Grid == grdBoth;
    if (IsLogX(v.Scale)) {
        logAxis(v.X, plottest::MapLog(v.X.Min, v.X.Max, l, r), xLabel, ver, xGrid);
    } else {
        const int w = r - l - 1;
        const double range = double(v.X.Max) - v.X.Min;
        const int offset = Trunc(w * double(v.X.Min) / range);
        const float widest = std::fabs(v.X.Max) > std::fabs(v.X.Min) ? v.X.Max : v.X.Min;
        const int tw = fm.horizontalAdvance(LinearText(widest, v.X) + "-");
        linearAxis(
            v.X, w, out.XGap, tw + 10,
            [&](double val) { return Trunc(w * val / range) + l - offset; }, xLabel, ver, xGrid);
    }
    return out;
}

void Apply(TDXHistographInt& h, const View& v)
{
    plottest::Layout(h, v.Width, v.Height, v.GapLeft, v.GapTop, v.GapRight, v.GapBottom);
    h.setColor(v.Face);
    h.setGridColor(GridInk);
    h.setGridVisible(v.Grid);
    h.setFontXAxis(AxisFont(v.FontPx));
    h.setFontYAxis(AxisFont(v.FontPx));
    h.setFontColor(TDXHistographInt::fiXAxis, TextInk);
    h.setFontColor(TDXHistographInt::fiYAxis, TextInk);
    plottest::SetX(h, v.X.Min, v.X.Max);
    h.setViewXGap(v.X.Gap);
    h.setViewXDecimals(v.X.Decimals);
    plottest::SetY(h, v.Y.Min, v.Y.Max);
    h.setViewYGap(v.Y.Gap);
    h.setViewYDecimals(v.Y.Decimals);
    h.setGridScale(v.Scale);
}

// Pixels that differ, apart from the four corners of the control edge.
int Differing(const QImage& got, QImage want)
{
    const int r = want.width() - 1, b = want.height() - 1;
    for (const QPoint c : {QPoint(0, 0), QPoint(r, 0), QPoint(0, b), QPoint(r, b)})
        want.setPixel(c, got.pixel(c));
    return plottest::Differing(got, want);
}

} // namespace

TEST(PlotAxisLayout, FrameLabelsTicksAndGridMatchTheLayoutRulesInEveryView)
{
    for (const View& v : Views) {
        SCOPED_TRACE(v.Name);
        TDXHistographInt h;
        Apply(h, v);
        h.RenderNow();
        const Picture want = Expected(v);
        EXPECT_EQ(Differing(h.Surface(), want.Image), 0);
        if (!IsLogX(v.Scale)) {
            EXPECT_FLOAT_EQ(h.ViewXGap(), want.XGap);
        }
        if (!IsLogY(v.Scale)) {
            EXPECT_FLOAT_EQ(h.ViewYGap(), want.YGap);
        }
    }
}

// Owner-drawn labels take their texts from the handlers; the X label spacing is still measured
// on the pattern's widest text.
TEST(PlotAxisLayout, OwnerDrawnLabelsKeepThePatternSpacing)
{
    const LabelText owner = [](double v) { return "<" + QString::number(v, 'g', 6) + ">"; };
    // Symmetric X with two Y decimals, gaps enlarged to ten pixels, both axes logarithmic.
    for (const int i : {1, 2, 17}) {
        const View& v = Views[i];
        SCOPED_TRACE(v.Name);
        TDXHistographInt h;
        Apply(h, v);
        h.setOwnerDrawXAxis(true);
        h.setOwnerDrawYAxis(true);
        h.OnXAxis = [&](double val, QString& out) { out = owner(val); };
        h.OnYAxis = h.OnXAxis;
        h.RenderNow();
        EXPECT_EQ(Differing(h.Surface(), Expected(v, owner).Image), 0);
    }
}
