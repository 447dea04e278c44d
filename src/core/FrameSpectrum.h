#pragma once

#include <cstdint>

class TDXFFT;
class TDXVector;
class TDXComplexVector;

namespace quillex {

// The first half of a frame's arithmetic, shared by the window and the export tool: the
// windowed real FFT of x[i] = 2 * Block[i] for the first 2N samples, which leaves the
// magnitudes in Output->Real. Every window's coherent gain is brought to the Hann window's
// here, so that a carrier reads one level whatever the window, in everything that takes the
// magnitudes from here (averages, holds, peaks, limits, levels, exports); Hann's magnitudes
// are the plain transform's, bit for bit. Input is no longer written (the FFT reads the
// samples directly); it is still checked, so a vector set that lags behind a size change
// drops the frame as before. Returns false, doing nothing, when the vectors do not fit the
// FFT's size (N bins, 2N inputs).
bool TransformBlock(const int16_t* Block, TDXFFT& FFT, TDXVector* Input, TDXComplexVector* Output);

} // namespace quillex
