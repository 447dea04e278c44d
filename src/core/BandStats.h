#pragma once

#include "MarkerPosition.h"
#include "PeakSearch.h"
#include "dxFFT.h"

#include <climits>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

// Statistics of frequency bands over a group of frames: channel power, noise density,
// occupancy, occupied bandwidth and the strongest peak. Shared by the window's read-outs, the
// exporter's band table and the monitor's intervals, so that all give the same numbers.
//
// Input is a frame's unaveraged magnitudes of all N bins in physical order (the transform's
// output, before the display's averaging); a bin's power is (m / 16384)^2 mW on the program's
// level scale, so a tone exactly on a bin reads 20 log10(m / 16384) dBm there. Nothing here
// applies a window gain: only the window's equivalent noise bandwidth enters, which turns the
// sum of a band's bin powers into the power of what lies in the band.
//
// Noise density. The bin powers of white Gaussian noise are exponentially distributed with
// mean mu, the noise power in a bin's equivalent noise bandwidth. The estimate of mu pools the
// band's (bin, frame) cells of the group. It starts from their lowest tenth (the 10 % quantile
// divided by -ln 0.9, as for an exponential), which carriers leave to the noise even when they
// fill most of the cells, and repeats until it settles: take the cells below T mu, T = 2.5
// (4 dB above the floor), and divide their mean by the mean of an exponential truncated
// there, mu (1 - T e^-T / (1 - e^-T)) = 0.7764 mu. The mean of what is kept grows with mu, so
// the estimate settles on the lowest consistent value, the floor's. Noise alone is unbiased at
// every group size (the correction is exact for the exponential), and carriers more than about
// 10 dB above the floor drop out entirely, even on most of the cells. Weak carriers cannot be
// told from noise cell by cell: on 20 % of the bins they bias the estimate by at most 0.9 dB
// (the worst level being 3 to 4 dB above the floor), on 10 % by 0.4 dB. A plain median of the
// cells would be biased 1.5 dB by strong carriers on 20 % of them; the truncated mean also
// scatters less than a truncated median would. Measured on noise through the transform, 500
// bins: groups of one frame scatter by 0.33 dB (rectangle) to 0.43 dB (Blackman, whose
// neighbouring bins are the most correlated) with medians within 0.01 dB, groups of ten by
// 0.10 to 0.14 dB. Density in dBm/Hz is mu / (ENBW bin width). Cells at the level scale's
// floor (below -180 dBm: bins of nothing at all, as from a block of zeros) are no noise and
// are left out; a band of nothing else has no noise density (None).
//
// The cells are not stored: each band keeps a histogram of its cell powers with 16 classes per
// octave (the float's exponent and four mantissa bits), in which a cell is placed by its bit
// pattern alone. Values between class edges are interpolated linearly, as the float's mantissa
// is, which puts quantiles and truncated sums well within 0.01 dB of those of the cells.
namespace quillex {

// A band as the frequency axis shows it: MHz with the frequency offset, mirrored with the
// spectrum. The edges may come in either order.
struct TBand
{
    double LowMHz = 0;
    double HighMHz = 0;
};

// How the frames' bins map to displayed frequencies, and the window's noise bandwidth.
struct TBandSpectrum
{
    int N = 0; // bins of a frame, at k * 40 / N MHz
    TDXLeakType Window = wnHanning;
    double NoiseBandwidthBins = 1.5; // the window's equivalent noise bandwidth in bins
    double FreqOffsetMHz = 0;
    bool Inverted = false;
};

struct TBandResult
{
    static constexpr double None = std::numeric_limits<double>::quiet_NaN();
    TBinRange Bins;     // the physical bins whose centres lie inside the band
    int64_t Frames = 0; // frames in the group
    // Channel power: the bins' powers summed, divided by the window's noise bandwidth in bins
    // and averaged in power over the frames. A tone inside the band reads its on-bin level.
    double PowerDbm = None;
    double NoiseDbmHz = None;
    // Share of the (bin, frame) cells whose power exceeds mu by OccupancyThresholdDb.
    double OccupancyPct = None;
    // Width holding 99 % of the band's power: 0.5 % cut from each side of the group's mean
    // power spectrum, each bin's power taken as spread evenly over its width.
    double ObwKHz = None;
    // The strongest peak by TPeakSearch's rules, its interpolated frequency as displayed and
    // on-bin level, taken on the root mean square of the group's magnitudes.
    bool HasPeak = false;
    double PeakMHz = None;
    double PeakDbm = None;
};

// The physical bins whose centres lie inside Band, edges included (empty when none does).
TBinRange BandBins(const TBand& Band, const TBandSpectrum& Spectrum);

// The equivalent noise bandwidth in bins of the FFT's window in force (NaN for an owner's
// window procedure).
double NoiseBandwidthBins(const TDXFFT& FFT);

// Accumulates frames and gives each band's statistics of the group so far. Feed the frames of a
// group with Add, read Compute at its end, then Clear for the next group. Buffers are sized by
// Configure only: Add never allocates, Compute not once the peak search has sized its own
// storage (its first search). Levels are on the program's scale without the level offset.
// One object per thread.
class TBandStats
{
public:
    // A cell counts as occupied when its power exceeds mu by this much.
    double OccupancyThresholdDb = 10.0;
    // Whether Compute looks for each band's strongest peak (most of its time with groups of a
    // few frames); without, the peak reads None.
    bool FindPeaks = true;

    // Sets the spectrum's geometry and the bands, and starts an empty group.
    void Configure(const TBandSpectrum& Spectrum, std::span<const TBand> Bands);
    // Starts an empty group.
    void Clear();
    // Adds one frame of Spectrum.N magnitudes; false, nothing added, for any other length.
    // Counts are 64-bit, so a group of a day at any frame rate fits.
    bool Add(std::span<const float> Magnitudes);
    int64_t Frames() const { return FFrames; }

    // The statistics of the group so far, one per band in the order configured. Quantities of
    // a band without bins, or of a group without frames, are None.
    std::span<const TBandResult> Compute();

    const TBandSpectrum& Spectrum() const { return FSpectrum; }

private:
    struct TBandState
    {
        TBinRange Bins;
        size_t Counts = 0;    // where its histogram begins in FCounts
        int Lowest = INT_MAX; // histogram classes used since Clear
        int Highest = -1;
    };
    struct TNoise
    {
        double Mu = 0; // mean noise power of a bin in squared magnitude
        double Occupied = 0;
    };

    TNoise Noise(const TBandState& Band, int64_t Cells);
    double OccupiedBins(const TBinRange& Bins, double Total) const;
    void Flush();
    void FindPeak(const TBinRange& Bins, TBandResult& Result);

    TBandSpectrum FSpectrum;
    std::vector<TBandState> FBands;
    std::vector<TBandResult> FResults;
    std::vector<uint64_t> FCounts;
    std::vector<double> FPower; // per bin, summed over the group's frames
    std::vector<float> FBlock;  // the same over the frames not yet in FPower
    int FBlockFrames = 0;
    std::vector<int16_t> FClass;    // the last frame's histogram class per bin
    std::vector<float> FMagnitudes; // the group's root mean square, for the peak search
    std::vector<double> FCumCounts, FCumSums;
    TBinRange FHull; // the bins summed: every band's with room for the peak rules around it
    int64_t FFrames = 0;
    TPeakSearch FSearch;
};

} // namespace quillex
