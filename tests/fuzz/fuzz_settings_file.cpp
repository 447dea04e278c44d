// The settings file fed with arbitrary bytes: every key the window reads is read with its
// type, then one key the window saves is written and the file read again; the written key
// must read back as written and every other key as before.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "IniFileU.h"

namespace {

struct TKey
{
    const char* Section;
    const char* Name;
    bool Float = false;
    bool Saved = true; // "Enabled" is only ever added by hand
};

// The window's keys in the order it reads them.
const TKey Keys[] = {{"Settings", "FFTWindow"},
                     {"Settings", "BandWidth"},
                     {"Settings", "Speed"},
                     {"Settings", "Att"},
                     {"Settings", "MinLevel"},
                     {"Settings", "Range"},
                     {"Settings", "Avg"},
                     {"Settings", "FFT"},
                     {"Settings", "Freq"},
                     {"Form", "Width"},
                     {"Form", "Height"},
                     {"Form", "Top"},
                     {"Form", "Left"},
                     {"Settings", "Dither"},
                     {"Settings", "Preamp"},
                     {"Offsets", "FreqMHz", true},
                     {"Offsets", "LeveldB", true},
                     {"Offsets", "Enabled", false, false},
                     {"Offsets", "Inverted"},
                     {"Traces", "MaxHold"},
                     {"Traces", "MinHold"},
                     {"Traces", "Average"},
                     {"Traces", "AverageFrames"},
                     {"Traces", "MarkerTrace"}};
constexpr size_t KeyCount = sizeof Keys / sizeof Keys[0];

// A default no file can produce, so a missing key is told from any stored value.
constexpr int MissingInteger = -1234567;

std::vector<double> ReadAll(const TIniFile& Ini)
{
    std::vector<double> values;
    for (const TKey& key : Keys) {
        if (!key.Float) {
            values.push_back(Ini.ReadInteger(key.Section, key.Name, MissingInteger));
        } else {
            const double v = Ini.ReadFloat(key.Section, key.Name, -0.5);
            FUZZ_CHECK(std::isfinite(v), key.Name);
            values.push_back(v);
        }
    }
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    static TScratchFolder folder;
    const std::string path = folder.Put("Quillex.ini", Data, Size);
    TChoices choose(Data, Size);

    const std::vector<double> before = ReadAll(TIniFile(path));

    size_t index = choose.Below(KeyCount);
    while (!Keys[index].Saved)
        index = choose.Below(KeyCount);
    const TKey& key = Keys[index];
    double written = 0.0;
    {
        TIniFile ini(path);
        if (!key.Float) {
            const auto value = static_cast<int32_t>(choose.Next());
            ini.WriteInteger(key.Section, key.Name, value);
            written = value;
        } else {
            // What the window stores: a fixed-point text with the locale's separator.
            const int decimals = key.Name[0] == 'F' ? 3 : 1;
            const double value = static_cast<double>(static_cast<int32_t>(choose.Next())) / 1000.0;
            const std::string text = FormatFixed(value, decimals, choose.Below(2) ? ',' : '.');
            ini.WriteString(key.Section, key.Name, text);
            std::string point = text;
            std::replace(point.begin(), point.end(), ',', '.');
            written = std::strtod(point.c_str(), nullptr);
        }
    }

    const std::vector<double> after = ReadAll(TIniFile(path));
    for (size_t i = 0; i < KeyCount; ++i)
        FUZZ_CHECK(after[i] == (i == index ? written : before[i]), Keys[i].Name);
    return 0;
}
