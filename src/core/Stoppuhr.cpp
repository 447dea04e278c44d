#include "Stoppuhr.h"

#include <chrono>

namespace {
using Counter = std::chrono::steady_clock;
using Tick = std::chrono::nanoseconds;
} // namespace

TStoppUhr::TStoppUhr() : Frequency(Tick::period::den / Tick::period::num) {}

int64_t TStoppUhr::ReadCounter()
{
    return std::chrono::duration_cast<Tick>(Counter::now().time_since_epoch()).count();
}

void TStoppUhr::Start()
{
    StartCount = ReadCounter();
}

double TStoppUhr::Stop()
{
    StopCount = ReadCounter();
    // Convert the difference before dividing so long intervals keep their precision.
    const long double ticks = static_cast<long double>(StopCount - StartCount);
    return static_cast<double>(ticks / static_cast<long double>(Frequency));
}
