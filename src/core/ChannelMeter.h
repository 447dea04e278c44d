#pragma once

#include "BandStats.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The window's band measurements on the live spectrum, with TBandStats' arithmetic: the power
// and occupied bandwidth of a channel, averaged in power over as many frames as the display
// averages its magnitudes (averaged magnitudes read noise about 1 dB low), and the noise density
// of the visible span from the unaveraged frames. Nothing is allocated per frame.
namespace quillex {

class TChannelMeter
{
public:
    // The noise estimate takes groups of at least this many (bin, frame) cells, which keeps it
    // within 0.5 dB of white noise's true density, and at most MaxNoiseFrames frames.
    static constexpr int NoiseCells = 5000;
    static constexpr int MaxNoiseFrames = 64;

    TChannelMeter();

    // The spectrum's geometry and the display's averaging depth (frames): averages start anew.
    void Configure(const TBandSpectrum& Spectrum, int Averaging);
    const TBandSpectrum& Spectrum() const { return FSpectrum; }
    // The channel measured; none reads None.
    void SetChannel(const std::optional<TBand>& Band);
    // The span whose noise density is measured; a new one starts its group anew.
    void SetSpan(const TBand& Span);

    // One frame's unaveraged magnitudes, Spectrum().N of them (others are passed over).
    void Add(std::span<const float> Magnitudes);
    int64_t Frames() const { return FFrames; }

    // The channel on the power average of the frames so far: their mean while there are fewer
    // than the averaging depth, then each frame weighing 1/depth, as the display's average.
    TBandResult Channel();
    // The channel on a trace of Spectrum().N magnitudes (a hold), taken as one frame.
    TBandResult ChannelOn(std::span<const float> Magnitudes);

    // The noise density of the span (dBm/Hz, no level offset): of the last whole group of
    // frames, or of the frames so far before the first one is whole. None without frames.
    double NoiseDbmHz() const { return FNoiseDbmHz; }
    // The same noise in one bin's equivalent noise bandwidth (the window's RBW), dBm.
    double NoiseBinDbm() const;
    // Frames in a group of the noise estimate.
    int NoiseGroupFrames() const { return FNoiseGroup; }

private:
    void ConfigureChannel();
    void ConfigureSpan();

    TBandSpectrum FSpectrum;
    int FAveraging = 1;
    std::vector<float> FPower; // running mean of each bin's squared magnitude
    std::vector<float> FRoot;  // its square root, the frame the channel's statistics take
    int64_t FFrames = 0;

    std::optional<TBand> FChannel;
    TBinRange FChannelBins;
    TBandStats FChannelStats;

    TBand FSpan;
    TBinRange FSpanBins;
    TBandStats FNoiseStats;
    int FNoiseGroup = 1;
    bool FNoiseWhole = false;
    double FNoiseDbmHz = TBandResult::None;
};

} // namespace quillex
