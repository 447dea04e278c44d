#include "Clock.h"

#include "DateTimeU.h"

double TSystemClock::Now() const
{
    return quillex::NowDateTime();
}
