#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "ExportOptions.h"
#include "ExportPipeline.h"
#include "StampText.h"

namespace quillex {

// The level table: a header line "time,stamped,frame,<MHz>,..." and one line per output
// row. Numbers are written without the locale (decimal point "."); levels as the shortest
// text that reads back as the same float, so a script sees the program's own numbers.
class TCsvWriter
{
public:
    TCsvWriter(std::FILE* Out, const std::string& Name, const TSpan& Span, double FreqOffsetMHz);
    // Time is the time of the row's first frame (empty when none), Stamped whether that
    // frame carries it as its stamp.
    void WriteRow(const TOutputRow& Row, std::optional<double> Time, bool Stamped);

private:
    void Put(const char* Text, size_t Size);
    std::FILE* FOut;
    std::string FName;
    int FLength;
    std::string FLine;
};

// Column frequency as the window labels it: (offset * 1000 + bin * 40000 / N) / 1000 MHz,
// in at most 9 decimals without trailing zeros.
std::string ColumnFrequencyText(int Bin, int N, double FreqOffsetMHz);

} // namespace quillex
