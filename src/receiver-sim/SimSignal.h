#pragma once

#include <cstdint>
#include <vector>

struct SimControls
{
    int Attenuator = 0; // step 0..3, 10 dB each
    bool Preamp = false;
    bool Dither = false;
};

// A believable antenna signal over 0..40 MHz as an 80 MHz, 16-bit sampler sees
// it: a noise floor rising toward low frequencies, long-, medium- and
// short-wave broadcast carriers whose AM and fading make their levels move
// from block to block, and a few narrow carriers that come and go.
// Everything expensive is built once; a block only mixes precomputed carrier
// groups with per-block gains and adds noise read from a table at a random
// offset, so thousands of blocks per second stay cheap.
class SimSignal
{
public:
    static constexpr int BlockSamples = 8192;
    static constexpr double SampleRate = 80e6;
    // A constant, unmodulated carrier that tests and users can use as a yardstick.
    static constexpr double ReferenceKHz = 10000.0;
    static constexpr double ReferenceDbm = -50.0;
    static constexpr double PreampDb = 10.0;

    SimSignal();

    // Writes Count (at most BlockSamples) samples. Seconds is the stream time
    // that drives modulation, fading and the carriers that come and go.
    void Fill(int16_t* Out, int Count, const SimControls& Controls, double Seconds);

private:
    struct Group
    {
        float AmDepth = 0;    // depth of the audio-driven level flicker
        float FadeDepth = 0;  // depth of slow fading
        float FadePeriod = 1; // seconds
        float AudioRate1 = 0, AudioRate2 = 0, Phase1 = 0, Phase2 = 0;
        float OnPeriod = 0; // seconds; 0 keeps the group on
        float OnFraction = 1, OnPhase = 0;
    };

    int AddGroup(const Group& Params);
    void AddCarrier(int GroupIndex, double KHz, double Dbm);
    void BuildCarriers();
    void BuildNoise();
    float GroupGain(const Group& Params, double Seconds);
    uint64_t NextRandom();

    std::vector<Group> Groups;
    std::vector<float> Bank;  // one block of summed carriers per group
    std::vector<float> Noise; // antenna noise, coloured
    std::vector<float> White; // unit white noise for the converter and dither
    std::vector<float> Gains; // per block, one per group
    std::vector<float> Mix;   // per block scratch
    uint64_t RandomState = 0x9E3779B97F4A7C15ull;
};
