#pragma once

#include <cstdint>

// Measures short intervals on a monotonic counter. There is no running state:
// the fields hold the last readings, and Stop may be called repeatedly to
// measure from the same start.
class TStoppUhr
{
public:
    TStoppUhr();

    void Start();
    // Seconds from StartCount to now (from the counter's origin when Start was never called).
    double Stop();

    int64_t StartCount = 0;
    int64_t StopCount = 0;
    int64_t Frequency = 0; // counter ticks per second

private:
    static int64_t ReadCounter();
};
