#include "dxPlotMath.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

namespace dxplot {

namespace {

struct PatternParts
{
    int intZeros = 0;
    int fracMin = 0;
    int fracMax = 0;
    bool exponent = false;
    bool expPlus = false;
    int expDigits = 0;
};

PatternParts ParsePattern(std::string_view pattern)
{
    PatternParts p;
    const auto ePos = pattern.find_first_of("Ee");
    const std::string_view mant = pattern.substr(0, ePos);
    if (ePos != std::string_view::npos) {
        p.exponent = true;
        const std::string_view ex = pattern.substr(ePos + 1);
        p.expPlus = !ex.empty() && ex.front() == '+';
        p.expDigits = static_cast<int>(std::count(ex.begin(), ex.end(), '0'));
    }
    const auto dot = mant.find('.');
    const std::string_view ip = mant.substr(0, dot);
    p.intZeros = static_cast<int>(std::count(ip.begin(), ip.end(), '0'));
    if (dot != std::string_view::npos) {
        const std::string_view fp = mant.substr(dot + 1);
        for (std::size_t i = 0; i < fp.size(); ++i) {
            if (fp[i] == '0' || fp[i] == '#')
                ++p.fracMax;
            if (fp[i] == '0')
                p.fracMin = p.fracMax;
        }
    }
    p.fracMax = std::min(p.fracMax, 30);
    p.fracMin = std::min(p.fracMin, p.fracMax);
    return p;
}

void TrimFraction(std::string& frac, int minDigits)
{
    while (static_cast<int>(frac.size()) > minDigits && frac.back() == '0')
        frac.pop_back();
}

std::string Join(std::string ip, const std::string& frac)
{
    return frac.empty() ? ip : ip + "." + frac;
}

bool HasNonZeroDigit(const std::string& s)
{
    return std::any_of(s.begin(), s.end(), [](char c) { return c >= '1' && c <= '9'; });
}

} // namespace

std::string FormatFloatPattern(std::string_view pattern, double value)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
    const PatternParts p = ParsePattern(pattern);
    const double a = std::fabs(value);
    char buf[512];
    std::string out;
    if (!p.exponent) {
        auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::fixed, p.fracMax);
        const std::string s(buf, res.ptr);
        const auto dot = s.find('.');
        std::string ip = s.substr(0, dot);
        std::string frac = dot == std::string::npos ? std::string() : s.substr(dot + 1);
        TrimFraction(frac, p.fracMin);
        if (ip == "0" && p.intZeros == 0)
            ip.clear();
        if (static_cast<int>(ip.size()) < p.intZeros)
            ip.insert(0, p.intZeros - ip.size(), '0');
        out = Join(ip, frac);
        if (out.empty())
            out.assign(1, '0');
    } else {
        std::string ip = "0";
        std::string frac;
        int exp10 = 0;
        if (a != 0.0) {
            auto res =
                std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, p.fracMax);
            const std::string s(buf, res.ptr);
            const auto e = s.find('e');
            const std::string mant = s.substr(0, e);
            exp10 = std::stoi(s.substr(e + 1));
            const auto dot = mant.find('.');
            ip = mant.substr(0, dot);
            frac = dot == std::string::npos ? std::string() : mant.substr(dot + 1);
        } else {
            frac.assign(p.fracMax, '0');
        }
        TrimFraction(frac, p.fracMin);
        std::string ex = std::to_string(std::abs(exp10));
        if (static_cast<int>(ex.size()) < p.expDigits)
            ex.insert(0, p.expDigits - ex.size(), '0');
        out = Join(ip, frac) + "E" + (exp10 < 0 ? "-" : (p.expPlus ? "+" : "")) + ex;
    }
    if (value < 0 && HasNonZeroDigit(out.substr(0, out.find('E'))))
        out.insert(0, 1, '-');
    return out;
}

std::string FormatGeneral4(double value)
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value == 0.0 ? 0.0 : value,
                             std::chars_format::general, 4);
    return std::string(buf, res.ptr);
}

std::string LinearAxisPattern(double vmin, double vmax, int decimals)
{
    if (vmin <= -100000.0 || vmax >= 100000.0 || vmax - vmin < 0.001)
        return "#.##E-00";
    if (decimals >= 1)
        return "0." + std::string(static_cast<std::size_t>(std::min(decimals, 20)), '0');
    return "0";
}

double LinearAxis::EnlargedGap() const
{
    if (Length > 0 && Gap > 0 && Length < std::trunc(Range() * 10.0 / Gap))
        return Range() * 10.0 / Length;
    return Gap;
}

double LinearAxis::FirstTick() const
{
    if (Origin == 0) {
        double first = std::trunc(Min / Gap) * Gap;
        if (first < Min)
            first += Gap;
        return first;
    }
    return Origin + std::ceil((Min - Origin) / Gap - 1e-6) * Gap;
}

int LinearAxis::StepPixels() const
{
    return TruncClamp(Length * Gap / Range(), 0, INT_MAX / 4);
}

double LinearAxis::LabelStep(int minDistance) const
{
    const int stepPx = StepPixels();
    double step = Gap;
    long long p = stepPx;
    for (int n = 0; p < minDistance && n < 1000; ++n) {
        p += stepPx;
        step += Gap;
    }
    return step;
}

int LinearAxis::Offset(double v) const
{
    constexpr int lim = 1 << 29;
    const long long d = static_cast<long long>(TruncClamp(Length * v / Range(), -lim, lim)) -
                        TruncClamp(Length * Min / Range(), -lim, lim);
    return static_cast<int>(std::clamp<long long>(d, -lim, lim));
}

int LogMapping::ToPixel(double v) const
{
    return ToPixel(v, 1.0);
}

int LogMapping::ToPixel(double v, double scale) const
{
    if (v <= 1e-30)
        v = 1e-30;
    const double r = (std::log(v) * Factor + Offset) * scale;
    if (!std::isfinite(r))
        return 0;
    // The clamp keeps its meaning in logical pixels.
    const int limit = static_cast<int>(30000 * scale);
    return TruncClamp(r, -limit, limit);
}

double LogMapping::ToValue(double pixel) const
{
    return std::exp((pixel - Offset) / Factor);
}

bool UpdateLogYMapping(LogMapping& m, float vmin, float vmax, int top, int bottom)
{
    if (!(vmin > 0.0f && vmin < vmax))
        return false;
    // The offset comes from the stored (rounded) factor, the one the pixels are computed
    // with; the unrounded factor put the minimum of a 1E-04..1 axis a pixel above bottom - 1.
    m.Factor =
        static_cast<float>(-(bottom - top - 1) / (std::log(double(vmax)) - std::log(double(vmin))));
    m.Offset = static_cast<float>(bottom - double(m.Factor) * std::log(double(vmin)) - 1);
    return true;
}

bool UpdateLogXMapping(LogMapping& m, float curMin, float curMax, float nomMin, float nomMax,
                       int left, int right)
{
    if (!(curMin > 0.0f && curMin < curMax && nomMin > 0.0f && nomMin < nomMax))
        return false;
    // As for Y; the unrounded factor put a 0.01 minimum on the frame left of the plot.
    m.Factor =
        static_cast<float>((right - left) / (std::log(double(curMax)) - std::log(double(curMin))));
    m.Offset = static_cast<float>(left - double(m.Factor) * std::log(double(curMin)));
    return true;
}

int CeilDecade(float vmin)
{
    return TruncClamp(std::ceil(std::log10(vmin)), -1000, 1000);
}

int FloorDecade(float vmax)
{
    return TruncClamp(std::floor(std::log10(vmax)), -1000, 1000);
}

bool NeedsRescale(float gmin, float gmax, float vmin, float vmax)
{
    const double range = double(gmax) - double(gmin);
    if (range == 0.0)
        return false;
    return gmin < vmin || gmax > vmax || (double(vmax) - double(vmin)) / 2.5 > range;
}

std::optional<AutoScaleView> RoundedView(float gmin, float gmax)
{
    const float r = gmax - gmin;
    if (!(r > 0.0f) || !std::isfinite(r))
        return std::nullopt;
    int e = static_cast<int>(std::trunc(std::log10(static_cast<long double>(r))));
    if (r < 1.0f)
        e -= 1;
    // Exact powers of ten, so that spans like 0.5 are not pushed to the next step.
    long double p10 = 1.0L;
    for (int i = 0; i < std::abs(e); ++i)
        p10 *= 10.0L;
    const long double q = e >= 0 ? r / p10 : r * p10;
    long double m = std::nearbyint(q);
    if (q > m)
        m += 1;
    m = m <= 2 ? 2 : (m <= 5 ? 5 : 10);
    const long double span = e >= 0 ? m * p10 : m / p10;
    AutoScaleView v{};
    v.Min = static_cast<float>((static_cast<long double>(gmin) + gmax) / 2 - span / 2);
    v.Max = static_cast<float>(v.Min + span);
    v.Gap = static_cast<float>(span / 4);
    return v;
}

} // namespace dxplot
