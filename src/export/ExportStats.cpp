#include "ExportStats.h"

#include "ExportError.h"
#include "StampText.h"
#include "StatsLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <type_traits>

namespace quillex {

namespace {

constexpr double SpectrumMHz = 40.0;
// Slack for edges typed in decimals that land on a bin's width or the spectrum's end.
constexpr double EdgeSlackMHz = 1e-9;
// Bands further apart than this go to different TBandStats: each adds up the bins from its
// lowest band to its highest, which would cost more than a set of its own. Each set holds a few
// hundred kB, so the gap grows until there are no more than MaxGroups.
constexpr int GroupGapBins = 128;
constexpr size_t MaxGroups = 16;

std::string MHzText(double Value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", Value);
    return text;
}

static_assert(std::is_trivially_copyable_v<TBandResult>);

// Value with Decimals, or nothing for a quantity the row does not have.
} // namespace

void TStatsTable::Check(const std::vector<TStatsBand>& Bands, const TBandSpectrum& Spectrum)
{
    const double binMHz = SpectrumMHz / Spectrum.N;
    const double low = Spectrum.FreqOffsetMHz, high = Spectrum.FreqOffsetMHz + SpectrumMHz;
    for (const TStatsBand& b : Bands) {
        const std::string band =
            "band \"" + b.Name + "\" (" + MHzText(b.LowMHz) + " .. " + MHzText(b.HighMHz) + " MHz)";
        if (b.LowMHz < low - EdgeSlackMHz || b.HighMHz > high + EdgeSlackMHz)
            throw TExportError(TExitCode::Usage, band + " lies outside the spectrum, " +
                                                     MHzText(low) + " .. " + MHzText(high) +
                                                     " MHz with the recording's offset");
        const TBinRange bins = BandBins({b.LowMHz, b.HighMHz}, Spectrum);
        if (b.HighMHz - b.LowMHz < binMHz - EdgeSlackMHz || bins.Last < bins.First)
            throw TExportError(TExitCode::Usage, band + " is narrower than a bin (" +
                                                     MHzText(binMHz) + " MHz with " +
                                                     std::to_string(Spectrum.N) + " bins)");
    }
}

TStatsTable::TStatsTable(const std::string& Target, const TSettings& Settings, TFrameTimes& Times)
    : FBands(Settings.Bands), FTimes(Times), FFile(Target), FN(size_t(Settings.Spectrum.N)),
      FResults(Settings.Bands.size())
{
    std::vector<TBinRange> bins;
    for (const TStatsBand& b : FBands)
        bins.push_back(BandBins({b.LowMHz, b.HighMHz}, Settings.Spectrum));
    std::vector<size_t> order(FBands.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::sort(order.begin(), order.end(),
              [&bins](size_t A, size_t B) { return bins[A].First < bins[B].First; });
    for (int gap = GroupGapBins; FGroups.empty() || FGroups.size() > MaxGroups; gap *= 2) {
        FGroups.clear();
        int last = 0;
        for (const size_t b : order) {
            if (FGroups.empty() || bins[b].First - last > gap)
                FGroups.emplace_back();
            FGroups.back().push_back(b);
            last = FGroups.back().size() == 1 ? bins[b].Last : std::max(last, bins[b].Last);
        }
    }
    FStats.resize(size_t(std::max(1, Settings.Threads)) + 1);
    for (auto& accumulator : FStats)
        for (const std::vector<size_t>& group : FGroups) {
            std::vector<TBand> bands;
            for (const size_t b : group)
                bands.push_back({FBands[b].LowMHz, FBands[b].HighMHz});
            auto& stats = *accumulator.emplace_back(std::make_unique<TBandStats>());
            stats.Configure(Settings.Spectrum, bands);
            stats.OccupancyThresholdDb = Settings.OccupancyDb;
        }
    FLine = StatsCsvHeader;
    Write();
}

size_t TStatsTable::ResultBytes() const
{
    return FBands.size() * sizeof(TBandResult);
}

void TStatsTable::AddFrame(int Accumulator, const float* Magnitudes)
{
    for (const auto& stats : FStats[size_t(Accumulator)])
        stats->Add({Magnitudes, FN});
}

void TStatsTable::EndRow(int Accumulator, std::byte* Result)
{
    for (size_t g = 0; g < FGroups.size(); ++g) {
        TBandStats& stats = *FStats[size_t(Accumulator)][g];
        const std::span<const TBandResult> results = stats.Compute();
        for (size_t i = 0; i < results.size(); ++i)
            std::memcpy(Result + FGroups[g][i] * sizeof(TBandResult), &results[i],
                        sizeof(TBandResult));
        stats.Clear();
    }
}

void TStatsTable::Add(const TOutputRow& Row)
{
    std::memcpy(FResults.data(), Row.FramesResult, ResultBytes());
    std::string start;
    if (const auto time = FTimes.TimeOf(Row.FirstFrame))
        start = IsoStampText(*time);
    start += FTimes.Stamped(Row.FirstFrame) ? ",1," : ",0,";
    start += std::to_string(Row.FirstFrame);
    FLine.clear();
    for (size_t b = 0; b < FBands.size(); ++b) {
        const TBandResult& r = FResults[b];
        FLine += start;
        AppendStatsFields(FLine, FBands[b].Name,
                          {FBands[b].LowMHz, FBands[b].HighMHz, r.PowerDbm, r.NoiseDbmHz,
                           r.OccupancyPct, r.ObwKHz, r.PeakMHz, r.PeakDbm});
        FLine += '\n';
    }
    Write();
}

void TStatsTable::Write()
{
    if (std::fwrite(FLine.data(), 1, FLine.size(), FFile.Stream()) != FLine.size())
        throw TExportError(TExitCode::OutputFile,
                           "Cannot write " + FFile.Target() + ": " + std::strerror(errno));
}

} // namespace quillex
