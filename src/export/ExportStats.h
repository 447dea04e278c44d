#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "BandStats.h"
#include "ExportOptions.h"
#include "ExportPipeline.h"
#include "FrameTimes.h"
#include "OutputFile.h"

namespace quillex {

// The band statistics table: a header "time,stamped,frame,band,low_MHz,high_MHz,power_dBm,
// noise_dBm_Hz,occupancy_pct,obw_kHz,peak_MHz,peak_dBm", then per row a line for each band in
// the order given: the row's time, stamped and frame as in the level table, the band's name
// and edges as given, its channel power, noise density, occupancy, occupied bandwidth and
// strongest peak (TBandStats) over the row's frames before the averaging, on the pipeline's
// accumulators; the lines are written in row order. MHz with six decimals, levels (without the
// level offset) with two, occupancy with three, kHz with three; a quantity the row does not
// have is empty.
class TStatsTable
{
public:
    struct TSettings
    {
        std::vector<TStatsBand> Bands;
        TBandSpectrum Spectrum;
        double OccupancyDb = 10;
        int Threads = 1; // the pipeline's: it has one accumulator more
    };
    // Throws TExportError (Usage) for a band that reaches beyond the spectrum, 0 .. 40 MHz
    // with the frequency offset, or is narrower than a bin.
    static void Check(const std::vector<TStatsBand>& Bands, const TBandSpectrum& Spectrum);

    // Creates the table under a temporary name (TOutputFile) and writes its header.
    TStatsTable(const std::string& Target, const TSettings& Settings, TFrameTimes& Times);
    size_t ResultBytes() const;
    // TPipelineOutput's AddFrame and EndRow: the row's statistics into Result.
    void AddFrame(int Accumulator, const float* Magnitudes);
    void EndRow(int Accumulator, std::byte* Result);
    // In row order: the row's lines.
    void Add(const TOutputRow& Row);
    TOutputFile& Output() { return FFile; }

private:
    void Write();

    std::vector<TStatsBand> FBands;
    TFrameTimes& FTimes;
    TOutputFile FFile;
    // Bands far apart from each other are measured by TBandStats of their own, which spare
    // the bins between them: the groups' bands, and per accumulator a TBandStats per group.
    std::vector<std::vector<size_t>> FGroups;
    std::vector<std::vector<std::unique_ptr<TBandStats>>> FStats;
    size_t FN;
    std::vector<TBandResult> FResults;
    std::string FLine;
};

} // namespace quillex
