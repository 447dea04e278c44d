#include "IniFileU.h"

#include "ReplaceFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TLine = TIniFile::TLine;

std::atomic<uint64_t> Parses{0};

struct TLocation
{
    bool SectionFound = false;
    size_t InsertAt = 0; // where a missing key goes: after the section's last non-blank line
    bool KeyFound = false;
    size_t KeyLine = 0;
    std::string Value;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

// Up to Limit bytes of the file, and whether there were more; empty for a
// missing file, nullopt for one that exists but cannot be read (a write must
// not replace what it could not read).
std::optional<std::string> ReadFileStart(const std::string& FileName, size_t Limit, bool& More)
{
    More = false;
    const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // One byte past the limit tells a file of exactly Limit bytes from a larger one.
    const size_t wanted = Limit + 1;
    std::string content(std::min(static_cast<size_t>(std::max<off_t>(info.st_size, 0)), Limit) + 1,
                        '\0');
    size_t done = 0;
    bool ok = true;
    while (done < wanted) {
        if (done == content.size()) // the file grew since fstat
            content.resize(std::min(2 * content.size(), wanted));
        const ssize_t n = ::read(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (!ok)
        return std::nullopt;
    More = done > Limit;
    content.resize(std::min(done, Limit));
    if (More) { // only whole lines count: a cut line could read as another value
        const size_t lastBreak = content.find_last_of('\n');
        content.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
    }
    content.shrink_to_fit();
    return content;
}

std::vector<TLine> SplitLines(std::string_view Content)
{
    std::vector<TLine> lines;
    size_t start = 0;
    while (start < Content.size()) {
        const size_t end = Content.find('\n', start);
        TLine line;
        line.LineFeed = end != std::string_view::npos;
        const size_t stop = line.LineFeed ? end : Content.size();
        line.Text = std::string(Content.substr(start, stop - start));
        start = stop + 1;
        if (!line.Text.empty() && line.Text.back() == '\r') {
            line.Text.pop_back();
            line.CarriageReturn = true;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line)
{
    line = Trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const size_t close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// Splits "key = value"; false for comments and lines without "=".
bool SplitKeyValue(std::string_view line, std::string_view& key, std::string_view& value)
{
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';')
        return false;
    const size_t eq = trimmed.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(trimmed.substr(0, eq));
    value = Trim(trimmed.substr(eq + 1));
    return !key.empty();
}

// Finds the first section of that name and the first such key in it.
TLocation Locate(const std::vector<TLine>& lines, std::string_view Section, std::string_view Key)
{
    TLocation where;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = SectionName(lines[i].Text)) {
            if (where.SectionFound)
                break;
            inSection = SameName(*name, Section);
            if (inSection) {
                where.SectionFound = true;
                where.InsertAt = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!Trim(lines[i].Text).empty())
            where.InsertAt = i + 1;
        std::string_view key, value;
        if (SplitKeyValue(lines[i].Text, key, value) && SameName(key, Key)) {
            where.KeyFound = true;
            where.KeyLine = i;
            where.Value = std::string(value);
            return where;
        }
    }
    return where;
}

std::string StripQuotes(std::string value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::optional<int> ParseInteger(std::string_view text)
{
    text = Trim(text);
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        // Hexadecimal holds the 32 bits of the value, so 0xFFFFFFFF is -1.
        uint32_t bits = 0;
        const std::string_view digits = text.substr(2);
        if (digits.size() > 8)
            return std::nullopt;
        const auto [end, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), bits, 16);
        if (ec != std::errc() || end != digits.data() + digits.size())
            return std::nullopt;
        return static_cast<int32_t>(bits);
    }
    if (text.size() > 1 && text[0] == '+' && text[1] != '-')
        text.remove_prefix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

void CheckName(std::string_view name, bool isSection)
{
    if (Trim(name).empty())
        throw std::invalid_argument("Profile file: empty section or key name");
    for (char c : name) {
        if (c == '\r' || c == '\n' || (isSection && c == ']') || (!isSection && c == '='))
            throw std::invalid_argument("Profile file: invalid section or key name \"" +
                                        std::string(name) + "\"");
    }
}

std::string JoinLines(const std::vector<TLine>& lines)
{
    size_t size = 0;
    for (const TLine& line : lines)
        size += line.Text.size() + 2;
    std::string out;
    out.reserve(size);
    for (const TLine& line : lines) {
        out += line.Text;
        if (line.CarriageReturn)
            out += '\r';
        if (line.LineFeed)
            out += '\n';
    }
    return out;
}

} // namespace

EIniFileWriteError::EIniFileWriteError(const std::string& FileName)
    : std::runtime_error("In " + FileName + " kann nicht geschrieben werden")
{
}

TIniFile::TIniFile(std::string FileName) : FFileName(std::move(FileName)) {}

const std::string& TIniFile::FileName() const
{
    return FFileName;
}

bool TIniFile::FileExists() const
{
    struct stat info
    {
    };
    return stat(FFileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string TIniFile::ReadString(std::string_view Section, std::string_view Key,
                                 std::string_view Default) const
{
    const TLocation where = Locate(Content().Lines, Section, Key);
    if (!where.KeyFound)
        return std::string(Default);
    return StripQuotes(where.Value);
}

std::vector<std::string> TIniFile::Keys(std::string_view Section) const
{
    std::vector<std::string> keys;
    bool inSection = false, found = false;
    for (const TLine& line : Content().Lines) {
        if (const auto name = SectionName(line.Text)) {
            if (found)
                break;
            inSection = found = SameName(*name, Section);
            continue;
        }
        std::string_view key, value;
        if (inSection && SplitKeyValue(line.Text, key, value))
            keys.emplace_back(key);
    }
    return keys;
}

bool TIniFile::Unreadable() const
{
    return !Content().Readable;
}

int TIniFile::ReadInteger(std::string_view Section, std::string_view Key, int Default) const
{
    const TLocation where = Locate(Content().Lines, Section, Key);
    if (!where.KeyFound)
        return Default;
    return ParseInteger(where.Value).value_or(Default);
}

double TIniFile::ReadFloat(std::string_view Section, std::string_view Key, double Default) const
{
    const TLocation where = Locate(Content().Lines, Section, Key);
    if (!where.KeyFound)
        return Default;
    std::string text(Trim(where.Value));
    size_t separators = 0;
    for (char& c : text) {
        if (c == ',' || c == '.') {
            c = '.';
            ++separators;
        }
    }
    // from_chars rejects a leading "+" but would accept "inf" and "nan".
    std::string_view digits = text;
    if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-')
        digits.remove_prefix(1);
    if (digits.empty() || separators > 1)
        return Default;
    for (char c : digits)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+'))
            return Default;
    double value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value))
        return Default;
    return value;
}

void TIniFile::WriteInteger(std::string_view Section, std::string_view Key, int Value)
{
    WriteString(Section, Key, std::to_string(Value));
}

void TIniFile::WriteString(std::string_view Section, std::string_view Key, std::string_view Value)
{
    CheckName(Section, true);
    CheckName(Key, false);
    if (Value.find_first_of("\r\n") != std::string_view::npos)
        throw std::invalid_argument("Profile file: a value must not contain a line break");
    Section = Trim(Section);
    Key = Trim(Key);

    const TContent& content = Content();
    if (!content.Readable || content.TooLarge)
        throw EIniFileWriteError(FFileName);
    std::vector<TLine> lines = content.Lines;
    // New lines follow the file's own line breaks.
    const bool crlf = !lines.empty() && lines.front().CarriageReturn;
    const TLocation where = Locate(lines, Section, Key);
    if (where.KeyFound) {
        std::string_view key, value;
        SplitKeyValue(lines[where.KeyLine].Text, key, value);
        lines[where.KeyLine].Text = std::string(key) + "=" + std::string(Value);
    } else {
        if (!lines.empty())
            lines.back().LineFeed = true;
        const TLine entry{std::string(Key) + "=" + std::string(Value), crlf, true};
        if (where.SectionFound) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(where.InsertAt), entry);
        } else {
            std::string header(1, '[');
            header.append(Section).push_back(']');
            lines.push_back({std::move(header), crlf, true});
            lines.push_back(entry);
        }
    }
    const std::string_view bom = content.ByteOrderMark ? ByteOrderMark : "";
    if (quillex::ReplaceFile(FFileName, std::string(bom) + JoinLines(lines)))
        throw EIniFileWriteError(FFileName);
    FContent->Lines = std::move(lines);
}

bool TIniFile::TooLarge() const
{
    return Content().TooLarge;
}

uint64_t TIniFile::ParseCount()
{
    return Parses.load();
}

const TIniFile::TContent& TIniFile::Content() const
{
    if (FContent)
        return *FContent;
    ++Parses;
    TContent content;
    const std::optional<std::string> bytes =
        ReadFileStart(FFileName, MaxFileSize, content.TooLarge);
    content.Readable = bytes.has_value();
    std::string_view text = bytes ? std::string_view(*bytes) : std::string_view();
    // A byte-order mark in front of the first section is not part of its name.
    content.ByteOrderMark = text.starts_with(ByteOrderMark);
    if (content.ByteOrderMark)
        text.remove_prefix(ByteOrderMark.size());
    content.Lines = SplitLines(text);
    FContent = std::move(content);
    return *FContent;
}

std::string FormatFixed(double v, int decimals, char decimalSeparator)
{
    decimals = decimals < 0 ? 0 : (decimals > 30 ? 30 : decimals);
    char buffer[400];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return {};
    std::string text(buffer, end);
    // A value that rounds to zero shows no sign: "-0.000" means nothing more.
    if (text.front() == '-' && text.find_first_of("123456789") == std::string::npos)
        text.erase(0, 1);
    for (char& c : text)
        if (c == '.')
            c = decimalSeparator;
    return text;
}
