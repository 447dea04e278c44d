#include "FrameSpectrum.h"

#include "FrameProcessor.h"
#include "dxFFT.h"

namespace quillex {

bool TransformBlock(const int16_t* Block, TDXFFT& FFT, TDXVector* Input, TDXComplexVector* Output)
{
    const int64_t n = FFT.Size();
    if (Input == nullptr || Output == nullptr || Input->Values == nullptr ||
        Input->Count != 2 * n || Output->Real == nullptr || Output->Real->Count != n ||
        Output->Imag == nullptr || Output->Imag->Count != n)
        return false;
    ScaleSamples(Block, Input->Values, static_cast<int>(2 * n));
    FFT.RealFFT(Input, Output, false);
    return true;
}

} // namespace quillex
