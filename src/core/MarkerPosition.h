#pragma once

// Where a marker's physical bin position shows on the window's frequency axis and with how many
// digits it is read. The peak arithmetic works in physical bins; the axis shows displayed bins,
// mirrored when the spectrum is inverted, at FreqOffsetMHz + d * 40 / N MHz.
namespace quillex {

// Displayed position of a fractional physical bin (and, the mirror being its own inverse, the
// physical position of a displayed one): N-1-p when inverted.
double DisplayedBin(double Bin, int N, bool Inverted);

// Frequency in MHz of a fractional displayed bin: FreqOffsetMHz + d * 40 / N.
double DisplayedMHz(double DisplayedBin, int N, double FreqOffsetMHz);

// Decimals of a marker frequency in MHz: the fewest whose last digit is worth at most a tenth of
// a bin (40 / N MHz), which is about what the interpolation resolves. N = 4096 gives 4 (0.1 kHz
// against a bin of 9.77 kHz), N = 2048 gives 3, N = 256 gives 2.
int MarkerFrequencyDecimals(int N);

struct TBinRange
{
    int First = 0;
    int Last = -1; // empty when Last < First
};

// The physical bins whose displayed frequencies (without the offset) lie inside MinKHz..MaxKHz,
// bounds included, limited to 0..N-1.
TBinRange PhysicalBinsInView(double MinKHz, double MaxKHz, int N, bool Inverted);

} // namespace quillex
