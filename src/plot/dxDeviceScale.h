#pragma once

// Qt-free mapping of the plot's logical pixels onto its surface's device pixels. Layout, hit
// tests and the published geometry stay in logical pixels; the surface holds Ratio device pixels
// per logical pixel, so text, lines and the curves are drawn at the screen's own resolution.

namespace dxplot {

struct DeviceScale
{
    double Ratio = 1.0;
    int LogicalWidth = 0, LogicalHeight = 0;
    int DeviceWidth = 0, DeviceHeight = 0;

    // The device size is rounded as Qt sizes a widget's backing store and its grab.
    static DeviceScale For(int logicalWidth, int logicalHeight, double ratio);

    // First device column / row of logical pixel x / y. A logical pixel covers the device pixels
    // from its own edge up to the next pixel's edge; the control's far edges land on the device
    // size, so at a fractional ratio no device pixel at the border is left out.
    int X(int x) const;
    int Y(int y) const;
    // Device pixel of a fractional logical position (truncated, as pixel positions are).
    int At(double logical) const;
    // Device pixels across a line one logical pixel wide: the whole part of the ratio, at least
    // one. Never wider than the logical pixel it stands for, so the two-tone frame and
    // neighbouring lines keep apart, and every line has the same weight.
    int LineWidth() const;
};

} // namespace dxplot
