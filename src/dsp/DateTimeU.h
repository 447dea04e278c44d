#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace quillex {

// Date-times are days since 1899-12-30 (fraction = time of day), local wall-clock time.
// Days before that epoch are negative and keep a positive time of day: -1.25 is
// 1899-12-29 06:00.

// Out-of-range fields are carried over like a calendar would (month 13 is January of the
// next year, second 60 the next minute), so any input gives a defined result.
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec = 0);
// NaN gives the epoch; values beyond years 1..9999 are clamped to that range.
void DecodeDateTime(double dateTime, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec);
double DateTimeFromTimePoint(std::chrono::system_clock::time_point t); // local wall-clock
double NowDateTime();                                                  // system clock, local
constexpr double SecondsToDays(double seconds)
{
    return seconds / 86400.0;
}
// Tokens: "yyyy", "mm" (month), "dd", "hh", "nn" (minutes), "ss", "zzz" (ms), matched
// without regard to case; other characters copied. Any double (NaN, huge) gives a text.
std::string FormatDateTime(std::string_view format, double dateTime);

} // namespace quillex
