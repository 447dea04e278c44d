#include "ChannelMeter.h"

#include <algorithm>
#include <cmath>

namespace quillex {

namespace {

constexpr int Capacity = 8192; // bins of the largest spectrum
constexpr double SpectrumHz = 40e6;

bool SameBins(const TBinRange& A, const TBinRange& B)
{
    return A.First == B.First && A.Last == B.Last;
}

} // namespace

TChannelMeter::TChannelMeter()
{
    FPower.reserve(Capacity);
    FRoot.reserve(Capacity);
    FChannelStats.FindPeaks = false;
    FNoiseStats.FindPeaks = false;
}

void TChannelMeter::Configure(const TBandSpectrum& Spectrum, int Averaging)
{
    FSpectrum = Spectrum;
    FAveraging = std::max(Averaging, 1);
    const size_t n = size_t(std::max(Spectrum.N, 0));
    FPower.assign(n, 0.0f);
    FRoot.assign(n, 0.0f);
    FFrames = 0;
    ConfigureChannel();
    ConfigureSpan();
}

void TChannelMeter::ConfigureChannel()
{
    const TBand band = FChannel.value_or(TBand{});
    FChannelBins = FChannel ? BandBins(band, FSpectrum) : TBinRange{};
    FChannelStats.Configure(FSpectrum, {&band, FChannel ? 1u : 0u});
}

void TChannelMeter::ConfigureSpan()
{
    FSpanBins = BandBins(FSpan, FSpectrum);
    FNoiseStats.Configure(FSpectrum, {&FSpan, 1});
    const int bins = std::max(FSpanBins.Last - FSpanBins.First + 1, 1);
    FNoiseGroup =
        std::clamp(std::max(FAveraging, (NoiseCells + bins - 1) / bins), 1, MaxNoiseFrames);
    FNoiseWhole = false;
    FNoiseDbmHz = TBandResult::None;
}

void TChannelMeter::SetChannel(const std::optional<TBand>& Band)
{
    const TBinRange bins = Band ? BandBins(*Band, FSpectrum) : TBinRange{};
    const bool same = Band.has_value() == FChannel.has_value() && SameBins(bins, FChannelBins);
    FChannel = Band;
    if (!same)
        ConfigureChannel();
}

void TChannelMeter::SetSpan(const TBand& Span)
{
    const TBinRange bins = BandBins(Span, FSpectrum);
    FSpan = Span;
    if (!SameBins(bins, FSpanBins))
        ConfigureSpan();
}

void TChannelMeter::Add(std::span<const float> Magnitudes)
{
    if (Magnitudes.size() != FPower.size() || FPower.empty())
        return;
    // The mean of the first frames, then each new one weighing 1/depth.
    const float weight = 1.0f / float(std::min<int64_t>(FFrames + 1, FAveraging));
    float* power = FPower.data();
    const float* m = Magnitudes.data();
    for (size_t k = 0; k < FPower.size(); ++k)
        power[k] += (m[k] * m[k] - power[k]) * weight;
    ++FFrames;

    FNoiseStats.Add(Magnitudes);
    const bool whole = FNoiseStats.Frames() >= FNoiseGroup;
    if (whole || !FNoiseWhole) {
        FNoiseDbmHz = FNoiseStats.Compute()[0].NoiseDbmHz;
        FNoiseWhole = FNoiseWhole || whole;
    }
    if (whole)
        FNoiseStats.Clear();
}

TBandResult TChannelMeter::Channel()
{
    if (FFrames == 0 || !FChannel)
        return {};
    for (size_t k = 0; k < FPower.size(); ++k)
        FRoot[k] = std::sqrt(FPower[k]);
    return ChannelOn(FRoot);
}

TBandResult TChannelMeter::ChannelOn(std::span<const float> Magnitudes)
{
    if (!FChannel)
        return {};
    FChannelStats.Clear();
    if (!FChannelStats.Add(Magnitudes))
        return {};
    return FChannelStats.Compute()[0];
}

double TChannelMeter::NoiseBinDbm() const
{
    const double binHz = SpectrumHz / std::max(FSpectrum.N, 1);
    return FNoiseDbmHz + 10.0 * std::log10(FSpectrum.NoiseBandwidthBins * binHz);
}

} // namespace quillex
