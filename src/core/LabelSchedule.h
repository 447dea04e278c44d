#pragma once

// Time-label and slow-scan schedule. Moments are date-times in days since
// 1899-12-30 (fraction = time of day), intervals are in days unless the name
// says seconds.
namespace quillex {

enum class TPacing { Sync, Fast, Slow };

// Seconds between two time labels on the waterfall. SpeedValue is the frame
// rate in fast scan and the scan interval in seconds in slow scan; values
// outside the control's range count as its nearest end.
double LabelIntervalSeconds(TPacing Pacing, int SpeedValue);

// First label moment for fast scan: now's time of day truncated to the whole
// minute, plus the interval as often as needed to be not earlier than now.
// A moment within a microsecond of now counts as now and returns Now itself.
// A non-positive or non-finite interval gives Now.
double FirstAlignedLabelDue(double Now, double IntervalDays);

// Now is at or after Due.
bool IsDue(double Now, double Due);

} // namespace quillex
