#include "StationPeaks.h"

#include "MarkerPosition.h"
#include "StampText.h"
#include "StationRows.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace quillex::station {

std::string PeaksJson(TPeakSearch& Search, const float* Magnitudes, int N, double Time,
                      const TDisplayMapping& Mapping, int Count)
{
    nlohmann::json peaks = nlohmann::json::array();
    if (N >= 3) {
        const TRowRequest span = WholeSpan(Mapping, N, MinColumns);
        const TBinRange bins = PhysicalBinsInView((span.LowMHz - Mapping.FreqOffsetMHz) * 1000.0,
                                                  (span.HighMHz - Mapping.FreqOffsetMHz) * 1000.0,
                                                  N, Mapping.Inverted);
        TPeak found[100];
        const int count = Search.Strongest(Magnitudes, N, Mapping.Window, bins.First, bins.Last, 0,
                                           std::clamp(Count, 1, 100), found);
        const int decimals = MarkerFrequencyDecimals(N);
        for (int i = 0; i < count; ++i) {
            const double mhz = DisplayedMHz(DisplayedBin(found[i].Bin, N, Mapping.Inverted), N,
                                            Mapping.FreqOffsetMHz);
            const double dbm = LevelFromMagnitude(found[i].Magnitude) + Mapping.LevelOffsetDb;
            std::string readout;
            AppendFixed(readout, mhz, decimals);
            readout += " MHz  ";
            AppendFixed(readout, dbm, 2);
            readout += " dBm";
            peaks.push_back(
                {{"rank", i + 1}, {"freq_mhz", mhz}, {"power_dbm", dbm}, {"readout", readout}});
        }
    }
    nlohmann::json doc = {{"time", N > 0 ? nlohmann::json(IsoStampText(Time)) : nullptr},
                          {"bins", N},
                          {"peaks", peaks}};
    return doc.dump();
}

} // namespace quillex::station
