#include "DateTimeU.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <limits>

using namespace quillex;

namespace {

std::string Full(double t)
{
    return FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t);
}

TEST(DateTime, EncodesDaysSinceTheEpochFormatsAndRoundTrips)
{
    EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(2000, 1, 1, 18, 0, 0), 36526.75);
    // Before the epoch the day counts down but the time of day stays positive.
    EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
    EXPECT_EQ(Full(-1.25), "1899-12-29 06:00:00.000");
    // Overflowing fields carry like a calendar.
    EXPECT_EQ(EncodeDateTime(2023, 13, 1, 0, 0, 0), EncodeDateTime(2024, 1, 1, 0, 0, 0));
    EXPECT_EQ(EncodeDateTime(1, -11, 1, 0, 0, 0), EncodeDateTime(1, 1, 1, 0, 0, 0) - 366); // leap
    EXPECT_EQ(EncodeDateTime(2024, 1, 1, 0, 0, -1), EncodeDateTime(2023, 12, 31, 23, 59, 59));

    const double t = EncodeDateTime(2007, 3, 9, 4, 5, 6, 7);
    // Tokens in either case; other letters and brackets stay as they are.
    EXPECT_EQ(FormatDateTime("HH:NN:SS.ZZZ DD.MM.YYYY [x] yyyyy h", t),
              "04:05:06.007 09.03.2007 [x] 2007y h");
    // Only the view is the format, even where the text goes on beyond it.
    EXPECT_EQ(FormatDateTime(std::string_view("hh:nn", 4), t), "04:n");
    EXPECT_EQ(Full(std::numeric_limits<double>::quiet_NaN()), "1899-12-30 00:00:00.000");
    EXPECT_EQ(Full(1e300), "9999-12-31 23:59:59.999");
    EXPECT_EQ(Full(-std::numeric_limits<double>::infinity()).substr(0, 10), "0001-01-01");

    // Every day from 0001-01-01 to 9999-12-31, walked with a calendar kept here (Gregorian leap
    // years), is the day after the one before; decoding and formatting give its fields back.
    const double first = EncodeDateTime(1, 1, 1, 0, 0, 0);
    int y = 1, mo = 1, d = 1;
    for (int n = 0; y <= 9999; ++n) {
        const int h = n % 24, mi = n % 59, s = n % 60, ms = n % 997;
        const double t = EncodeDateTime(y, mo, d, h, mi, s, ms);
        int f[7];
        DecodeDateTime(t, f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
        ASSERT_TRUE(EncodeDateTime(y, mo, d, 0, 0, 0) == first + n && f[0] == y && f[1] == mo &&
                    f[2] == d && f[3] == h && f[4] == mi && f[5] == s && f[6] == ms)
            << y << "-" << mo << "-" << d << " " << h << ":" << mi << ":" << s << "." << ms;
        if (n % 101 == 0) {
            char text[64];
            std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi,
                          s, ms);
            ASSERT_EQ(Full(t), text);
        }
        const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
        const int days = mo == 2 ? 28 + leap : mo == 4 || mo == 6 || mo == 9 || mo == 11 ? 30 : 31;
        if (++d > days) {
            d = 1;
            if (++mo > 12) {
                mo = 1;
                ++y;
            }
        }
    }
    // Rounding to the millisecond carries across midnight.
    EXPECT_EQ(Full(EncodeDateTime(2020, 12, 31, 0, 0, 0) + 1.0 - 1e-10), "2021-01-01 00:00:00.000");
}

TEST(DateTime, TimePointsUseLocalWallClock)
{
    const std::time_t when = 1626270300; // mid-July 2021, in summer time where there is one
    std::tm local{};
    localtime_r(&when, &local);
    const auto tp = std::chrono::system_clock::from_time_t(when) + std::chrono::milliseconds(250);
    EXPECT_NEAR(DateTimeFromTimePoint(tp),
                EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec, 250),
                1e-9);
    const double before = DateTimeFromTimePoint(std::chrono::system_clock::now());
    EXPECT_GE(NowDateTime(), before);
    EXPECT_LT(NowDateTime() - before, SecondsToDays(60));
}

} // namespace
