// Automatic Y scaling and the repairs of non-positive limits on logarithmic axes, driven
// through the control; expected views are worked out here from the scaling rule.

#include "plot_interaction_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace {

struct YView
{
    float Min, Max, Gap;
};

// The data range must not be zero and must leave the view or fill less than 40 percent of it;
// the new span is 2, 5 or 10 times a power of ten, centred on the data, in four steps.
std::optional<YView> RuleView(float gmin, float gmax, float vmin, float vmax)
{
    const double range = double(gmax) - gmin;
    if (range == 0 || !(gmin < vmin || gmax > vmax || (double(vmax) - vmin) / 2.5 > range))
        return std::nullopt;
    const float r = static_cast<float>(range);
    int e = static_cast<int>(std::trunc(std::log10(double(r))));
    if (r < 1)
        e -= 1;
    const double q = e >= 0 ? r / std::pow(10.0, e) : r * std::pow(10.0, -e);
    double m = std::nearbyint(q);
    if (q > m)
        m += 1;
    m = m <= 2 ? 2 : (m <= 5 ? 5 : 10);
    const double span = m * std::pow(10.0, e);
    YView v{};
    v.Min = static_cast<float>((double(gmin) + gmax) / 2 - span / 2);
    v.Max = static_cast<float>(v.Min + span);
    v.Gap = static_cast<float>(span / 4);
    return v;
}

// A logarithmic axis gets 0.1 for a non-positive maximum, then a hundredth of the maximum for
// a non-positive minimum.
void RepairLog(float& min, float& max)
{
    if (max <= 0)
        max = 0.1f;
    if (min <= 0)
        min = max / 100;
}

std::vector<float> Ramp(float from, float to, int n = 50)
{
    std::vector<float> v(n);
    for (int i = 0; i < n; ++i)
        v[i] = from + (to - from) * i / (n - 1);
    v.back() = to;
    return v;
}

void ExpectView(const TDXHistographInt& h, const YView& want)
{
    const double tol = 1e-6 * (std::fabs(want.Max) + std::fabs(want.Min) + 1);
    EXPECT_NEAR(h.ViewYMin(), want.Min, tol);
    EXPECT_NEAR(h.ViewYMax(), want.Max, tol);
    EXPECT_NEAR(h.ViewYGap(), want.Gap, tol);
}

bool RangeErrorShown(const TDXHistographInt& h)
{
    return h.Surface().pixel(h.width() - 3, h.height() - 3) == qRgb(255, 0, 0);
}

} // namespace

TEST(PlotAutoScale, NewDataRescalesOnlyWhenItLeavesOrUnderfillsTheView)
{
    struct Case
    {
        const char* What;
        YView Start;
        float Lo, Hi;
        bool EmptySecondSeries;
    };
    const Case cases[] = {
        {"well filled", {-140, 0, 10}, -130, -60, false},
        {"exactly 40 percent", {-140, 0, 10}, -100, -44, false},
        {"just under 40 percent", {-140, 0, 10}, -100, -44.5f, false},
        {"narrow, half a unit", {-140, 0, 10}, -100, -99.5f, false},
        {"below the view", {-140, 0, 10}, -150, -20, false},
        {"above the view", {-140, 0, 10}, -60, 15, false},
        {"flat", {-140, 0, 10}, -80, -80, false},
        {"fractions", {0, 10, 2}, 0.2f, 0.5f, false},
        {"span exactly twice a power", {0, 1000, 100}, 300, 320, false},
        {"span exactly five times a power", {0, 1000, 100}, 300, 350, false},
        {"span exactly one", {0, 10, 2}, 3, 4, false},
        {"tiny span exactly two hundredths", {-1, 1, 0.5f}, 0.5f, 0.52f, false},
        {"empty second series counts as zero", {-140, -50, 10}, -130, -60, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        TDXHistographInt h;
        h.resize(400, 300);
        plottest::SetY(h, c.Start.Min, c.Start.Max);
        h.setViewYGap(c.Start.Gap);
        if (c.EmptySecondSeries)
            h.setSeriesNumber(2);
        h.RenderNow();
        h.setAutoScale(true);
        std::vector<float> data = Ramp(c.Lo, c.Hi);
        h.SetSeriesData(data.data(), int(data.size()), 1);
        const float gmin = c.EmptySecondSeries ? std::min(c.Lo, 0.0f) : c.Lo;
        const float gmax = c.EmptySecondSeries ? std::max(c.Hi, 0.0f) : c.Hi;
        const auto want = RuleView(gmin, gmax, c.Start.Min, c.Start.Max);
        ExpectView(h, want.value_or(c.Start));
        // A new view repaints titles and axes too.
        EXPECT_EQ(h.RepaintPending(), want.has_value());
    }
}

TEST(PlotAutoScale, LogarithmicYLimitsAreRepairedOnlyWhileScaling)
{
    struct Case
    {
        const char* What;
        float Min, Max;
        std::vector<float> Data; // empty: no series data
    };
    const Case cases[] = {
        {"negative minimum, at paint", -5, 10, {}},
        {"zero minimum, at paint", 0, 10, {}},
        {"both limits negative, at paint", -5, -1, {}},
        {"zero maximum, at paint", -1, 0, {}},
        {"usable limits stay", 2, 10, {}},
        {"scaled view below zero", 1, 10, Ramp(-130, -60)},
        {"scaled view across zero", 1, 10, Ramp(-1, 3)},
        {"scaled view above zero", 1, 10, Ramp(0.2f, 0.5f)},
        {"flat data keeps the view", -1, 10, Ramp(5, 5)},
    };
    for (const bool scaling : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.What) + (scaling ? ", scaling" : ", fixed"));
            TDXHistographInt h;
            h.resize(400, 300);
            plottest::SetY(h, c.Min, c.Max);
            h.setGridScale(sclLinLog);
            std::vector<float> data = c.Data;
            if (!data.empty())
                h.SetSeriesData(data.data(), int(data.size()), 1);
            h.setAutoScale(scaling);
            YView want{c.Min, c.Max, 2};
            if (scaling) {
                const float lo = data.empty() ? 0 : data.front();
                const float hi = data.empty() ? 0 : data.back();
                if (const auto v = RuleView(lo, hi, c.Min, c.Max)) {
                    // The scaling repairs its own view before anything is painted.
                    want = *v;
                    RepairLog(want.Min, want.Max);
                    EXPECT_TRUE(h.RepaintPending());
                    ExpectView(h, want);
                }
                // Painting while scaling repairs whatever limits are still unusable.
                RepairLog(want.Min, want.Max);
            }
            h.RenderNow();
            ExpectView(h, want);
            EXPECT_EQ(RangeErrorShown(h), !(want.Min > 0 && want.Min < want.Max));
        }
}

TEST(PlotAutoScale, LogarithmicXLimitsAreRepairedOnlyWhileScaling)
{
    struct Case
    {
        const char* What;
        float Min, Max;
    };
    const Case cases[] = {
        {"zero minimum", 0, 1000},
        {"negative range", -10, -2},
        {"zero maximum", -10, 0},
        {"positive range", 5, 50},
    };
    for (const bool scaling : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.What) + (scaling ? ", scaling" : ", fixed"));
            // Switching the axis to logarithmic repairs the current limits ...
            TDXHistographInt h;
            h.resize(400, 300);
            h.setViewXNominalMin(1);
            h.setViewXNominalMax(10000);
            h.setViewXCurrentMin(c.Min);
            h.setViewXCurrentMax(c.Max);
            h.setAutoScale(scaling);
            h.setGridScale(sclLogLin);
            float min = c.Min, max = c.Max;
            if (scaling)
                RepairLog(min, max);
            EXPECT_FLOAT_EQ(h.ViewXCurrentMin(), min);
            EXPECT_FLOAT_EQ(h.ViewXCurrentMax(), max);

            // ... and so does setting them while it is logarithmic.
            TDXHistographInt g;
            g.resize(400, 300);
            plottest::SetX(g, 1, 10000);
            g.setViewXCurrentMax(20000);
            g.setGridScale(sclLogLin);
            g.setAutoScale(scaling);
            g.setViewXCurrentMin(c.Min);
            g.setViewXCurrentMax(c.Max);
            // The maximum is set last, so the minimum is repaired against the final maximum
            // only when the maximum itself needed no repair.
            min = c.Min;
            max = c.Max;
            if (scaling) {
                float m1 = 20000;
                RepairLog(min, m1);
                RepairLog(min, max);
            }
            EXPECT_FLOAT_EQ(g.ViewXCurrentMin(), min);
            EXPECT_FLOAT_EQ(g.ViewXCurrentMax(), max);
        }
}
