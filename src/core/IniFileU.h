#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// Thrown by a Write that cannot update the file.
class EIniFileWriteError : public std::runtime_error
{
public:
    explicit EIniFileWriteError(const std::string& FileName);
};

// Profile (INI) file with the semantics the settings rely on: section and key
// names match without regard to case, every Read looks at the file as it is on
// disk (a missing or unreadable file reads as empty), every Write updates one
// key in place and keeps all other lines. Writes go to a temporary file in the
// same folder that is renamed over the old one, so a failed write (full disk,
// no permission) leaves the old file untouched.
class TIniFile
{
public:
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

    // Throw EIniFileWriteError when the file cannot be updated, and
    // std::invalid_argument for names or values that would break the file's
    // line structure (line breaks, "=" in a key, "]" in a section).
    void WriteInteger(std::string_view Section, std::string_view Key, int Value);
    void WriteString(std::string_view Section, std::string_view Key, std::string_view Value);

private:
    std::string FFileName;
};

// Fixed-point text of v with the given number of decimals and decimal
// separator, independent of the C locale ("%0.3f" style; no exponent).
std::string FormatFixed(double v, int decimals, char decimalSeparator);
