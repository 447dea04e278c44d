#include "Clock.h"

#include "DateTimeU.h"

#include <chrono>

double TSystemClock::Now() const
{
    return quillex::NowDateTime();
}

double TSystemClock::Elapsed() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
