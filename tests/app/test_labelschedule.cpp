#include "LabelSchedule.h"

#include "DateTimeU.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace quillex;

namespace {

double At(int hour, int minute, int second, int msec = 0)
{
    return EncodeDateTime(2026, 12, 6, hour, minute, second, msec);
}

} // namespace

// Each row: pacing, lowest and highest value of a band, seconds.
TEST(LabelInterval, TableEdges)
{
    const struct
    {
        TPacing Pacing;
        int Low, High;
        double Seconds;
    } bands[] = {
        {TPacing::Fast, 20, 100, 1}, {TPacing::Fast, 10, 19, 2},   {TPacing::Fast, 4, 9, 5},
        {TPacing::Fast, 2, 3, 10},   {TPacing::Fast, 0, 1, 15},    {TPacing::Slow, 1, 1, 15},
        {TPacing::Slow, 2, 2, 30},   {TPacing::Slow, 3, 3, 60},    {TPacing::Slow, 4, 7, 120},
        {TPacing::Slow, 8, 15, 300}, {TPacing::Slow, 16, 60, 600}, {TPacing::Sync, 1, 100, 1},
        {TPacing::Fast, 101, 500, 1}};
    for (const auto& b : bands) {
        EXPECT_EQ(LabelIntervalSeconds(b.Pacing, b.Low), b.Seconds) << b.Low;
        EXPECT_EQ(LabelIntervalSeconds(b.Pacing, b.High), b.Seconds) << b.High;
    }
}

// Seven frames per second label every five seconds; on a boundary the label is due
// at once; just before midnight the next label falls on the next day.
TEST(LabelAlignment, NextBoundaryOfTheInterval)
{
    const double five = SecondsToDays(LabelIntervalSeconds(TPacing::Fast, 7));
    EXPECT_DOUBLE_EQ(FirstAlignedLabelDue(At(10, 17, 23, 400), five), At(10, 17, 25));
    EXPECT_DOUBLE_EQ(FirstAlignedLabelDue(At(10, 17, 57, 500), five), At(10, 18, 0));
    const double boundary = At(10, 17, 25);
    EXPECT_EQ(FirstAlignedLabelDue(boundary, five), boundary);
    EXPECT_TRUE(IsDue(boundary, FirstAlignedLabelDue(boundary, five)));

    const double nextMidnight = EncodeDateTime(2026, 12, 7, 0, 0, 0);
    EXPECT_DOUBLE_EQ(FirstAlignedLabelDue(At(23, 59, 59, 999), SecondsToDays(1)), nextMidnight);
    EXPECT_DOUBLE_EQ(FirstAlignedLabelDue(At(23, 59, 50), SecondsToDays(15)), nextMidnight);
    EXPECT_EQ(FirstAlignedLabelDue(nextMidnight, SecondsToDays(15)), nextMidnight);
}

// Over many moments: the label falls on a multiple of the interval past the
// minute, not before now and less than one interval after it.
TEST(LabelAlignment, AlignedWithinOneIntervalForAnyMoment)
{
    std::mt19937_64 rng(2026);
    std::uniform_real_distribution<double> moment(36000.0, 47000.0);
    for (int i = 0; i < 20000; ++i) {
        const double now = moment(rng);
        for (double seconds : {1.0, 2.0, 5.0, 10.0, 15.0}) {
            const double due = FirstAlignedLabelDue(now, SecondsToDays(seconds));
            const double ahead = (due - now) * 86400.0;
            ASSERT_GE(ahead, -2e-6) << now;
            ASSERT_LT(ahead, seconds) << now;
            const double secondOfDay = (due - std::floor(now)) * 86400.0;
            ASSERT_LT(std::fabs(std::remainder(secondOfDay, seconds)), 1e-4)
                << now << " " << seconds;
        }
    }
}

TEST(LabelAlignment, DueMomentsAndUnusableIntervals)
{
    const double now = At(12, 0, 7);
    EXPECT_TRUE(IsDue(At(12, 0, 7, 1), now));
    EXPECT_FALSE(IsDue(At(12, 0, 6, 999), now));
    // No endless stepping for intervals that never advance.
    for (double interval : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(FirstAlignedLabelDue(now, interval), now) << interval;
}
