#include "SimSignal.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr double Pi = 3.14159265358979323846;
// Full scale in the level arithmetic: a sine of amplitude FullScale * 10^(dBm / 20)
// reads dBm through a Hann window.
constexpr double FullScale = 16384.0;
constexpr float ConverterNoise = 1.2f; // rms, in counts
constexpr float DitherNoise = 3.0f;    // rms, in counts
constexpr int NoiseLength = 1 << 20;
constexpr int WhiteLength = 1 << 18;
// Adding 1.5 * 2^23 to a float of magnitude below 2^22 rounds it to an integer.
constexpr float RoundMagic = 12582912.0f;

struct Band
{
    double LowKHz, HighKHz, StepKHz;
    int Stations;
    double LoudestDbm, WeakestDbm;
};

// Broadcast allocations with their channel raster; levels roughly as heard in
// the evening on a long wire.
constexpr Band LongWave = {153, 279, 9, 6, -45, -70};
constexpr Band MediumWave = {531, 1602, 9, 30, -32, -85};
constexpr Band ShortWave[] = {
    {2300, 2495, 5, 3, -70, -90},   {3200, 3400, 5, 3, -65, -90},
    {3900, 4000, 5, 3, -60, -85},   {4750, 5060, 5, 4, -65, -90},
    {5900, 6200, 5, 12, -45, -85},  {7200, 7450, 5, 12, -42, -85},
    {9400, 9900, 5, 14, -45, -88},  {11600, 12100, 5, 10, -48, -88},
    {13570, 13870, 5, 5, -55, -90}, {15100, 15800, 5, 10, -50, -90},
    {17480, 17900, 5, 6, -55, -90}, {18900, 19020, 5, 2, -65, -90},
    {21450, 21850, 5, 5, -60, -92}, {25670, 26100, 5, 2, -70, -92},
};
constexpr int GroundWaveGroups = 6;
constexpr int SkyWaveGroups = 6;
constexpr double SwitchedKHz[] = {3596.4,  4625.0,  8992.4,  14074.2,
                                  27065.0, 27185.0, 28250.3, 34550.7};

} // namespace

SimSignal::SimSignal()
{
    BuildCarriers();
    BuildNoise();
    Gains.resize(Groups.size());
    Mix.resize(BlockSamples);
}

uint64_t SimSignal::NextRandom()
{
    // xorshift64*: cheap and plenty for offsets and flicker.
    RandomState ^= RandomState >> 12;
    RandomState ^= RandomState << 25;
    RandomState ^= RandomState >> 27;
    return RandomState * 0x2545F4914F6CDD1Dull;
}

int SimSignal::AddGroup(const Group& Params)
{
    Groups.push_back(Params);
    Bank.resize(Groups.size() * BlockSamples, 0.0f);
    return static_cast<int>(Groups.size()) - 1;
}

void SimSignal::AddCarrier(int GroupIndex, double KHz, double Dbm)
{
    const double amplitude = FullScale * std::pow(10.0, Dbm / 20.0);
    const double step = 2.0 * Pi * KHz * 1000.0 / SampleRate;
    // Phases spread from the frequency so neighbouring carriers do not line up.
    const double phase = std::fmod(KHz * 0.6180339887, 1.0) * 2.0 * Pi;
    float* samples = &Bank[static_cast<size_t>(GroupIndex) * BlockSamples];
    for (int n = 0; n < BlockSamples; ++n)
        samples[n] += static_cast<float>(amplitude * std::sin(step * n + phase));
}

void SimSignal::BuildCarriers()
{
    std::mt19937 random(20261206);
    auto uniform = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };

    const int steady = AddGroup(Group{});
    AddCarrier(steady, ReferenceKHz, ReferenceDbm);
    AddCarrier(steady, 5000.0, -68.0);
    AddCarrier(steady, 15000.0, -74.0);

    auto broadcastGroups = [&](int count, float fadeDepth, float shortestFade) {
        std::vector<int> indexes;
        for (int i = 0; i < count; ++i) {
            Group g;
            g.AmDepth = static_cast<float>(uniform(0.25, 0.5));
            g.FadeDepth = fadeDepth;
            g.FadePeriod = static_cast<float>(uniform(shortestFade, 3.0 * shortestFade));
            g.AudioRate1 = static_cast<float>(uniform(1.5, 4.0));
            g.AudioRate2 = static_cast<float>(uniform(4.0, 9.0));
            g.Phase1 = static_cast<float>(uniform(0, 2 * Pi));
            g.Phase2 = static_cast<float>(uniform(0, 2 * Pi));
            indexes.push_back(AddGroup(g));
        }
        return indexes;
    };
    // Stations of one band go to different groups so neighbours flicker independently.
    auto placeStations = [&](const Band& band, const std::vector<int>& groups, size_t& next) {
        const int channels = static_cast<int>((band.HighKHz - band.LowKHz) / band.StepKHz) + 1;
        std::vector<int> picked(channels);
        for (int i = 0; i < channels; ++i)
            picked[i] = i;
        std::shuffle(picked.begin(), picked.end(), random);
        picked.resize(std::min(channels, band.Stations));
        for (int channel : picked) {
            // Weak stations outnumber strong ones.
            const double level = band.WeakestDbm + (band.LoudestDbm - band.WeakestDbm) *
                                                       std::pow(uniform(0.0, 1.0), 2.0);
            AddCarrier(groups[next++ % groups.size()], band.LowKHz + channel * band.StepKHz, level);
        }
    };

    const auto groundWave = broadcastGroups(GroundWaveGroups, 0.1f, 20.0f);
    size_t next = 0;
    placeStations(LongWave, groundWave, next);
    placeStations(MediumWave, groundWave, next);
    const auto skyWave = broadcastGroups(SkyWaveGroups, 0.6f, 6.0f);
    next = 0;
    for (const Band& band : ShortWave)
        placeStations(band, skyWave, next);

    // Narrow utility, amateur and citizens' band carriers keyed on and off for
    // seconds at a time.
    for (double kHz : SwitchedKHz) {
        Group g;
        g.OnPeriod = static_cast<float>(uniform(4.0, 25.0));
        g.OnFraction = static_cast<float>(uniform(0.3, 0.7));
        g.OnPhase = static_cast<float>(uniform(0.0, 1.0));
        AddCarrier(AddGroup(g), kHz, uniform(-82.0, -58.0));
    }
}

void SimSignal::BuildNoise()
{
    std::mt19937 random(4711);
    std::normal_distribution<float> gauss(0.0f, 1.0f);

    White.resize(WhiteLength);
    for (float& w : White)
        w = gauss(random);

    // A flat galactic part plus two low-passed parts: static and man-made noise
    // that climbs below a few MHz.
    const float flat = std::sqrt(0.3f);
    const float low = std::sqrt(40.0f), mid = std::sqrt(6.0f);
    const float lowPole = static_cast<float>(2.0 * Pi * 0.4e6 / SampleRate);
    const float midPole = static_cast<float>(2.0 * Pi * 5.0e6 / SampleRate);
    float lowState = 0, midState = 0;
    Noise.resize(NoiseLength);
    for (int warmUp = -2000; warmUp < NoiseLength; ++warmUp) {
        const float x = gauss(random);
        lowState += lowPole * (x - lowState);
        midState += midPole * (x - midState);
        if (warmUp >= 0)
            Noise[warmUp] = flat * x + low * lowState + mid * midState;
    }
}

float SimSignal::GroupGain(const Group& Params, double Seconds)
{
    if (Params.OnPeriod > 0) {
        const double cycle = Seconds / Params.OnPeriod + Params.OnPhase;
        return cycle - std::floor(cycle) < Params.OnFraction ? 1.0f : 0.0f;
    }
    if (Params.AmDepth == 0 && Params.FadeDepth == 0)
        return 1.0f;
    const double jitter = static_cast<double>(NextRandom() >> 11) / 9007199254740992.0 * 2 - 1;
    const double audio = 0.5 * std::sin(2 * Pi * Params.AudioRate1 * Seconds + Params.Phase1) +
                         0.3 * std::sin(2 * Pi * Params.AudioRate2 * Seconds + Params.Phase2) +
                         0.2 * jitter;
    const double fade = 1.0 + Params.FadeDepth * std::sin(2 * Pi * Seconds / Params.FadePeriod);
    return static_cast<float>(std::max(0.0, fade * (1.0 + Params.AmDepth * audio)));
}

void SimSignal::Fill(int16_t* Out, int Count, const SimControls& Controls, double Seconds)
{
    Count = std::clamp(Count, 0, BlockSamples);
    for (size_t g = 0; g < Groups.size(); ++g)
        Gains[g] = GroupGain(Groups[g], Seconds);

    const float* antennaNoise = &Noise[NextRandom() % (NoiseLength - Count + 1)];
    const float* whiteNoise = &White[NextRandom() % (WhiteLength - Count + 1)];
    float* mix = Mix.data();
    std::copy(antennaNoise, antennaNoise + Count, mix);
    for (size_t g = 0; g < Groups.size(); ++g) {
        const float gain = Gains[g];
        if (gain == 0.0f)
            continue;
        const float* carriers = &Bank[g * BlockSamples];
        for (int i = 0; i < Count; ++i)
            mix[i] += gain * carriers[i];
    }

    // The attenuator and preamplifier act on the antenna side only; the
    // converter's own noise, and dither added ahead of it, stay put.
    const float frontEnd = static_cast<float>(std::pow(
        10.0, (-10.0 * std::clamp(Controls.Attenuator, 0, 3) + (Controls.Preamp ? PreampDb : 0.0)) /
                  20.0));
    const float converter =
        Controls.Dither ? std::sqrt(ConverterNoise * ConverterNoise + DitherNoise * DitherNoise)
                        : ConverterNoise;
    for (int i = 0; i < Count; ++i) {
        float x = frontEnd * mix[i] + converter * whiteNoise[i];
        x = std::min(std::max(x, -32768.0f), 32767.0f);
        Out[i] = static_cast<int16_t>(static_cast<int32_t>((x + RoundMagic) - RoundMagic));
    }
}
