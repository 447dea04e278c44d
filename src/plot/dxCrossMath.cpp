#include "dxCrossMath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dxplot {

namespace {

// Pixel results stay far inside int, also for values far outside the view.
constexpr int PixelLimit = 1 << 30;

// Round half to even of a sample position, clamped to 1..n; NaN snaps to the first sample.
int RoundIndex(double q, int n)
{
    if (std::isnan(q))
        return 1;
    q = std::clamp(q, 0.0, double(n) + 1.0);
    return std::clamp(static_cast<int>(std::nearbyint(q)), 1, n);
}

void ReplacePoint(std::string& s, const std::string& point)
{
    const auto dot = s.find('.');
    if (dot != std::string::npos)
        s.replace(dot, 1, point);
}

} // namespace

float CrossGeometry::PixelToX(int px) const
{
    if (LogX)
        return static_cast<float>(std::exp((px - double(LogXMap.Offset)) / LogXMap.Factor));
    return static_cast<float>(CurrentMin +
                              (double(CurrentMax) - CurrentMin) * (px - GapLeft) / PlotW());
}

float CrossGeometry::PixelToY(int py) const
{
    if (LogY)
        return static_cast<float>(std::exp((py - double(LogYMap.Offset)) / LogYMap.Factor));
    return static_cast<float>(YMin + (double(YMax) - YMin) * (Height - py - GapBottom) / PlotH());
}

int CrossGeometry::XToPixel(float x) const
{
    if (LogX)
        return LogXMap.ToPixel(x);
    const double v = (double(x) - CurrentMin) * PlotW() / (double(CurrentMax) - CurrentMin);
    return TruncClamp(v + GapLeft, -PixelLimit, PixelLimit);
}

int CrossGeometry::YToPixel(float y) const
{
    if (LogY)
        return LogYMap.ToPixel(y);
    const double v = (double(YMin) - y) * PlotH() / (double(YMax) - YMin);
    return TruncClamp(v + (Height - GapBottom), -PixelLimit, PixelLimit) + 1;
}

Snap SnapIndex(const CrossGeometry& g, int n, int px)
{
    if (n <= 1)
        return {1, g.NominalMin};
    const double nominal = double(g.NominalMax) - g.NominalMin;
    if (g.LogX) {
        const float step = static_cast<float>(nominal / (n - 1));
        const float base = g.NominalMin - step;
        const int index = RoundIndex((double(g.PixelToX(px)) - base) / step, n);
        return {index, static_cast<float>(double(index) * step + base)};
    }
    const double current = double(g.CurrentMax) - g.CurrentMin;
    const float step = static_cast<float>(nominal * g.PlotW() / current / (n - 1));
    const float origin = static_cast<float>(
        (double(g.NominalMin) - g.CurrentMin) * g.PlotW() / current + g.GapLeft - step);
    const int index = RoundIndex((px - double(origin)) / step, n);
    return {index, static_cast<float>(nominal * (index - 1) / (n - 1) + g.NominalMin)};
}

double SamplePixel(const CrossGeometry& g, int n, int i)
{
    const double nominal = double(g.NominalMax) - g.NominalMin;
    const int steps = std::max(n - 1, 1);
    if (g.LogX) {
        const double s = nominal / steps;
        return g.LogXMap.ToPixel(i * s + g.NominalMin - s);
    }
    const double current = double(g.CurrentMax) - g.CurrentMin;
    const double p = nominal * g.PlotW() / current / steps;
    const double origin =
        (double(g.NominalMin) - g.CurrentMin) * g.PlotW() / current + g.GapLeft - p;
    return i * p + origin;
}

void BuildRubberProfile(int n, std::vector<float>& weights)
{
    weights.assign(static_cast<std::size_t>(std::max(n, 1)), 1.0f);
    if (n <= 1)
        return;
    for (int k = 1; k <= n; ++k) {
        const double t = k - n / 2.0;
        weights[k - 1] =
            static_cast<float>((std::exp(-12.0 * t * t / (double(n) * n)) - 0.04978) * 1.05239);
    }
    if (n > 10) {
        weights[0] *= 0.1f;
        weights[n - 1] *= 0.1f;
        weights[1] *= 0.5f;
        weights[n - 2] *= 0.5f;
    }
}

std::string FormatValue4(double value, const std::string& point)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
    if (value == 0.0)
        return "0";
    char buf[64];
    // The exponent after rounding to 4 significant digits decides the notation.
    std::snprintf(buf, sizeof buf, "%.3e", value);
    std::string s(buf);
    const auto e = s.find('e');
    const int exp10 = std::atoi(s.c_str() + e + 1);
    auto trim = [](std::string& m) {
        if (m.find('.') == std::string::npos)
            return;
        while (m.back() == '0')
            m.pop_back();
        if (m.back() == '.')
            m.pop_back();
    };
    if (exp10 >= -5 && exp10 <= 3) {
        std::snprintf(buf, sizeof buf, "%.*f", 3 - exp10, value);
        s = buf;
        trim(s);
    } else {
        std::string mant = s.substr(0, e);
        trim(mant);
        std::snprintf(buf, sizeof buf, "E%c%02d", exp10 < 0 ? '-' : '+', std::abs(exp10));
        s = mant + buf;
    }
    ReplacePoint(s, point);
    return s;
}

std::string FormatReadout(double value, const std::string& point)
{
    std::string s = FormatFloatPattern("#.##E-00", value);
    ReplacePoint(s, point);
    return s;
}

} // namespace dxplot
