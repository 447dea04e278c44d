#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillex {

// Frame stamps are local wall-clock times (days since 1899-12-30); files for other tools
// want UTC. The machine's time zone (TZ) says how the two relate.
//
// Around a change of the clocks a local time may not exist (the hour skipped in spring) or
// exist twice (the hour repeated in autumn). A skipped time is taken with the offset in
// force before the change, as a clock that had not been moved on yet would read it. A
// repeated time is the first of its two moments, unless that lies more than a minute
// before the time converted before: then the clock has gone back since, and it is the
// second. So a recording running through the repeated hour keeps going forward; one
// whose first stamp lies in the hour's second run takes it for the first.
class TLocalToUtc
{
public:
    // Milliseconds since 1970-01-01 00:00 UTC.
    int64_t Convert(double LocalStamp);

private:
    std::optional<int64_t> FPrevious;
};

// "yyyy-mm-ddThh:nn:ss.zzzZ".
std::string UtcIsoText(int64_t UtcMs);

} // namespace quillex
