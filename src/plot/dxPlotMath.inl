#pragma once

#include <cmath>

namespace dxplot {

inline int TruncClamp(double v, int lo, int hi)
{
    if (v >= lo && v <= hi)
        return static_cast<int>(v);
    if (std::isnan(v))
        return 0 < lo ? lo : (0 > hi ? hi : 0);
    return v < lo ? lo : hi;
}

template <class F> void ForEachLogGridValue(float vmin, float vmax, F&& f)
{
    if (!(vmin > 0.0f) || !(vmax > vmin))
        return;
    const double lmin = std::log10(static_cast<double>(vmin));
    const int d = static_cast<int>(std::floor(lmin));
    int m = static_cast<int>(std::pow(10.0, lmin - d));
    if (m < 1)
        m = 1;
    if (m > 9)
        m = 9;
    double p = std::pow(10.0, d);
    auto advance = [&] {
        if (++m == 10) {
            m = 1;
            p *= 10.0;
        }
    };
    int steps = 0;
    while (m * p < vmin && steps++ < 1000)
        advance();
    for (int n = 0; n < 1000 && m * p < vmax; ++n) {
        f(m * p);
        advance();
    }
}

} // namespace dxplot
