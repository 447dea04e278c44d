#pragma once

// Levels at the antenna input: what the attenuator took away and the preamplifier added before
// the converter, so that a carrier reads one level whatever they are set to. The window adds it
// to the level offset, which is how it reaches every level shown and the recordings' headers.
namespace quillex {

inline constexpr double AttenuatorStepDb = 10.0;
// The preamplifier's nominal gain (the receiver's data; a real one varies a little with
// frequency).
inline constexpr double PreampNominalGainDb = 10.0;

// Step 0..3 of the attenuator (0, 10, 20, 30 dB); a step outside reads as 0 dB.
constexpr double InputLevelCorrectionDb(int AttenuatorStep, bool Preamp)
{
    const double attenuation =
        AttenuatorStep >= 0 && AttenuatorStep <= 3 ? AttenuatorStep * AttenuatorStepDb : 0.0;
    return attenuation - (Preamp ? PreampNominalGainDb : 0.0);
}

} // namespace quillex
