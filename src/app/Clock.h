#pragma once

// "Now" as a date-time: days since 1899-12-30, the fraction being the local time of
// day. Everything that stamps frames or schedules labels and scans reads it here, so
// tests can set the time. Durations (an alarm's hold-off and the seconds recorded after it,
// a recording's elapsed time) run on Elapsed instead, which a clock set back or forward
// does not move.
class TClock
{
public:
    virtual ~TClock() = default;
    virtual double Now() const = 0;
    // Seconds from any fixed moment, never going back.
    virtual double Elapsed() const = 0;
};

class TSystemClock : public TClock
{
public:
    double Now() const override;
    double Elapsed() const override;
};
