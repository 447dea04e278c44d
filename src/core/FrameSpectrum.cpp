#include "FrameSpectrum.h"

#include "dxFFT.h"

namespace quillex {

bool TransformBlock(const int16_t* Block, TDXFFT& FFT, TDXVector* Input, TDXComplexVector* Output)
{
    const int64_t n = FFT.Size();
    if (Input == nullptr || Output == nullptr || Input->Values == nullptr ||
        Input->Count != 2 * n || Output->Real == nullptr || Output->Real->Count != n ||
        Output->Imag == nullptr || Output->Imag->Count != n)
        return false;
    // The samples are scaled and windowed inside the transform: the same floats as scaling
    // into Input and transforming that, two passes over memory fewer.
    return FFT.RealFFTOfSamples(Block, Output, false, wnHanning);
}

} // namespace quillex
