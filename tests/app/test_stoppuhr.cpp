#include "Stoppuhr.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

TEST(Stoppuhr, StopRightAfterStartIsTinyAndNonNegative)
{
    TStoppUhr watch;
    EXPECT_EQ(watch.Frequency, 1000000000);
    watch.Start();
    const double elapsed = watch.Stop();
    EXPECT_GE(elapsed, 0.0);
    EXPECT_LT(elapsed, 1e-3);
    EXPECT_GE(watch.StopCount, watch.StartCount);
}

TEST(Stoppuhr, StopWithoutStartMeasuresFromCounterOrigin)
{
    TStoppUhr watch;
    EXPECT_EQ(watch.StartCount, 0);
    const double elapsed = watch.Stop();
    EXPECT_GT(watch.StopCount, 0);
    EXPECT_DOUBLE_EQ(elapsed, static_cast<double>(watch.StopCount) / 1e9);
}

TEST(Stoppuhr, RepeatedStopsMeasureFromTheSameStart)
{
    TStoppUhr watch;
    watch.Start();
    const int64_t started = watch.StartCount;
    std::this_thread::sleep_for(5ms);
    const double first = watch.Stop();
    std::this_thread::sleep_for(5ms);
    const double second = watch.Stop();
    EXPECT_EQ(watch.StartCount, started);
    EXPECT_GE(first, 0.005);
    EXPECT_GE(second - first, 0.005);
}

TEST(Stoppuhr, StartAgainBeginsANewInterval)
{
    TStoppUhr watch;
    watch.Start();
    std::this_thread::sleep_for(20ms);
    EXPECT_GE(watch.Stop(), 0.02);
    watch.Start();
    EXPECT_LT(watch.Stop(), 0.02);
}
