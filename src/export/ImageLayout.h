#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ExportOptions.h"

// Where the export image puts its ticks and labels. No Qt here: text widths come in
// through a function, so the rules can be checked without fonts.
namespace quillex {

using TTextWidth = std::function<int(const std::string&)>;

struct TFrequencyTick
{
    int X = 0; // column of the waterfall (0 = the span's first bin)
    std::string Text;
};

// Decimals of the frequency labels: as many as the offset needs (the window's rule: one
// when round(offset * 10) is a multiple of 10, two when round(offset * 100) is, else
// three), and as many as the tick step needs.
int FrequencyDecimals(double FreqOffsetMHz, int StepKHz);

// Ticks at the multiples of the smallest step (10 kHz .. 20 MHz, in 1-2-2.5-5 steps) whose
// labels keep at least MinGap pixels apart. A tick at frequency f kHz sits on the column
// of the bin f * N / 40000 (truncated); its text is (offset * 1000 + f) / 1000 in MHz.
std::vector<TFrequencyTick> FrequencyTicks(const TSpan& Span, double FreqOffsetMHz,
                                           const TTextWidth& TextWidth, int MinGap);

struct TTimeLabel
{
    int64_t Row = 0;
    int64_t Top = 0; // of the label's box, relative to the waterfall's first row
    double Stamp = 0;
    bool ShowDate = false; // a second line with the date
};

// Labels for the stamped rows (in row order), "hh:nn:ss" centred on the row: a label
// that would come closer than Gap pixels to the one above is left out. The first label
// and the first one after the date changes (crossing midnight) carry the date. A label
// that would reach below Bottom (where the frequency axis's unit stands) is moved up to
// end there: in a short image the date under the first label would run into the unit.
std::vector<TTimeLabel> PlaceTimeLabels(const std::vector<std::pair<int64_t, double>>& Stamps,
                                        int LineHeight, int Gap, int64_t Bottom);
// Top of a label's box relative to the waterfall's first row.
int64_t TimeLabelTop(int64_t Row, int LineHeight);

} // namespace quillex
