#pragma once

#include "Station.h"
#include "dxFFT.h"

#include <string>
#include <utility>
#include <vector>

// The monitor's settings: defaults, then the INI file of --config, then the command line, the
// command line winning. The INI file's [Settings] and [Offsets] keys mean what they mean in the
// window's settings file (so the window's file serves as is); [Monitor] holds the monitor's own,
// under the options' names (the station view's too), and [Bands] a band per key,
// "name = low:high" in MHz as displayed.
namespace quillex::monitor {

struct TMonitorBand
{
    std::string Name;
    double LowMHz = 0, HighMHz = 0; // as displayed
    bool operator==(const TMonitorBand&) const = default;
};

struct TMonitorSettings
{
    std::string Out = ".";
    std::vector<TMonitorBand> Bands;
    double StatsIntervalS = 60;
    double OccupancyDb = 10;
    std::string LimitsFile;
    double HoldOffS = 1;
    bool RecordOnAlarm = false;
    double PreS = 5, PostS = 5;
    bool RecordAll = false;
    double DiskBudgetMB = 0; // 0: no budget
    double MinFreeMB = 1024;
    double DurationS = 0; // 0: until stopped
    int Exponent = 11;
    TDXLeakType Window = wnHanning;
    int Averaging = 1;
    int FrameRate = 40; // frames a second; 0: every block the receiver delivers
    int AttenuatorDb = 0;
    bool Dither = false, Preamp = false;
    double FreqOffsetMHz = 0, LevelOffsetDb = 0;
    bool Inverted = false;
    double MinDbm = -120, MaxDbm = -80; // the day images' colour scale
    std::string FirmwareDir;            // empty: the working folder
    bool Debug = false;
    // The station view: off unless it listens or publishes. With --token-file, Station.Token
    // is read from TokenFile by ReadTokenFile.
    station::TStationOptions Station;
    std::string TokenFile;
    bool operator==(const TMonitorSettings&) const = default;
};

// The command line as given: options in order, each with its value (empty for a switch).
struct TCommandLine
{
    std::vector<std::pair<std::string, std::string>> Options;
    std::string Config;
    bool Help = false, Version = false, CheckConfig = false;
    // Relative paths (of the options and the config file) are taken from here; empty: as given.
    std::string Folder;
};

// Splits and checks the command line (unknown options, missing values, an option given twice
// except --band). Returns an empty text, or one line saying what is wrong.
std::string ParseCommandLine(int Argc, const char* const* Argv, TCommandLine& Line);

// The settings in force: defaults, the config file, the options; paths made absolute, the
// token file read, the station view's options checked. Returns an empty text, or one line
// naming the bad option, key or value.
std::string ResolveSettings(const TCommandLine& Line, TMonitorSettings& Settings);

std::string HelpText();
// The [Monitor] keys with their values in force, in the order of --help (the token itself
// only when it was given as --token).
std::vector<std::pair<std::string, std::string>> SettingsList(const TMonitorSettings& Settings);
// The settings as an INI file that --config reads back to the same settings.
std::string SettingsText(const TMonitorSettings& Settings);

const char* WindowName(TDXLeakType Window);

} // namespace quillex::monitor
