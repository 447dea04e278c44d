#include "dxNumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace dxplot {

namespace {

// Drops trailing zeros of a fraction, and the point when nothing follows it.
void StripZeros(std::string& s)
{
    if (s.find('.') == std::string::npos)
        return;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
}

} // namespace

std::string FormatGeneral(double value, int digits, char point)
{
    if (!std::isfinite(value))
        return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
    digits = std::clamp(digits, 1, 17);
    if (value == 0.0)
        return "0";
    // Round to the wanted digits first: the rounding may carry into the next decade.
    // (to_chars never depends on the C locale, which Qt sets from the environment.)
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, digits - 1);
    std::string sci(buf, r.ptr);
    const std::size_t e = sci.find('e');
    const int exponent = std::atoi(sci.c_str() + e + 1);
    std::string out;
    if (exponent >= -5 && exponent < digits) {
        r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed,
                          std::max(0, digits - 1 - exponent));
        out.assign(buf, r.ptr);
        StripZeros(out);
    } else {
        out = sci.substr(0, e);
        StripZeros(out);
        out += 'E';
        out += std::to_string(exponent);
    }
    std::replace(out.begin(), out.end(), '.', point);
    return out;
}

std::optional<double> ParseDecimal(std::string_view text)
{
    std::string s(text);
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.back()))
        s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && blank(s[start]))
        ++start;
    s.erase(0, start);
    if (s.empty())
        return std::nullopt;
    std::replace(s.begin(), s.end(), ',', '.');
    // Only plain decimal numbers: no hexadecimal, "inf" or "nan" spellings.
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return std::nullopt;
    // from_chars takes no leading '+'; a sign of its own is fine after it is skipped.
    const char* first = s.c_str();
    const char* last = first + s.size();
    if (*first == '+' && ++first != last && *first == '-')
        return std::nullopt;
    double v = 0;
    const auto r = std::from_chars(first, last, v);
    if (r.ec != std::errc() || r.ptr != last || !std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace dxplot
