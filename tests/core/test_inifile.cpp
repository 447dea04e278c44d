#include "IniFileU.h"
#include "test_file_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include <sys/stat.h>

using IniFileTest = TempFileTest;

TEST_F(IniFileTest, ReadsFollowProfileFileRules)
{
    Put("\xEF\xBB\xBF"
        "Avg=3\r\n[settings]\r\n; FFT=1\r\n \t\v fft window\f= 2 \f"
        "\r\nFFT=12\r\nfft=9\r\nName=\"quoted text\"\r\n"
        "Empty=\r\n[Form]\r\nWidth=900\r\n[SETTINGS]\r\nAvg=7\r\n"
        "[ABCDEFGHIJKLMNOPQRSTUVWXYZ]\r\nabcdefghijklmnopqrstuvwxyz=26\r\n");
    TIniFile ini(Path);
    EXPECT_EQ(ini.ReadInteger("Settings", "FFT Window", -1), 2);
    EXPECT_EQ(ini.ReadInteger("SETTINGS", "fft", -1), 12); // first key wins, comment ignored
    EXPECT_EQ(ini.ReadString("Settings", "Name", "x"), "quoted text");
    EXPECT_EQ(ini.ReadString("Settings", "Empty", "x"), "");
    EXPECT_EQ(ini.ReadString("Settings", "Missing", "x"), "x");
    EXPECT_EQ(ini.ReadInteger("form", "WIDTH", 0), 900);
    EXPECT_EQ(ini.ReadInteger("Form", "FFT", -1), -1);     // keys belong to their section
    EXPECT_EQ(ini.ReadInteger("Settings", "Avg", -1), -1); // the first section only, no key above
    EXPECT_EQ(ini.ReadInteger("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", -1), 26);

    Put("[Settings]\nFFT=8\n"); // an object reads the file once; a new one sees the change
    EXPECT_EQ(ini.ReadInteger("Settings", "FFT", -1), 12);
    EXPECT_EQ(TIniFile(Path).ReadInteger("Settings", "FFT", -1), 8);
    EXPECT_TRUE(ini.FileExists());
    std::remove(Path.c_str());
    EXPECT_FALSE(ini.FileExists());
    EXPECT_FALSE(TIniFile(Dir.string()).FileExists()); // a folder is no settings file
    EXPECT_EQ(TIniFile(Path).ReadInteger("Settings", "FFT", 11), 11);
}

// Loading every setting and saving every setting each parse the file once, whatever its size.
TEST_F(IniFileTest, OneParsePerLoadAndPerSave)
{
    std::string text = "[Settings]\n";
    for (int i = 0; i < 2000; ++i)
        text += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    Put(text);
    const uint64_t before = TIniFile::ParseCount();
    {
        const TIniFile ini(Path);
        for (int i = 0; i < 2000; i += 7)
            ASSERT_EQ(ini.ReadInteger("settings", "key" + std::to_string(i), -1), i);
        EXPECT_EQ(ini.ReadString("Form", "Width", "none"), "none");
    }
    EXPECT_EQ(TIniFile::ParseCount() - before, 1u);
    {
        TIniFile ini(Path);
        for (int i = 0; i < 20; ++i)
            ini.WriteInteger("Settings", "Key" + std::to_string(i), -i);
        ini.WriteInteger("Form", "Width", 900);
        EXPECT_EQ(ini.ReadInteger("Settings", "Key19", 0), -19); // reads see the object's writes
    }
    EXPECT_EQ(TIniFile::ParseCount() - before, 2u);
    const TIniFile after(Path);
    EXPECT_EQ(after.ReadInteger("Settings", "Key19", 0), -19);
    EXPECT_EQ(after.ReadInteger("Settings", "Key1999", 0), 1999);
    EXPECT_EQ(after.ReadInteger("Form", "Width", 0), 900);
}

// A file beyond the size of any settings file is read up to the last whole line within the
// limit and is never rewritten, so none of its lines can be lost.
TEST_F(IniFileTest, OversizedFileIsReadInPartAndNeverWritten)
{
    const size_t limit = TIniFile::MaxFileSize;
    const std::string head = "[Settings]\r\nSpeed=77\r\n";
    std::string filler;
    while (head.size() + filler.size() + 12 < limit)
        filler += "; padding\r\n"; // 11 bytes a line
    // The key straddles the limit: its line is cut, so it must not count.
    const std::string atLimit = "Avg=12345678901234567890\r\n";
    const std::string text = head + filler + atLimit + "[Form]\r\nWidth=900\r\n";
    ASSERT_LT(head.size() + filler.size(), limit);
    ASSERT_GT(head.size() + filler.size() + atLimit.size(), limit);
    Put(text);
    TIniFile ini(Path);
    EXPECT_TRUE(ini.TooLarge());
    EXPECT_EQ(ini.ReadInteger("Settings", "Speed", -1), 77);
    EXPECT_EQ(ini.ReadString("Settings", "Avg", "missing"), "missing");
    EXPECT_EQ(ini.ReadInteger("Form", "Width", -1), -1);
    EXPECT_THROW(ini.WriteInteger("Settings", "Speed", 5), EIniFileWriteError);
    EXPECT_THROW(TIniFile(Path).WriteInteger("Form", "Width", 5), EIniFileWriteError);
    EXPECT_TRUE(Content() == text);

    Put(std::string(limit - 9, ';') + "\n[S]\nK=1\n"); // exactly at the limit: a settings file
    EXPECT_FALSE(TIniFile(Path).TooLarge());
    EXPECT_EQ(TIniFile(Path).ReadInteger("S", "K", -1), 1);
}

// Texts that are not a whole number in range give the caller's default.
TEST_F(IniFileTest, NumbersAndTheirDefaults)
{
    const auto integer = [&](const char* text) {
        Put(std::string("[S]\nK=") + text + "\n");
        errno = EINTR; // as an interrupted call may leave it: only a failed read is repeated
        return TIniFile(Path).ReadInteger("S", "K", -99);
    };
    const std::pair<const char*, int> integers[] = {
        {"-7", -7}, {"+5", 5}, {"0XfF", 255}, {"0xFFFFFFFF", -1}, {"-2147483648", INT32_MIN}};
    for (const auto& [text, value] : integers)
        EXPECT_EQ(integer(text), value) << '"' << text << '"';
    for (const char* text : {"2147483648", "0x100000000", "12abc", "", "0x", "1.5", "0x-1", "+-3"})
        EXPECT_EQ(integer(text), -99) << '"' << text << '"';

    const auto real = [&](const char* text) {
        Put(std::string("[Offsets]\nFreqMHz=") + text + "\n");
        return TIniFile(Path).ReadFloat("Offsets", "FreqMHz", -1.0);
    };
    // Decimal numbers with either separator and signs where they may stand read as strtod
    // reads them with a point.
    std::mt19937 rng(12);
    const char* signs[] = {"", "+", "-"};
    for (int i = 0; i < 400; ++i) {
        std::string text = signs[rng() % 3];
        text += std::to_string(rng() % 100000 >> rng() % 17); // 1 to 5 digits
        if (rng() % 2)
            text += std::string(rng() % 2 ? "." : ",") + std::to_string(rng() % 1000);
        if (rng() % 2)
            text +=
                std::string(rng() % 2 ? "e" : "E") + signs[rng() % 3] + std::to_string(rng() % 40);
        std::string point = text;
        std::replace(point.begin(), point.end(), ',', '.');
        EXPECT_EQ(real(text.c_str()), std::strtod(point.c_str(), nullptr)) << '"' << text << '"';
    }
    for (const char* text : {"", "1.2,3", "inf", "nan", "1e999", "-", "0.5x", "+-1"})
        EXPECT_EQ(real(text), -1.0) << '"' << text << '"';
}

TEST_F(IniFileTest, WritesUpdateInPlaceAndKeepEverythingElse)
{
    Put("; by hand\r\n[Settings]\r\nfft=11\r\nAvg=3\r\n\r\n[Offsets]\r\nEnabled=1\r\n");
    TIniFile ini(Path);
    errno = EINTR; // left by an interrupted call: only a failed write is repeated
    ini.WriteInteger("SETTINGS", "FFT", 12);
    ini.WriteString("Settings", "Speed", "40");
    ini.WriteString("Form", "Width", "880");
    ini.WriteString("Offsets", "FreqMHz", "0,500");
    EXPECT_EQ(Content(), "; by hand\r\n[Settings]\r\nfft=12\r\nAvg=3\r\nSpeed=40\r\n\r\n"
                         "[Offsets]\r\nEnabled=1\r\nFreqMHz=0,500\r\n[Form]\r\nWidth=880\r\n");

    // A missing file is created, with what the user's umask leaves of read and write for all.
    std::remove(Path.c_str());
    const mode_t mask = umask(027);
    TIniFile(Path).WriteInteger("Settings", "Att", 2);
    umask(mask);
    EXPECT_EQ(Content(), "[Settings]\nAtt=2\n");
    EXPECT_EQ(std::filesystem::status(Path).permissions(),
              static_cast<std::filesystem::perms>(0640));
    Put("[Settings]\nAtt=2"); // a last line without a break gets one
    TIniFile(Path).WriteInteger("Settings", "Dither", 1);
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

// Settings handed over through a pipe, whose size nothing tells beforehand, are read whole.
TEST_F(IniFileTest, SettingsFromAPipeAreReadWhole)
{
    ASSERT_EQ(mkfifo(Path.c_str(), 0600), 0);
    std::string text = "[Settings]\n";
    for (int i = 0; i < 300; ++i)
        text += "Key" + std::to_string(i) + "=" + std::to_string(7 * i) + "\n";
    std::thread writer([&] { std::ofstream(Path) << text; });
    EXPECT_EQ(TIniFile(Path).ReadInteger("Settings", "Key299", -1), 7 * 299);
    writer.join();
}
