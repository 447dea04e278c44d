#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Thrown by a Write that cannot update the file.
class EIniFileWriteError : public std::runtime_error
{
public:
    explicit EIniFileWriteError(const std::string& FileName);
};

// Profile (INI) file with the semantics the settings rely on: section and key
// names match without regard to case, every Write updates one key in place and
// keeps all other lines. The file is read and parsed once, by the first Read or
// Write of an object; later calls work on that copy (a missing or unreadable
// file reads as empty), so loading or saving all settings costs one parse.
// Writes go to a temporary file in the same folder that is renamed over the old
// one, so a failed write (full disk, no permission) leaves the old file
// untouched. A file larger than MaxFileSize is no settings file: only its whole
// lines within the first MaxFileSize bytes are read, and it is never written,
// since rewriting it would need all of it in memory.
class TIniFile
{
public:
    static constexpr std::size_t MaxFileSize = std::size_t(1) << 20;

    explicit TIniFile(std::string FileName);

    const std::string& FileName() const;
    bool FileExists() const;

    // Decimal, or hexadecimal with the prefix "0x"; anything else gives Default.
    int ReadInteger(std::string_view Section, std::string_view Key, int Default) const;
    // The value with surrounding blanks (and one pair of matching quotes)
    // removed; Default only when the key is missing.
    std::string ReadString(std::string_view Section, std::string_view Key,
                           std::string_view Default) const;
    // Accepts "." or "," as the decimal separator whatever the locale;
    // empty/unreadable -> Default.
    double ReadFloat(std::string_view Section, std::string_view Key, double Default) const;
    // The keys of the first section of that name, in file order, as written (a key given
    // twice appears twice; Read* take the first).
    std::vector<std::string> Keys(std::string_view Section) const;
    // The file exists but could not be read.
    bool Unreadable() const;

    // Throw EIniFileWriteError when the file cannot be updated, and
    // std::invalid_argument for names or values that would break the file's
    // line structure (line breaks, "=" in a key, "]" in a section).
    void WriteInteger(std::string_view Section, std::string_view Key, int Value);
    void WriteString(std::string_view Section, std::string_view Key, std::string_view Value);

    // True when the file is larger than MaxFileSize (reads it if not done yet).
    bool TooLarge() const;

    // How many times any profile file has been read and parsed in this process.
    static uint64_t ParseCount();

    // One line as stored; the line break is kept apart so a write reproduces
    // every untouched line byte for byte.
    struct TLine
    {
        std::string Text;
        bool CarriageReturn = false; // the line ends in "\r\n" (or "\r" at the end of the file)
        bool LineFeed = false;       // false only for a last line without a break
    };

private:
    struct TContent
    {
        bool Readable = true; // false: the file exists but cannot be read
        bool TooLarge = false;
        bool ByteOrderMark = false;
        std::vector<TLine> Lines;
    };
    const TContent& Content() const;

    std::string FFileName;
    mutable std::optional<TContent> FContent;
};

// Fixed-point text of v with the given number of decimals and decimal
// separator, independent of the C locale ("%0.3f" style; no exponent).
std::string FormatFixed(double v, int decimals, char decimalSeparator);
