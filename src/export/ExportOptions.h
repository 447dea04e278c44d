#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dxFFT.h"

namespace quillex {

enum class TFoldMode { Max, Mean };

// A band of the statistics table: its name and edges in MHz as displayed (with the
// recording's frequency offset), Low below High.
struct TStatsBand
{
    std::string Name;
    double LowMHz = 0;
    double HighMHz = 0;
};

// The spectrum settings, with the window's names, ranges and defaults.
struct TSpectrumSettings
{
    int Exponent = 11;              // N = 2^Exponent bins, 8 .. 12
    TDXLeakType Window = wnHanning; // rect, hann, hamming, blackman
    int Average = 1;                // 1 .. 64
    int SpanMHz = 40;               // 5, 10, 20 or 40
    int CentreKHz = 20000;          // the window's centre scroll bar position
    bool Inverted = false;          // mirrored spectrum
};

// The slice of the N bins that the span shows, by the window's rule: N / D bins from
// round((centre - half span) / 40000 * N), kept inside the spectrum.
struct TSpan
{
    int N = 0;
    int StartBin = 0;
    int Length = 0;
};
TSpan SpanOf(const TSpectrumSettings& Settings);

struct TExportOptions
{
    std::string Input;
    std::string Png;
    std::string Csv;
    std::string Sigmf; // the base of BASE.sigmf-data and BASE.sigmf-meta
    TSpectrumSettings Spectrum;
    std::optional<int64_t> First, Last;
    std::optional<int64_t> Fold;
    TFoldMode FoldMode = TFoldMode::Max;
    std::optional<bool> Inverted; // overrides the file's header
    float MinDbm = -120.0f;       // the window's level bars at their defaults
    float MaxDbm = -80.0f;
    // Measurements: the rows' peaks, and the frames' limit episodes.
    std::string Peaks;
    int PeakCount = 5;
    std::optional<double> PeakMinDbm; // default: MinDbm
    std::string Limits;
    std::string Events;
    double HoldOffSeconds = 1.0;
    // Band statistics of the rows: the bands from --band and --bands in the order given.
    std::string Stats;
    std::vector<TStatsBand> Bands;
    std::string BandsFile;
    double OccupancyDb = 10.0;
    int Threads = 0; // 0: one per core
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
};

// Parses the arguments after the program name; throws TExportError (Usage) with a
// one-line message naming the option.
TExportOptions ParseExportArguments(const std::vector<std::string>& Args);
std::string ExportHelpText();

// The largest number of image rows before the PNG is folded by default.
inline constexpr int64_t MaxDefaultImageRows = 16384;

} // namespace quillex
