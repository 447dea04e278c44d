#include "IniFileU.h"
#include "test_file_support.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include <sys/stat.h>

using IniFileTest = TempFileTest;

TEST_F(IniFileTest, ReadsFollowProfileFileRules)
{
    Put("\xEF\xBB\xBF[settings]\r\n; FFT=1\r\n  fft window = 2 "
        "\r\nFFT=12\r\nfft=9\r\nName=\"quoted text\"\r\n"
        "Empty=\r\n[Form]\r\nWidth=900\r\n[SETTINGS]\r\nAvg=7\r\n");
    TIniFile ini(Path);
    EXPECT_EQ(ini.ReadInteger("Settings", "FFT Window", -1), 2);
    EXPECT_EQ(ini.ReadInteger("SETTINGS", "fft", -1), 12); // first key wins, comment ignored
    EXPECT_EQ(ini.ReadString("Settings", "Name", "x"), "quoted text");
    EXPECT_EQ(ini.ReadString("Settings", "Empty", "x"), "");
    EXPECT_EQ(ini.ReadString("Settings", "Missing", "x"), "x");
    EXPECT_EQ(ini.ReadInteger("form", "WIDTH", 0), 900);
    EXPECT_EQ(ini.ReadInteger("Form", "FFT", -1), -1);     // keys belong to their section
    EXPECT_EQ(ini.ReadInteger("Settings", "Avg", -1), -1); // only the first section counts

    Put("[Settings]\nFFT=8\n"); // each read sees the file as it is now
    EXPECT_EQ(ini.ReadInteger("Settings", "FFT", -1), 8);
    std::remove(Path.c_str());
    EXPECT_FALSE(ini.FileExists());
    EXPECT_EQ(ini.ReadInteger("Settings", "FFT", 11), 11);
}

// Texts that are not a whole number in range give the caller's default.
TEST_F(IniFileTest, NumbersAndTheirDefaults)
{
    TIniFile ini(Path);
    const auto integer = [&](const char* text) {
        Put(std::string("[S]\nK=") + text + "\n");
        return ini.ReadInteger("S", "K", -99);
    };
    const std::pair<const char*, int> integers[] = {
        {"-7", -7}, {"+5", 5}, {"0XfF", 255}, {"0xFFFFFFFF", -1}, {"-2147483648", INT32_MIN}};
    for (const auto& [text, value] : integers)
        EXPECT_EQ(integer(text), value) << '"' << text << '"';
    for (const char* text : {"2147483648", "0x100000000", "12abc", "", "0x", "1.5", "0x-1", "+-3"})
        EXPECT_EQ(integer(text), -99) << '"' << text << '"';

    const auto real = [&](const char* text) {
        Put(std::string("[Offsets]\nFreqMHz=") + text + "\n");
        return ini.ReadFloat("Offsets", "FreqMHz", -1.0);
    };
    const std::pair<const char*, double> floats[] = {
        {"0,500", 0.5}, {"-12.5", -12.5}, {"+3,25", 3.25}, {"1e3", 1000.0}};
    for (const auto& [text, value] : floats)
        EXPECT_EQ(real(text), value) << '"' << text << '"';
    for (const char* text : {"", "1.2,3", "inf", "nan", "1e999", "-", "0.5x", "+-1"})
        EXPECT_EQ(real(text), -1.0) << '"' << text << '"';
}

TEST_F(IniFileTest, WritesUpdateInPlaceAndKeepEverythingElse)
{
    Put("; by hand\r\n[Settings]\r\nfft=11\r\nAvg=3\r\n\r\n[Offsets]\r\nEnabled=1\r\n");
    TIniFile ini(Path);
    ini.WriteInteger("SETTINGS", "FFT", 12);
    ini.WriteString("Settings", "Speed", "40");
    ini.WriteString("Form", "Width", "880");
    ini.WriteString("Offsets", "FreqMHz", "0,500");
    EXPECT_EQ(Content(), "; by hand\r\n[Settings]\r\nfft=12\r\nAvg=3\r\nSpeed=40\r\n\r\n"
                         "[Offsets]\r\nEnabled=1\r\nFreqMHz=0,500\r\n[Form]\r\nWidth=880\r\n");

    std::remove(Path.c_str()); // a missing file is created
    ini.WriteInteger("Settings", "Att", 2);
    EXPECT_EQ(Content(), "[Settings]\nAtt=2\n");
    const mode_t mask = umask(022);
    umask(mask);
    EXPECT_EQ(std::filesystem::status(Path).permissions(),
              static_cast<std::filesystem::perms>(0666 & ~mask));
    Put("[Settings]\nAtt=2"); // a last line without a break gets one
    ini.WriteInteger("Settings", "Dither", 1);
    EXPECT_EQ(Content(), "[Settings]\nAtt=2\nDither=1\n");

    EXPECT_THROW(ini.WriteString("Settings", "Key", "two\nlines"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("Settings", "a=b", "1"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("Set]tings", "Key", "1"), std::invalid_argument);
    EXPECT_EQ(Content(), "[Settings]\nAtt=2\nDither=1\n");
}

TEST_F(IniFileTest, FailedWriteReportsAndLeavesTheOldFileIntact)
{
    // The message text is checked where the window shows it.
    EXPECT_THROW(
        TIniFile((Dir / "no" / "Quillex.ini").string()).WriteInteger("Settings", "FFT", 11),
        EIniFileWriteError);
    // On a full disk the write fails as a whole.
    const std::string original = "[Settings]\nFFT=11\n" + std::string(4000, ';') + "\n";
    Put(original);
    {
        const TFullDisk full(2048);
        EXPECT_THROW(TIniFile(Path).WriteInteger("Settings", "FFT", 12), EIniFileWriteError);
    }
    EXPECT_EQ(Content(), original);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir), {}), 1)
        << "temporary file left behind";
}

// Random bytes, half-formed sections and lines without keys must neither
// crash nor stop a later write and read.
TEST_F(IniFileTest, GarbageFilesStayReadableAndWritable)
{
    std::mt19937 rng(99);
    const std::string pieces[] = {
        "[",        "]",     "=",  "\n",   "\r\n",      "\r", ";", " ", std::string(1, '\0'),
        "Settings", "Speed", "0x", "\xff", "[Settings", "=12"};
    TIniFile ini(Path);
    for (int round = 0; round < 60; ++round) {
        std::string garbage;
        for (int i = static_cast<int>(rng() % 60); i > 0; --i)
            garbage += pieces[rng() % std::size(pieces)];
        Put(garbage);
        (void)ini.ReadFloat("Settings", "Speed", 0.0);
        ini.WriteInteger("Settings", "Speed", round);
        ASSERT_EQ(ini.ReadInteger("Settings", "Speed", -1), round) << "after garbage " << round;
    }
}

// The decimal separator is chosen by the caller, never by the C locale.
TEST(FormatFixed, MatchesPrintfWithTheChosenSeparator)
{
    std::mt19937_64 rng(4);
    std::uniform_real_distribution<double> value(-2e4, 2e4);
    char expected[64];
    for (int i = 0; i < 20000; ++i) {
        const double v = i % 3 ? value(rng) : std::round(value(rng) * 1000) / 1000 + 0.0005;
        std::snprintf(expected, sizeof expected, "%.*f", i % 4, v);
        std::string text(expected);
        if (text.find_first_of("123456789") == std::string::npos && text[0] == '-')
            text.erase(0, 1); // a zero shows no sign
        std::replace(text.begin(), text.end(), '.', ',');
        ASSERT_EQ(FormatFixed(v, i % 4, ','), text) << v;
    }
    EXPECT_EQ(FormatFixed(-0.0001, 3, '.'), "0.000");
}
