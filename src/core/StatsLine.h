#pragma once

#include <string>

namespace quillex {

// The band statistics' CSV, as the exporter's --stats and the monitor write it, so the two
// files stay one format.
extern const char* const StatsCsvHeader; // with its line end

// A band's fields after time,stamped,frame: MHz with 6 decimals, dB with 2, occupancy and
// bandwidth with 3; a value that is not finite (no noise, no peak) stays empty.
struct TStatsFields
{
    double LowMHz, HighMHz, PowerDbm, NoiseDbmHz, OccupancyPct, ObwKHz, PeakMHz, PeakDbm;
};
void AppendStatsFields(std::string& Line, const std::string& Band, const TStatsFields& F);

} // namespace quillex
