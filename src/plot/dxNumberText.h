#pragma once

// Qt-free number texts of the plot's dialogs: the general 7-digit format of the axis edits and
// the reading of typed numbers.

#include <optional>
#include <string>
#include <string_view>

namespace dxplot {

// `digits` significant digits (1..17), trailing zeros removed, `point` as decimal separator.
// Fixed notation while the integer part has at most `digits` digits and the magnitude is at
// least 0.00001; otherwise scientific, as in "1.5E-6" or "1.234568E12".
std::string FormatGeneral(double value, int digits, char point);

// A typed decimal number with either ',' or '.' as separator (surrounding blanks allowed);
// nothing for any other text, for trailing garbage and for values that are not finite.
std::optional<double> ParseDecimal(std::string_view text);

} // namespace dxplot
