#pragma once

#include "LimitCurve.h"

#include <stdexcept>
#include <string>
#include <string_view>

// The limits file: CSV with the header "MHz,upper_dBm,lower_dBm" and one line per point,
// frequencies rising, levels as displayed; an empty level field means no limit at that point
// (see LimitCurve.h for what the points mean between and beyond them); a level lies within
// LowestLimitDbm..HighestLimitDbm. Numbers use "." as
// decimal point whatever the locale. Lines may end in CRLF; blank lines are skipped.
namespace quillex {

// The levels a limit may have, in dBm as displayed: far beyond what a frame can show at
// either end, yet no number so absurd that it stands for no limit at all.
constexpr double LowestLimitDbm = -300.0, HighestLimitDbm = 100.0;

// One message naming the file and the line; reading never changes the caller's curves.
class ELimitFileError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The limits a file's text holds; Name is used in messages. Throws ELimitFileError.
TLimits ParseLimits(std::string_view Text, const std::string& Name);
TLimits ReadLimitsFile(const std::string& FileName);

// The file text for the limits: one line at every frequency where either curve has a point,
// each field the curve's level there (empty where it sets none), written as the shortest text
// that reads back as the same double. Reading it back gives curves with the same level at
// every frequency; a curve whose points share the other's frequencies reads back point for
// point.
std::string FormatLimits(const TLimits& Limits);
// Writes under a temporary name in the same folder and renames, so a failed save leaves an
// existing file as it was. Throws ELimitFileError.
void WriteLimitsFile(const std::string& FileName, const TLimits& Limits);

} // namespace quillex
