#include "Stoppuhr.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

TEST(Stoppuhr, StopWithoutStartMeasuresFromCounterOrigin)
{
    TStoppUhr watch;
    EXPECT_EQ(watch.StartCount, 0);
    const double elapsed = watch.Stop();
    EXPECT_GT(watch.StopCount, 0);
    EXPECT_DOUBLE_EQ(elapsed, static_cast<double>(watch.StopCount) / 1e9);
}

// Stop right after Start is tiny and non-negative; later Stops keep measuring from the
// same Start, and a new Start begins a new interval.
TEST(Stoppuhr, IntervalsFromTheLastStart)
{
    TStoppUhr watch;
    watch.Start();
    const double tiny = watch.Stop();
    EXPECT_GE(tiny, 0.0);
    EXPECT_LT(tiny, 1e-3);
    std::this_thread::sleep_for(5ms);
    const double first = watch.Stop();
    std::this_thread::sleep_for(5ms);
    const double second = watch.Stop();
    EXPECT_GE(first, 0.005);
    EXPECT_GE(second - first, 0.005);
    watch.Start();
    EXPECT_LT(watch.Stop(), 0.005);
}
