#include "LocalTimeToUtc.h"

#include "DateTimeU.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace quillex {

namespace {

constexpr int64_t SecondsPerDay = 86400;
// How far a stamp may lie before the one before it without the repeated hour being taken
// for the cause: a clock set back a little by its time service.
constexpr int64_t ClockStepMs = 60'000;

// The zone's offset from UTC in seconds at the moment T.
int64_t OffsetAt(int64_t T)
{
    const std::time_t t = static_cast<std::time_t>(T);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr)
        return 0;
    return local.tm_gmtoff;
}

int64_t FloorDiv(int64_t A, int64_t B)
{
    return A / B - ((A % B != 0) && ((A < 0) != (B < 0)));
}

} // namespace

int64_t TLocalToUtc::Convert(double LocalStamp)
{
    int year, month, day, hour, minute, second, msec;
    DecodeDateTime(LocalStamp, year, month, day, hour, minute, second, msec);
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    // The wall-clock reading counted as if it were UTC; the moment is that minus the offset.
    const int64_t wall = ::timegm(&fields);

    // The offsets a day before and a day after: a change of the clocks between them makes
    // the reading skipped or repeated. mktime is not used because what it does then is
    // left open.
    const int64_t before = OffsetAt(wall - SecondsPerDay);
    const int64_t after = OffsetAt(wall + SecondsPerDay);
    const bool beforeFits = OffsetAt(wall - before) == before;
    const bool afterFits = OffsetAt(wall - after) == after;
    int64_t seconds = wall - before;
    if (before != after && afterFits && !beforeFits) {
        seconds = wall - after;
    } else if (before != after && afterFits && beforeFits) {
        const int64_t early = std::min(wall - before, wall - after) * 1000 + msec;
        const int64_t late = std::max(wall - before, wall - after) * 1000 + msec;
        FPrevious = FPrevious && early < *FPrevious - ClockStepMs ? late : early;
        return *FPrevious;
    }
    FPrevious = seconds * 1000 + msec;
    return *FPrevious;
}

std::string UtcIsoText(int64_t UtcMs)
{
    const std::time_t t = static_cast<std::time_t>(FloorDiv(UtcMs, 1000));
    const int ms = static_cast<int>(UtcMs - FloorDiv(UtcMs, 1000) * 1000);
    std::tm utc{};
    if (::gmtime_r(&t, &utc) == nullptr)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms);
    return text;
}

} // namespace quillex
