#include "dxColors.h"
#include "dxDeviceScale.h"
#include "dxPlotMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace dxplot;

TEST(PatternFormat, KnownPatternsGeneralFormatAndAxisPatternChoice)
{
    EXPECT_EQ(FormatFloatPattern("0.00", 2.5), "2.50");
    EXPECT_EQ(FormatFloatPattern("0", 2.4), "2");
    EXPECT_EQ(FormatFloatPattern("0", -2.6), "-3");
    EXPECT_EQ(FormatFloatPattern("#.##E-00", 12000), "1.2E04");
    EXPECT_EQ(FormatFloatPattern("#E+00", 1000), "1E+03");
    EXPECT_EQ(FormatFloatPattern("#E+00", 0.001), "1E-03");
    EXPECT_EQ(FormatFloatPattern("#.##E-00", -0.0004), "-4E-04");
    EXPECT_EQ(FormatFloatPattern("#.##E-00", 0.000123), "1.23E-04");
    EXPECT_EQ(FormatFloatPattern("0.0", -0.04), "0.0");
    EXPECT_EQ(FormatFloatPattern("0", 0.0), "0");
    EXPECT_EQ(FormatFloatPattern("#.##E-00", 0.0), "0E00");
    EXPECT_EQ(FormatFloatPattern("#E+00", 1e-5), "1E-05");
    EXPECT_EQ(FormatFloatPattern("0.000", 1234.5678), "1234.568");
    // '#' before the point shows no lone leading zero, but every other integer digit.
    EXPECT_EQ(FormatFloatPattern("#.##", 0.5), ".5");
    EXPECT_EQ(FormatFloatPattern("#.##", 12.5), "12.5");
    // Small decades keep their plain form.
    EXPECT_EQ(FormatGeneral4(0.001), "0.001");
    EXPECT_EQ(FormatGeneral4(1000), "1000");
    // Wide or tiny ranges switch to an exponent.
    EXPECT_EQ(LinearAxisPattern(-0.0004, 0.0004, 2), "#.##E-00");
    EXPECT_EQ(LinearAxisPattern(0, 100000, 2), "#.##E-00");
    EXPECT_EQ(LinearAxisPattern(-100000, 0, 0), "#.##E-00");
    EXPECT_EQ(LinearAxisPattern(-140, 0, 0), "0");
    EXPECT_EQ(LinearAxisPattern(0, 10, 2), "0.00");
}

// Decade labels and the grid lines on them are checked in the axis pictures of the plot.
TEST(LogAxis, MappingPutsTheLimitsOnTheEdgesAndRefusesUnusableLimits)
{
    LogMapping y;
    ASSERT_TRUE(UpdateLogYMapping(y, 1, 1000, 10, 210));
    EXPECT_EQ(y.ToPixel(1), 209);
    EXPECT_NEAR(y.ToPixel(1000), 10, 1);
    // Non-positive values sit at 1e-30, far below the plot.
    EXPECT_GT(y.ToPixel(0), 1000);
    EXPECT_EQ(y.ToPixel(-5), y.ToPixel(0));
    EXPECT_EQ(y.ToPixel(NAN), 0);
    LogMapping unchanged = y;
    EXPECT_FALSE(UpdateLogYMapping(unchanged, 0, 10, 10, 210));
    EXPECT_EQ(unchanged.Factor, y.Factor);

    LogMapping x;
    ASSERT_TRUE(UpdateLogXMapping(x, 10, 1000, 1, 10000, 50, 450));
    EXPECT_NEAR(x.ToPixel(10), 50, 1);
    EXPECT_NEAR(x.ToPixel(100), 250, 1);
    EXPECT_FALSE(UpdateLogXMapping(x, 10, 1000, 0, 10000, 50, 450));
}

TEST(AutoScaleRule, SpanIsAlwaysTwoFiveOrTenTimesAPowerAndCoversTheData)
{
    for (double r = 1e-6; r < 1e7; r *= 1.37) {
        const float lo = static_cast<float>(-0.37 * r);
        const float hi = static_cast<float>(0.63 * r);
        const auto v = RoundedView(lo, hi);
        ASSERT_TRUE(v.has_value());
        const double span = double(v->Max) - v->Min;
        const double e = std::floor(std::log10(span) + 1e-9);
        const double m = span / std::pow(10.0, e);
        EXPECT_TRUE(std::fabs(m - 1) < 1e-3 || std::fabs(m - 2) < 1e-3 || std::fabs(m - 5) < 1e-3 ||
                    std::fabs(m - 10) < 1e-3)
            << "range " << r << " span " << span;
        EXPECT_GE(span, (hi - lo) * (1 - 1e-5));
        EXPECT_LT(span, (hi - lo) * 10.001);
        EXPECT_NEAR(v->Gap, span / 4, span * 1e-5);
    }
    EXPECT_FALSE(RoundedView(-80, -80).has_value());
    EXPECT_FALSE(RoundedView(0, INFINITY).has_value());
}

// Logical pixel k starts at device pixel floor(k * ratio); the far edges land on the rounded
// device size, and positions past them stay past them, one device pixel per logical one.
TEST(DeviceScale, LogicalEdgesCoverTheSurfaceAndStayInOrderPastIt)
{
    for (double ratio : {1.0, 1.25, 1.5, 2.0}) {
        SCOPED_TRACE(ratio);
        const auto s = DeviceScale::For(101, 37, ratio);
        EXPECT_EQ(s.DeviceWidth, int(std::lround(101 * ratio)));
        EXPECT_EQ(s.DeviceHeight, int(std::lround(37 * ratio)));
        EXPECT_EQ(s.LineWidth(), ratio < 2 ? 1 : 2);
        for (int k = 0; k < 101; ++k)
            ASSERT_EQ(s.X(k), int(std::floor(k * ratio))) << k;
        for (int k = 0; k < 37; ++k)
            ASSERT_EQ(s.Y(k), int(std::floor(k * ratio))) << k;
        for (int j = 0; j <= 3; ++j) {
            EXPECT_EQ(s.X(101 + j), s.DeviceWidth + j);
            EXPECT_EQ(s.Y(37 + j), s.DeviceHeight + j);
        }
        EXPECT_EQ(s.At(10.5), int(std::floor(10.5 * ratio)));
        EXPECT_EQ(s.At(1e300), 1000000000);
        EXPECT_EQ(s.At(-1e300), -1000000000);
    }
    EXPECT_EQ(DeviceScale::For(10, 10, 0).Ratio, 1.0);
}

// Stored colours keep red in the low byte: every colour survives the trip through QColor.
TEST(Colors, StoredValuesRoundTripThroughQColor)
{
    EXPECT_EQ(QColorToColor(QColor(255, 0, 0)), clRed);
    EXPECT_EQ(QColorToColor(QColor(0, 255, 0)), clLime);
    EXPECT_EQ(QColorToColor(QColor(0, 0, 255)), clBlue);
    for (int r : {0, 1, 127, 255})
        for (int g : {0, 3, 128, 255})
            for (int b : {0, 64, 254}) {
                const QColor q(r, g, b);
                EXPECT_EQ(ColorToQColor(QColorToColor(q)), q) << r << " " << g << " " << b;
            }
}
