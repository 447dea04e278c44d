#include "StatsLine.h"

#include "StampText.h"

#include <cmath>

namespace quillex {

const char* const StatsCsvHeader = "time,stamped,frame,band,low_MHz,high_MHz,power_dBm,"
                                   "noise_dBm_Hz,occupancy_pct,obw_kHz,peak_MHz,peak_dBm\n";

void AppendStatsFields(std::string& Line, const std::string& Band, const TStatsFields& F)
{
    Line += ',';
    Line += Band;
    const auto value = [&Line](double Value, int Decimals) {
        Line += ',';
        if (std::isfinite(Value))
            AppendFixed(Line, Value, Decimals);
    };
    value(F.LowMHz, 6);
    value(F.HighMHz, 6);
    value(F.PowerDbm, 2);
    value(F.NoiseDbmHz, 2);
    value(F.OccupancyPct, 3);
    value(F.ObwKHz, 3);
    value(F.PeakMHz, 6);
    value(F.PeakDbm, 2);
}

} // namespace quillex
