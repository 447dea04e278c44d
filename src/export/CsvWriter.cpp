#include "CsvWriter.h"

#include "ExportError.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace quillex {

std::string ColumnFrequencyText(int Bin, int N, double FreqOffsetMHz)
{
    const double mhz = (FreqOffsetMHz * 1000.0 + double(Bin) * 40000.0 / N) / 1000.0;
    char text[48];
    auto [end, ec] = std::to_chars(text, text + sizeof text, mhz, std::chars_format::fixed, 9);
    if (ec != std::errc())
        return "nan";
    std::string s(text, end);
    while (s.size() > 1 && s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

TCsvWriter::TCsvWriter(std::FILE* Out, const std::string& Name, const TSpan& Span,
                       double FreqOffsetMHz)
    : FOut(Out), FName(Name), FLength(Span.Length)
{
    FLine = "time,stamped,frame";
    for (int j = 0; j < Span.Length; ++j) {
        FLine += ',';
        FLine += ColumnFrequencyText(Span.StartBin + j, Span.N, FreqOffsetMHz);
    }
    FLine += '\n';
    Put(FLine.data(), FLine.size());
    FLine.reserve(size_t(FLength) * 16 + 64);
}

void TCsvWriter::WriteRow(const TOutputRow& Row, std::optional<double> Time, bool Stamped)
{
    FLine.clear();
    if (Time)
        FLine += IsoStampText(*Time);
    FLine += Stamped ? ",1," : ",0,";
    FLine += std::to_string(Row.FirstFrame);
    char text[32];
    for (int j = 0; j < FLength; ++j) {
        text[0] = ',';
        const auto [end, ec] = std::to_chars(text + 1, text + sizeof text, Row.Levels[j]);
        FLine.append(text, ec == std::errc() ? end : text + 1);
    }
    FLine += '\n';
    Put(FLine.data(), FLine.size());
}

void TCsvWriter::Put(const char* Text, size_t Size)
{
    if (std::fwrite(Text, 1, Size, FOut) != Size)
        throw TExportError(TExitCode::OutputFile,
                           "Cannot write " + FName + ": " + std::strerror(errno));
}

} // namespace quillex
