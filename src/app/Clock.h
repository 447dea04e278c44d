#pragma once

// "Now" as a date-time: days since 1899-12-30, the fraction being the local time of
// day. Everything that stamps frames or schedules labels and scans reads it here, so
// tests can set the time.
class TClock
{
public:
    virtual ~TClock() = default;
    virtual double Now() const = 0;
};

class TSystemClock : public TClock
{
public:
    double Now() const override;
};
