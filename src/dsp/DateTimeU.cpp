#include "DateTimeU.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace quillex {

namespace {

constexpr int64_t MSecsPerDay = 86400000;
// Days from 1970-01-01 to the 1899-12-30 epoch.
constexpr int64_t UnixEpochOffsetDays = 25569;
// 0001-01-01 and 9999-12-31 relative to the epoch.
constexpr double MinDateTime = -693593.0 - (MSecsPerDay - 1) / double(MSecsPerDay);
constexpr double MaxDateTime = 2958465.0 + (MSecsPerDay - 1) / double(MSecsPerDay);

// Days since 1970-01-01 of a proleptic Gregorian date; works for any year.
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

constexpr void CivilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp + (mp < 10 ? 3 : -9);
    year = int(yoe + era * 400 + (m <= 2));
    month = int(m);
    day = int(d);
}

int64_t FloorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Whole days and milliseconds of the day to the day-count double.
double Compose(int64_t days, int64_t msOfDay)
{
    const double time = double(msOfDay) / double(MSecsPerDay);
    return days < 0 ? double(days) - time : double(days) + time;
}

void AppendNumber(std::string& out, int64_t value, int width)
{
    std::string digits = std::to_string(value < 0 ? -value : value);
    if (value < 0)
        out += '-';
    if (int(digits.size()) < width)
        out.append(size_t(width) - digits.size(), '0');
    out += digits;
}

bool TokenAt(std::string_view format, size_t pos, std::string_view token)
{
    if (format.size() - pos < token.size())
        return false;
    for (size_t i = 0; i < token.size(); ++i) {
        char c = format[pos + i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != token[i])
            return false;
    }
    return true;
}

} // namespace

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec)
{
    // Normalise the month first so the calendar sees 1..12, then let the remaining
    // fields add up linearly.
    const int64_t monthIndex = int64_t(month) - 1;
    const int64_t y = int64_t(year) + FloorDiv(monthIndex, 12);
    const int64_t m = monthIndex - FloorDiv(monthIndex, 12) * 12 + 1;
    const int64_t ms = ((int64_t(hour) * 60 + minute) * 60 + second) * 1000 + msec;
    const int64_t days = DaysFromCivil(y, m, 1) + UnixEpochOffsetDays + (int64_t(day) - 1) +
                         FloorDiv(ms, MSecsPerDay);
    return Compose(days, ms - FloorDiv(ms, MSecsPerDay) * MSecsPerDay);
}

void DecodeDateTime(double dateTime, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec)
{
    if (std::isnan(dateTime))
        dateTime = 0.0;
    dateTime = std::clamp(dateTime, MinDateTime, MaxDateTime);
    int64_t days = int64_t(std::trunc(dateTime));
    int64_t ms = std::llround(std::fabs(dateTime - std::trunc(dateTime)) * double(MSecsPerDay));
    if (ms >= MSecsPerDay) {
        ms -= MSecsPerDay;
        ++days;
    }
    CivilFromDays(days - UnixEpochOffsetDays, year, month, day);
    hour = int(ms / 3600000);
    minute = int(ms / 60000 % 60);
    second = int(ms / 1000 % 60);
    msec = int(ms % 1000);
}

double DateTimeFromTimePoint(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    const auto secs = floor<seconds>(t);
    const int ms = int(duration_cast<milliseconds>(t - secs).count());
    const std::time_t tt = system_clock::to_time_t(secs);
    std::tm local{};
    if (localtime_r(&tt, &local) == nullptr)
        return 0.0;
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, ms);
}

double NowDateTime()
{
    return DateTimeFromTimePoint(std::chrono::system_clock::now());
}

std::string FormatDateTime(std::string_view format, double dateTime)
{
    int year, month, day, hour, minute, second, msec;
    DecodeDateTime(dateTime, year, month, day, hour, minute, second, msec);
    std::string out;
    out.reserve(format.size() + 8);
    size_t pos = 0;
    while (pos < format.size()) {
        if (TokenAt(format, pos, "yyyy")) {
            AppendNumber(out, year, 4);
            pos += 4;
        } else if (TokenAt(format, pos, "zzz")) {
            AppendNumber(out, msec, 3);
            pos += 3;
        } else if (TokenAt(format, pos, "mm")) {
            AppendNumber(out, month, 2);
            pos += 2;
        } else if (TokenAt(format, pos, "dd")) {
            AppendNumber(out, day, 2);
            pos += 2;
        } else if (TokenAt(format, pos, "hh")) {
            AppendNumber(out, hour, 2);
            pos += 2;
        } else if (TokenAt(format, pos, "nn")) {
            AppendNumber(out, minute, 2);
            pos += 2;
        } else if (TokenAt(format, pos, "ss")) {
            AppendNumber(out, second, 2);
            pos += 2;
        } else {
            out += format[pos++];
        }
    }
    return out;
}

} // namespace quillex
