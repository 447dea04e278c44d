#pragma once

// The span the plot and the waterfall show: a centre and a width in kHz on the plot's axis (no
// offset, displayed bins) within the 0..40000 kHz spectrum of N bins.
namespace quillex {

inline constexpr double SpanSpectrumKHz = 40000.0;
// The narrowest span in bins where the spectrum has them.
inline constexpr int LeastSpanBins = 64;

// The narrowest span: 64 bins, but never more than 5 MHz (the narrowest "Bandwidth" button, which
// at N = 256 holds only 32 bins).
double LeastSpanKHz(int N);
// A span limited to LeastSpanKHz .. the whole spectrum; not a number gives the whole spectrum.
double ClampSpanKHz(double SpanKHz, int N);
// A centre that keeps the span inside the spectrum; not a number gives the middle.
double ClampCentreKHz(double CentreKHz, double SpanKHz);

// The bins the waterfall takes for a span: Length = the span in bins (at least one), starting at
// the bin nearest the span's left edge, kept inside 0..N-1.
struct TSpanBins
{
    int Start = 0;
    int Length = 0;
};
TSpanBins SpanBins(double CentreKHz, double SpanKHz, int N);

// The frequency grid's step: the smallest of 1, 2, 2.5 and 5 times a power of ten that divides
// the span into at most twenty steps (250 kHz for 5 MHz, 2 MHz for 40 MHz).
double SpanGridStepKHz(double SpanKHz);

} // namespace quillex
