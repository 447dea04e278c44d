#include "MonitorClock.h"

#include "DateTimeU.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace quillex::monitor {

double TSystemMonitorClock::UtcSeconds() const
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

double TSystemMonitorClock::MonotonicSeconds() const
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

double LocalDays(double UtcSeconds)
{
    const double whole = std::floor(UtcSeconds);
    const auto seconds = std::time_t(whole);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto ms = int((UtcSeconds - whole) * 1000.0);
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, ms);
}

TTimeKeeper::TTimeKeeper(const TMonitorClock& Clock) : FClock(Clock)
{
    FLastMonotonic = FStartMonotonic = Clock.MonotonicSeconds();
    FLastUtc = Clock.UtcSeconds();
    FStartSteady = LocalDays(FLastUtc);
}

TTimeKeeper::TNow TTimeKeeper::Now()
{
    TNow now;
    now.Monotonic = FClock.MonotonicSeconds();
    const double utc = FClock.UtcSeconds();
    // Compared in UTC: a change to or from summer time moves the local clock, not the system's.
    const double step = (utc - FLastUtc) - (now.Monotonic - FLastMonotonic);
    if (std::fabs(step) > StepSeconds && OnStep)
        OnStep(step);
    FLastUtc = utc;
    FLastMonotonic = now.Monotonic;
    now.Wall = LocalDays(utc);
    now.Steady = FStartSteady + SecondsToDays(now.Monotonic - FStartMonotonic);
    return now;
}

} // namespace quillex::monitor
