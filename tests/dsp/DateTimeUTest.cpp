#include "DateTimeU.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>

using namespace quillex;

namespace {

struct Fields
{
    int y, mo, d, h, mi, s, ms;
};

Fields Decode(double t)
{
    Fields f{};
    DecodeDateTime(t, f.y, f.mo, f.d, f.h, f.mi, f.s, f.ms);
    return f;
}

TEST(DateTime, KnownDaysAndTimeOfDayFraction)
{
    EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_EQ(EncodeDateTime(1900, 1, 1, 0, 0, 0), 2.0);
    EXPECT_EQ(EncodeDateTime(2000, 1, 1, 0, 0, 0), 36526.0);
    EXPECT_EQ(EncodeDateTime(2000, 1, 1, 18, 0, 0), 36526.75);
    EXPECT_NEAR(EncodeDateTime(2024, 2, 29, 0, 0, 1), 45351.0 + SecondsToDays(1), 1e-12);
    // Before the epoch the day counts down but the time of day stays positive.
    EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
}

TEST(DateTime, RoundTripsOverManyDatesAndTimes)
{
    for (int y : {1, 1600, 1899, 1900, 1970, 2000, 2024, 2100, 9999}) {
        for (int mo = 1; mo <= 12; ++mo) {
            for (int d : {1, 15, 28}) {
                const int h = (y + mo) % 24, mi = (d * 7) % 60, s = (mo * 11) % 60;
                const int ms = (y * 3 + d) % 1000;
                const Fields f = Decode(EncodeDateTime(y, mo, d, h, mi, s, ms));
                EXPECT_TRUE(f.y == y && f.mo == mo && f.d == d && f.h == h && f.mi == mi &&
                            f.s == s && f.ms == ms)
                    << y << "-" << mo << "-" << d << " " << h << ":" << mi << ":" << s << "." << ms;
            }
        }
    }
}

TEST(DateTime, OverflowingFieldsCarryLikeACalendar)
{
    EXPECT_EQ(EncodeDateTime(2023, 13, 1, 0, 0, 0), EncodeDateTime(2024, 1, 1, 0, 0, 0));
    EXPECT_EQ(EncodeDateTime(2024, 0, 31, 0, 0, 0), EncodeDateTime(2023, 12, 31, 0, 0, 0));
    EXPECT_EQ(EncodeDateTime(2024, 3, 0, 0, 0, 0), EncodeDateTime(2024, 2, 29, 0, 0, 0));
    EXPECT_EQ(EncodeDateTime(2024, 1, 1, 23, 59, 60), EncodeDateTime(2024, 1, 2, 0, 0, 0));
    EXPECT_EQ(EncodeDateTime(2024, 1, 1, 0, 0, -1), EncodeDateTime(2023, 12, 31, 23, 59, 59));
}

TEST(DateTime, DecodeRoundsToTheMillisecondAcrossMidnight)
{
    const double justBeforeMidnight = EncodeDateTime(2020, 12, 31, 0, 0, 0) + 1.0 - 1e-10;
    const Fields f = Decode(justBeforeMidnight);
    EXPECT_TRUE(f.y == 2021 && f.mo == 1 && f.d == 1 && f.h == 0 && f.mi == 0 && f.s == 0 &&
                f.ms == 0);
}

TEST(DateTime, OddValuesDecodeAndFormatSafely)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", nan), "1899-12-30 00:00:00.000");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", 1e300), "9999-12-31 23:59:59.999");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", inf), "9999-12-31 23:59:59.999");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", -inf), "0001-01-01");
    EXPECT_EQ(FormatDateTime("hh:nn:ss", -1.25), "06:00:00");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd", -1.25), "1899-12-29");
}

TEST(DateTime, FormatTokensAndLiterals)
{
    const double t = EncodeDateTime(2007, 3, 9, 4, 5, 6, 7);
    EXPECT_EQ(FormatDateTime("hh:nn:ss", t), "04:05:06");
    EXPECT_EQ(FormatDateTime("dd.mm.yyyy zzz", t), "09.03.2007 007");
    EXPECT_EQ(FormatDateTime("HH:NN [x] yyyyy", t), "04:05 [x] 2007y");
    EXPECT_EQ(FormatDateTime("", t), "");
    EXPECT_EQ(FormatDateTime("h", t), "h");
}

TEST(DateTime, TimePointsUseLocalWallClock)
{
    std::tm local{};
    local.tm_year = 2021 - 1900;
    local.tm_mon = 6;
    local.tm_mday = 14;
    local.tm_hour = 13;
    local.tm_min = 45;
    local.tm_sec = 30;
    local.tm_isdst = -1;
    const auto tp = std::chrono::system_clock::from_time_t(std::mktime(&local)) +
                    std::chrono::milliseconds(250);
    EXPECT_NEAR(DateTimeFromTimePoint(tp), EncodeDateTime(2021, 7, 14, 13, 45, 30, 250), 1e-9);

    const double before = DateTimeFromTimePoint(std::chrono::system_clock::now());
    const double now = NowDateTime();
    EXPECT_GE(now, before);
    EXPECT_LT(now - before, SecondsToDays(60));
}

} // namespace
