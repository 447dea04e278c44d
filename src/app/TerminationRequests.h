#pragma once

#include <cstdint>

// Counts termination requests from the arrival times of termination signals. One request
// often arrives as several signals: a signal sent to the program and to its process group
// at once (as a pipeline's Ctrl+C, a service manager or a time limit do) reaches the
// program twice within microseconds. Signals that arrive within SameRequestNs of the
// first signal of the current request belong to it.
class TTerminationRequests
{
public:
    static constexpr int64_t SameRequestNs = 500'000'000;

    // Notes a signal that arrived at ArrivalNs (monotonic clock) and returns the number of
    // the request it starts (1 for the first), or 0 when it belongs to the current one.
    int Arrived(int64_t ArrivalNs);
    int Count() const { return FCount; }

private:
    int FCount = 0;
    int64_t FRequestStartNs = 0;
};
