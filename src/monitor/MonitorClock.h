#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The monitor's time. What it writes (rows, intervals, stamps, file names) carries the wall
// clock; what it measures (intervals, hold-off, the seconds before and after an alarm, disk
// checks, receiver retries) runs on the monotonic clock, so that a time change or an NTP
// correction neither stretches an episode nor loses an interval. The clock is a seam: tests
// step the wall clock without touching the monotonic one.
namespace quillex::monitor {

class TMonitorClock
{
public:
    virtual ~TMonitorClock() = default;
    // Seconds since the Unix epoch (UTC), as the system clock has them.
    virtual double UtcSeconds() const = 0;
    // Seconds on a clock that never steps.
    virtual double MonotonicSeconds() const = 0;
};

class TSystemMonitorClock : public TMonitorClock
{
public:
    double UtcSeconds() const override;
    double MonotonicSeconds() const override;
};

// Local wall-clock time of UTC seconds as days since 1899-12-30 (the date-times of the
// recordings and logs).
double LocalDays(double UtcSeconds);

// Watches the wall clock against the monotonic one. A frame's time is read through it: Wall
// is the local wall clock, Steady a date-time that advances with the monotonic clock from the
// wall clock at the start and never steps (for durations that are kept as date-times).
class TTimeKeeper
{
public:
    // Steps of the wall clock beyond this against the monotonic clock are logged.
    static constexpr double StepSeconds = 2.0;

    explicit TTimeKeeper(const TMonitorClock& Clock);

    struct TNow
    {
        double Monotonic = 0; // seconds
        double Wall = 0;      // days since 1899-12-30, local time
        double Steady = 0;    // the same scale, without steps
    };
    // Reads both clocks. A step of the wall clock by more than StepSeconds since the last
    // reading (against the monotonic clock) is told to OnStep once, with its size in seconds.
    TNow Now();

    std::function<void(double StepSeconds)> OnStep;

private:
    const TMonitorClock& FClock;
    double FStartMonotonic, FStartSteady;
    double FLastUtc, FLastMonotonic;
};

} // namespace quillex::monitor
