#include "dxDeviceScale.h"

#include <algorithm>
#include <cmath>

namespace dxplot {

namespace {

// Products of a pixel index and a ratio such as 1.1 may fall a hair below a whole number.
constexpr double Nudge = 1e-9;

int Edge(int k, int logical, int device, double ratio)
{
    if (k >= logical)
        return device + (k - logical);
    return static_cast<int>(std::floor(k * ratio + Nudge));
}

} // namespace

DeviceScale DeviceScale::For(int logicalWidth, int logicalHeight, double ratio)
{
    DeviceScale s;
    s.Ratio = ratio > 0.0 ? ratio : 1.0;
    s.LogicalWidth = std::max(0, logicalWidth);
    s.LogicalHeight = std::max(0, logicalHeight);
    s.DeviceWidth = static_cast<int>(std::lround(s.LogicalWidth * s.Ratio));
    s.DeviceHeight = static_cast<int>(std::lround(s.LogicalHeight * s.Ratio));
    return s;
}

int DeviceScale::X(int x) const
{
    return Edge(x, LogicalWidth, DeviceWidth, Ratio);
}

int DeviceScale::Y(int y) const
{
    return Edge(y, LogicalHeight, DeviceHeight, Ratio);
}

int DeviceScale::At(double logical) const
{
    const double d = std::floor(logical * Ratio + Nudge);
    if (!(d > -1e9))
        return -1000000000;
    return d < 1e9 ? static_cast<int>(d) : 1000000000;
}

int DeviceScale::LineWidth() const
{
    return std::max(1, static_cast<int>(std::floor(Ratio + Nudge)));
}

} // namespace dxplot
