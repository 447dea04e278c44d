#include "LabelSchedule.h"

#include <cmath>

namespace quillex {

namespace {

constexpr double SecondsPerDay = 86400.0;
// Date-times near today carry about a microsecond of precision; moments
// closer than that are the same moment.
constexpr double SameMomentSeconds = 1e-6;

double FastLabelSeconds(int FramesPerSecond)
{
    if (FramesPerSecond >= 20)
        return 1;
    if (FramesPerSecond >= 10)
        return 2;
    if (FramesPerSecond >= 4)
        return 5;
    if (FramesPerSecond >= 2)
        return 10;
    return 15;
}

double SlowLabelSeconds(int ScanSeconds)
{
    if (ScanSeconds >= 16)
        return 600;
    if (ScanSeconds >= 8)
        return 300;
    if (ScanSeconds >= 4)
        return 120;
    if (ScanSeconds == 3)
        return 60;
    if (ScanSeconds == 2)
        return 30;
    return 15;
}

} // namespace

double LabelIntervalSeconds(TPacing Pacing, int SpeedValue)
{
    switch (Pacing) {
    case TPacing::Fast:
        return FastLabelSeconds(SpeedValue);
    case TPacing::Slow:
        return SlowLabelSeconds(SpeedValue);
    case TPacing::Sync:
        break;
    }
    return 1;
}

double FirstAlignedLabelDue(double Now, double IntervalDays)
{
    const double intervalSeconds = IntervalDays * SecondsPerDay;
    if (!std::isfinite(Now) || !std::isfinite(intervalSeconds) || intervalSeconds <= 0)
        return Now;
    // Work in seconds of the day, counted in whole steps from the minute, so
    // that no error accumulates from adding the interval again and again.
    const double day = std::floor(Now);
    const double secondOfDay = (Now - day) * SecondsPerDay;
    const double minuteStart = std::floor((secondOfDay + SameMomentSeconds) / 60.0) * 60.0;
    const double steps =
        std::ceil((secondOfDay - minuteStart - SameMomentSeconds) / intervalSeconds);
    const double dueSecond = minuteStart + std::fmax(steps, 0.0) * intervalSeconds;
    if (std::fabs(dueSecond - secondOfDay) <= SameMomentSeconds)
        return Now;
    return day + dueSecond / SecondsPerDay;
}

bool IsDue(double Now, double Due)
{
    return Now >= Due;
}

} // namespace quillex
