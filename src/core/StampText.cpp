#include "StampText.h"

#include "DateTimeU.h"

#include <charconv>
#include <string_view>

namespace quillex {

std::string IsoStampText(double Stamp)
{
    return FormatDateTime("yyyy-mm-ddThh:nn:ss.zzz", Stamp);
}

void AppendFixed(std::string& Out, double Value, int Decimals)
{
    char text[64];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, Value, std::chars_format::fixed, Decimals);
    std::string_view digits(text, ec == std::errc() ? size_t(end - text) : 0);
    if (!digits.empty() && digits.front() == '-' &&
        digits.find_first_of("123456789") == std::string_view::npos)
        digits.remove_prefix(1);
    Out += digits;
}

} // namespace quillex
