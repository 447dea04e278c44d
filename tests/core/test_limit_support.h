#pragma once

#include <cmath>
#include <limits>

// Where a curve sets no limit.
inline const double None = std::numeric_limits<double>::quiet_NaN();

// The program's level of a magnitude, and the magnitude of a level, written out.
inline double Level(double m)
{
    return 20 * std::log10(m / 16384 + 1e-9);
}
inline float Magnitude(double level)
{
    return static_cast<float>(16384 * (std::pow(10.0, level / 20) - 1e-9));
}
