#include "LimitFile.h"

#include "ReplaceFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <vector>

namespace quillex {

namespace {

constexpr std::string_view Header = "MHz,upper_dBm,lower_dBm";
// Far more than a curve from the finest trace needs; a larger file is not a limits file, and
// reading it whole would only take the memory.
constexpr size_t MaxFileBytes = size_t(64) << 20;

std::string_view Trim(std::string_view s)
{
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// A finite decimal number with "." as point and at most one sign; false for anything else.
bool ParseNumber(std::string_view text, double& value)
{
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-')
            return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() &&
           std::isfinite(value);
}

[[noreturn]] void Fail(const std::string& Name, size_t Line, const std::string& What)
{
    throw ELimitFileError("Line " + std::to_string(Line) + " of " + Name + ": " + What);
}

std::string Excerpt(std::string_view text)
{
    std::string out;
    for (const char c : text.substr(0, 24))
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    return text.size() > 24 ? out + "..." : out;
}

void AppendNumber(std::string& Out, double Value)
{
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, Value);
    Out.append(text, ec == std::errc() ? end : text);
}

} // namespace

TLimits ParseLimits(std::string_view Text, const std::string& Name)
{
    if (Text.size() >= 3 && Text.substr(0, 3) == "\xEF\xBB\xBF")
        Text.remove_prefix(3);
    std::vector<TLimitPoint> upper;
    std::vector<TLimitPoint> lower;
    bool headerSeen = false;
    size_t lineNumber = 0;
    while (!Text.empty()) {
        const size_t cut = Text.find('\n');
        std::string_view line = Text.substr(0, cut);
        Text.remove_prefix(cut == std::string_view::npos ? Text.size() : cut + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (Trim(line).empty())
            continue;
        if (!headerSeen) {
            if (Trim(line) != Header)
                Fail(Name, lineNumber,
                     "the first line must be \"" + std::string(Header) + "\", not \"" +
                         Excerpt(line) + "\"");
            headerSeen = true;
            continue;
        }
        std::string_view fields[3];
        const auto count = std::count(line.begin(), line.end(), ',') + 1;
        if (count != 3)
            Fail(Name, lineNumber,
                 "3 fields expected (MHz, upper and lower level), found " + std::to_string(count));
        for (size_t k = 0, start = 0; k < 3; ++k) {
            const size_t comma = line.find(',', start);
            fields[k] = Trim(line.substr(start, comma - start));
            start = comma + 1;
        }
        double mhz = 0;
        if (!ParseNumber(fields[0], mhz))
            Fail(Name, lineNumber, "the frequency \"" + Excerpt(fields[0]) + "\" is not a number");
        if (!upper.empty() && !(mhz > upper.back().MHz))
            Fail(Name, lineNumber, "the frequencies must rise");
        double levels[2] = {std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::quiet_NaN()};
        for (int k = 0; k < 2; ++k) {
            if (fields[k + 1].empty())
                continue;
            const std::string what = std::string(k == 0 ? "the upper" : "the lower") + " level \"" +
                                     Excerpt(fields[k + 1]) + "\"";
            if (!ParseNumber(fields[k + 1], levels[k]))
                Fail(Name, lineNumber, what + " is not a number");
            if (!(levels[k] >= LowestLimitDbm && levels[k] <= HighestLimitDbm))
                Fail(Name, lineNumber, what + " lies outside -300..+100 dBm");
        }
        upper.push_back({mhz, levels[0]});
        lower.push_back({mhz, levels[1]});
    }
    if (!headerSeen)
        Fail(Name, lineNumber + (lineNumber == 0),
             "the file is empty; a limits file starts with \"" + std::string(Header) + "\"");
    TLimits limits;
    limits.Upper = TLimitCurve(std::move(upper));
    limits.Lower = TLimitCurve(std::move(lower));
    return limits;
}

TLimits ReadLimitsFile(const std::string& FileName)
{
    std::ifstream in(FileName, std::ios::binary);
    if (!in)
        throw ELimitFileError("Cannot open " + FileName + ": " + std::strerror(errno));
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > MaxFileBytes)
            throw ELimitFileError(FileName + " is not a limits file: it is larger than " +
                                  std::to_string(MaxFileBytes >> 20) + " MB");
    }
    if (in.bad())
        throw ELimitFileError("Cannot read " + FileName + ": " + std::strerror(errno));
    return ParseLimits(text, FileName);
}

std::string FormatLimits(const TLimits& Limits)
{
    std::vector<double> frequencies;
    for (const TLimitCurve* curve : {&Limits.Upper, &Limits.Lower})
        for (const TLimitPoint& p : curve->Points())
            frequencies.push_back(p.MHz);
    std::sort(frequencies.begin(), frequencies.end());
    frequencies.erase(std::unique(frequencies.begin(), frequencies.end()), frequencies.end());

    std::string text(Header);
    text += '\n';
    for (const double mhz : frequencies) {
        AppendNumber(text, mhz);
        for (const TLimitCurve* curve : {&Limits.Upper, &Limits.Lower}) {
            text += ',';
            const double level = curve->LevelAt(mhz);
            if (!std::isnan(level))
                AppendNumber(text, level);
        }
        text += '\n';
    }
    return text;
}

void WriteLimitsFile(const std::string& FileName, const TLimits& Limits)
{
    if (const int error = ReplaceFile(FileName, FormatLimits(Limits)))
        throw ELimitFileError("Cannot write " + FileName + ": " + std::strerror(error));
}

} // namespace quillex
