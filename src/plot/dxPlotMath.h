#pragma once

// Qt-free arithmetic of the plot: label formats, tick layout, logarithmic mappings and the
// automatic Y scale.

#include <optional>
#include <string>
#include <string_view>

namespace dxplot {

// Truncates toward zero and clamps to lo..hi; NaN gives 0 (clamped), so no undefined cast.
inline int TruncClamp(double v, int lo, int hi);

// Pattern formatter for labels: "0" digit always shown, "#" digit shown when significant,
// "." decimal point, "E-00"/"E+00" exponent with at least as many digits as zeros (sign only
// when negative / always). The decimal point is always '.'.
std::string FormatFloatPattern(std::string_view pattern, double value);
// Up to 4 significant digits, no exponent for 0.001 .. 1000.
std::string FormatGeneral4(double value);
// Pattern of linear tick labels for a view and a number of decimals.
std::string LinearAxisPattern(double vmin, double vmax, int decimals);

// Linear axis of `length` pixels showing vmin..vmax with grid step `gap`.
struct LinearAxis
{
    double Min = 0;
    double Max = 1;
    double Gap = 1;
    int Length = 1;
    // A value the grid passes through: ticks lie at Origin + k * Gap.
    double Origin = 0;

    double Range() const { return Max - Min; }
    // Grid steps must be at least 10 pixels apart: returns the gap to use.
    double EnlargedGap() const;
    // First tick not below Min (truncation toward zero, then one step up). Away from the origin
    // a tick within a millionth of a step below Min counts as on it: Min and Origin are floats.
    double FirstTick() const;
    int StepPixels() const;
    // Label step: a multiple of Gap whose pixel distance is at least minDistance.
    double LabelStep(int minDistance) const;
    // Pixel offset of v from the axis origin (the caller adds or subtracts it from the edge).
    int Offset(double v) const;
};

// Natural-log mapping value -> pixel of a logarithmic axis.
struct LogMapping
{
    float Factor = 1.0f;
    float Offset = 0.0f;

    int ToPixel(double v) const;
    // Device pixel at `scale` device pixels per logical one.
    int ToPixel(double v, double scale) const;
    // Inverse (for clip-based index cuts).
    double ToValue(double pixel) const;
};

// Y: vmin lands on bottom - 1, vmax on top. Returns false (mapping unchanged) unless 0<vmin<vmax.
bool UpdateLogYMapping(LogMapping& m, float vmin, float vmax, int top, int bottom);
// X: curMin lands on left, curMax on right; needs 0 < curMin < curMax and 0 < nomMin < nomMax.
bool UpdateLogXMapping(LogMapping& m, float curMin, float curMax, float nomMin, float nomMax,
                       int left, int right);

// Powers of ten and their 1..9 multiples of a logarithmic axis.
int CeilDecade(float vmin);
int FloorDecade(float vmax);
// Calls f(value) for m * 10^e (m = 1..9) from the first not below vmin while below vmax,
// at most 1000 times.
template <class F> void ForEachLogGridValue(float vmin, float vmax, F&& f);

struct AutoScaleView
{
    float Min;
    float Max;
    float Gap;
};

// True when the data range gmin..gmax is not zero and leaves the view or fills less than 40
// percent of it.
bool NeedsRescale(float gmin, float gmax, float vmin, float vmax);
// Centred view with a rounded span of 2, 5 or 10 times a power of ten and four grid steps;
// nothing when the range is zero or not finite.
std::optional<AutoScaleView> RoundedView(float gmin, float gmax);

} // namespace dxplot

#include "dxPlotMath.inl"
