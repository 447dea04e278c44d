#include "MonitorOptions.h"

#include "IniFileU.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>

namespace quillex::monitor {

namespace {

constexpr double SpectrumMHz = 40.0;

// A bad value: the message names the value, the caller says where it came from.
struct EBadValue : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

std::string Lower(std::string Text)
{
    std::transform(Text.begin(), Text.end(), Text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return Text;
}

std::string Quoted(const std::string& Text)
{
    return "\"" + Text + "\"";
}

// Numbers with "." whatever the locale, so that a config file works everywhere.
double Number(const std::string& Text, double Lo, double Hi)
{
    double value = 0;
    const char* begin = Text.data();
    const char* end = begin + Text.size();
    if (begin != end && *begin == '+')
        ++begin;
    const auto [stop, ec] = std::from_chars(begin, end, value);
    if (begin == end || ec != std::errc() || stop != end || !std::isfinite(value))
        throw EBadValue("needs a number, not " + Quoted(Text));
    if (value < Lo || value > Hi) {
        char range[80];
        std::snprintf(range, sizeof range, " is out of range (%g .. %g)", Lo, Hi);
        throw EBadValue(Text + range);
    }
    return value;
}

int Whole(const std::string& Text, int Lo, int Hi)
{
    int value = 0;
    const char* end = Text.data() + Text.size();
    const auto [stop, ec] = std::from_chars(Text.data(), end, value);
    if (Text.empty() || ec != std::errc() || stop != end)
        throw EBadValue("needs a whole number, not " + Quoted(Text));
    if (value < Lo || value > Hi)
        throw EBadValue(Text + " is out of range (" + std::to_string(Lo) + " .. " +
                        std::to_string(Hi) + ")");
    return value;
}

bool YesNo(const std::string& Text)
{
    const std::string t = Lower(Text);
    if (t == "yes" || t == "1" || t == "on" || t == "true")
        return true;
    if (t == "no" || t == "0" || t == "off" || t == "false")
        return false;
    throw EBadValue("must be yes or no, not " + Quoted(Text));
}

const std::vector<std::pair<std::string, TDXLeakType>> Windows = {
    {"rect", wnRectangle}, {"hann", wnHanning}, {"hamming", wnHamming}, {"blackman", wnBlackman}};

TDXLeakType WindowOf(const std::string& Text)
{
    for (const auto& [name, window] : Windows)
        if (Lower(Text) == name)
            return window;
    throw EBadValue("must be one of rect|hann|hamming|blackman, not " + Quoted(Text));
}

// "LOW:HIGH" in MHz.
void BandRange(const std::string& Text, TMonitorBand& Band)
{
    const size_t colon = Text.find(':');
    if (colon == std::string::npos)
        throw EBadValue("needs LOW:HIGH in MHz, not " + Quoted(Text));
    Band.LowMHz = Number(Text.substr(0, colon), -1e6, 1e6);
    Band.HighMHz = Number(Text.substr(colon + 1), -1e6, 1e6);
    if (!(Band.LowMHz < Band.HighMHz))
        throw EBadValue("needs LOW below HIGH, not " + Quoted(Text));
}

TMonitorBand BandOf(const std::string& Text)
{
    const size_t eq = Text.find('=');
    if (eq == std::string::npos || eq == 0)
        throw EBadValue("needs NAME=LOW:HIGH, not " + Quoted(Text));
    TMonitorBand band;
    band.Name = Text.substr(0, eq);
    BandRange(Text.substr(eq + 1), band);
    return band;
}

// The station view's options are parsed by the station itself; its text names the option,
// which the caller names again.
void StationValue(TMonitorSettings& S, const std::string& Name, const std::string& Value)
{
    std::string error = station::ParseStationOption(Name, Value, S.Station);
    if (const std::string named = "--" + Name + ": "; error.rfind(named, 0) == 0)
        error.erase(0, named.size());
    if (!error.empty())
        throw EBadValue(error);
}

struct TOption
{
    const char* Name;
    const char* Value; // nullptr: a switch
    const char* Help;  // nullptr: the station view's help has it
    std::function<void(TMonitorSettings&, const std::string&)> Apply;
};

std::function<void(TMonitorSettings&, const std::string&)> Station(const char* Name)
{
    return [Name](TMonitorSettings& S, const std::string& V) { StationValue(S, Name, V); };
}

// Every option, in the order --help lists them. A switch's Apply gets "1" from the command
// line and the key's value from the config file.
const std::vector<TOption>& Options()
{
    using S = TMonitorSettings;
    using V = const std::string&;
    static const std::vector<TOption> options = {
        {"out", "DIR", "folder of the outputs, made if missing (default: the working folder)",
         [](S& s, V v) { s.Out = v.empty() ? throw EBadValue("needs a folder") : v; }},
        {"band", "NAME=LOW:HIGH",
         "a band for the statistics, MHz as displayed; repeatable (config: [Bands] NAME = "
         "LOW:HIGH)",
         [](S& s, V v) { s.Bands.push_back(BandOf(v)); }},
        {"stats-interval-s", "S", "seconds per statistics line and image row (default 60)",
         [](S& s, V v) { s.StatsIntervalS = Number(v, 0.1, 86400); }},
        {"occupancy-db", "D", "a cell is occupied this far above the noise (default 10)",
         [](S& s, V v) { s.OccupancyDb = Number(v, 0, 100); }},
        {"limits", "FILE", "limits file (the window's) whose crossings are logged",
         [](S& s, V v) { s.LimitsFile = v; }},
        {"hold-off-s", "S", "an episode ends this long after its last frame beyond (default 1)",
         [](S& s, V v) { s.HoldOffS = Number(v, 0, 3600); }},
        {"record-on-alarm", nullptr, "a recording of every episode in alarms/",
         [](S& s, V v) { s.RecordOnAlarm = YesNo(v); }},
        {"pre-s", "S", "seconds recorded before an episode (default 5)",
         [](S& s, V v) { s.PreS = Number(v, 0, 60); }},
        {"post-s", "S", "seconds recorded after it (default 5)",
         [](S& s, V v) { s.PostS = Number(v, 0, 600); }},
        {"record-all", nullptr, "record every frame, hourly files in recordings/",
         [](S& s, V v) { s.RecordAll = YesNo(v); }},
        {"disk-budget-mb", "M", "recordings deleted oldest first beyond M MB (default: none)",
         [](S& s, V v) { s.DiskBudgetMB = Number(v, 0, 1e9); }},
        {"min-free-mb", "M", "recordings pause while the disk has less free (default 1024)",
         [](S& s, V v) { s.MinFreeMB = Number(v, 0, 1e9); }},
        {"duration-s", "S", "stop after S seconds (default: run until stopped)",
         [](S& s, V v) { s.DurationS = Number(v, 0, 1e9); }},
        {"fft-exponent", "E", "2^E bins, 8 .. 12 (default 11)",
         [](S& s, V v) { s.Exponent = Whole(v, 8, 12); }},
        {"window", "W", "rect|hann|hamming|blackman (default hann)",
         [](S& s, V v) { s.Window = WindowOf(v); }},
        {"averaging", "A", "frames in the display's running average, 1 .. 64 (default 1)",
         [](S& s, V v) { s.Averaging = Whole(v, 1, 64); }},
        {"frame-rate", "F", "frames a second, 1 .. 100; 0: every block (default 40)",
         [](S& s, V v) { s.FrameRate = Whole(v, 0, 100); }},
        {"attenuator-db", "DB", "0|10|20|30 (default 0)",
         [](S& s, V v) {
             const int db = Whole(v, 0, 30);
             s.AttenuatorDb = db % 10 == 0 ? db : throw EBadValue("must be 0, 10, 20 or 30");
         }},
        {"dither", "yes|no", "the receiver's dither (default no)",
         [](S& s, V v) { s.Dither = YesNo(v); }},
        {"preamp", "yes|no", "the receiver's preamplifier (default no)",
         [](S& s, V v) { s.Preamp = YesNo(v); }},
        {"freq-offset-mhz", "MHz", "added to every frequency shown and written",
         [](S& s, V v) { s.FreqOffsetMHz = Number(v, -1e5, 1e5); }},
        {"level-offset-db", "DB", "added to every level shown and written",
         [](S& s, V v) { s.LevelOffsetDb = Number(v, -1000, 1000); }},
        {"inverted", "yes|no", "the spectrum mirrored (default no)",
         [](S& s, V v) { s.Inverted = YesNo(v); }},
        {"min-dbm", "L", "the day images' lowest level (default -120)",
         [](S& s, V v) { s.MinDbm = Number(v, -300, 300); }},
        {"max-dbm", "L", "the day images' highest level (default -80)",
         [](S& s, V v) { s.MaxDbm = Number(v, -300, 300); }},
        {"firmware-dir", "DIR",
         "folder of the receiver's firmware files (default: the working folder)",
         [](S& s, V v) { s.FirmwareDir = v; }},
        {"debug", nullptr, "the synthetic debug signal instead of the receiver",
         [](S& s, V v) { s.Debug = YesNo(v); }},
        {"listen", "HOST:PORT", nullptr, Station("listen")},
        {"web-fps", "F", nullptr, Station("web-fps")},
        {"web-clients", "N", nullptr, Station("web-clients")},
        // The later of the two wins (the command line's over the config file's).
        {"token", "T", nullptr,
         [](S& s, V v) {
             StationValue(s, "token", v);
             s.TokenFile.clear();
         }},
        {"token-file", "F", nullptr,
         [](S& s, V v) {
             s.TokenFile = v.empty() ? throw EBadValue("needs a file") : v;
             s.Station.Token.clear();
         }},
        {"mqtt", "HOST:PORT", nullptr, Station("mqtt")},
        {"mqtt-topic", "PREFIX", nullptr, Station("mqtt-topic")},
        {"station", "NAME", nullptr, Station("station")},
    };
    return options;
}

const TOption* Find(const std::string& Name)
{
    for (const TOption& o : Options())
        if (Name == o.Name)
            return &o;
    return nullptr;
}

// The window's keys: [Settings] and [Offsets] as in its settings file.
void ApplyWindowKeys(const TIniFile& Ini, TMonitorSettings& S)
{
    const auto key = [&](const char* Section, const char* Key,
                         const std::function<void(const std::string&)>& Apply) {
        const std::string missing = "\x01";
        const std::string value = Ini.ReadString(Section, Key, missing);
        if (value == missing)
            return;
        try {
            Apply(value);
        } catch (const EBadValue& e) {
            throw EBadValue(std::string("[") + Section + "] " + Key + ": " + e.what());
        }
    };
    key("Settings", "FFT", [&](auto& v) { S.Exponent = Whole(v, 8, 12); });
    key("Settings", "FFTWindow",
        [&](auto& v) { S.Window = Windows[size_t(Whole(v, 0, 3))].second; });
    key("Settings", "Avg", [&](auto& v) { S.Averaging = Whole(v, 1, 64); });
    key("Settings", "Speed", [&](auto& v) { S.FrameRate = Whole(v, 1, 100); });
    key("Settings", "Att", [&](auto& v) { S.AttenuatorDb = 10 * Whole(v, 0, 3); });
    key("Settings", "Dither", [&](auto& v) { S.Dither = Whole(v, 0, 1) != 0; });
    key("Settings", "Preamp", [&](auto& v) { S.Preamp = Whole(v, 0, 1) != 0; });
    // The level bars: the lowest level and a range above it, as the window maps them.
    int minLevel = 120, range = 0;
    key("Settings", "MinLevel", [&](auto& v) { minLevel = Whole(v, 20, 140); });
    key("Settings", "Range", [&](auto& v) { range = Whole(v, -100, 0); });
    S.MinDbm = -minLevel;
    S.MaxDbm = -minLevel - range + 40;
    // Offsets count only where the window would show them.
    bool enabled = false;
    key("Offsets", "Enabled", [&](auto& v) { enabled = Whole(v, 0, 1) != 0; });
    if (!enabled)
        return;
    const auto decimal = [](std::string v) {
        std::replace(v.begin(), v.end(), ',', '.');
        return v;
    };
    key("Offsets", "FreqMHz", [&](auto& v) { S.FreqOffsetMHz = Number(decimal(v), -1e5, 1e5); });
    key("Offsets", "LeveldB", [&](auto& v) { S.LevelOffsetDb = Number(decimal(v), -1000, 1000); });
    key("Offsets", "Inverted", [&](auto& v) { S.Inverted = Whole(v, 0, 1) != 0; });
}

void ApplyConfig(const std::string& File, TMonitorSettings& S)
{
    const TIniFile ini(File);
    if (!ini.FileExists() || ini.Unreadable())
        throw EBadValue("cannot read the config file " + File);
    if (ini.TooLarge())
        throw EBadValue(File + " is too large for a config file");
    try {
        ApplyWindowKeys(ini, S);
        for (const std::string& key : ini.Keys("Monitor")) {
            const TOption* option = Find(Lower(key));
            if (option == nullptr || Lower(key) == "band")
                throw EBadValue("[Monitor] " + key + ": no such key");
            try {
                option->Apply(S, ini.ReadString("Monitor", key, ""));
            } catch (const EBadValue& e) {
                throw EBadValue("[Monitor] " + key + ": " + e.what());
            }
        }
        for (const std::string& name : ini.Keys("Bands")) {
            TMonitorBand band;
            band.Name = name;
            try {
                BandRange(ini.ReadString("Bands", name, ""), band);
            } catch (const EBadValue& e) {
                throw EBadValue("[Bands] " + name + ": " + e.what());
            }
            S.Bands.push_back(band);
        }
    } catch (const EBadValue& e) {
        throw EBadValue(File + ": " + e.what());
    }
}

std::string Absolute(const std::string& Path, const std::string& Base)
{
    if (Path.empty() || Base.empty())
        return Path;
    const std::filesystem::path path(Path);
    std::string absolute = (path.is_absolute() ? path : Base / path).lexically_normal().string();
    if (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    return absolute;
}

// What only the whole can tell: bands against the spectrum and each other, the colour scale,
// the station view's address against its token.
void CheckWhole(TMonitorSettings& S)
{
    if (!S.TokenFile.empty())
        if (const std::string error =
                station::ParseStationOption("token-file", S.TokenFile, S.Station);
            !error.empty())
            throw EBadValue(error);
    if (const std::string error = station::CheckStationOptions(S.Station); !error.empty())
        throw EBadValue(error);
    const double bin = SpectrumMHz / double(1 << S.Exponent);
    std::set<std::string> names;
    for (const TMonitorBand& b : S.Bands) {
        const std::string name = "band " + Quoted(b.Name);
        if (std::any_of(b.Name.begin(), b.Name.end(),
                        [](unsigned char c) { return c == ',' || c == '"' || c < ' '; }))
            throw EBadValue(name + ": a name without commas, quotes or control characters");
        if (!names.insert(Lower(b.Name)).second)
            throw EBadValue(name + " is given twice");
        if (b.LowMHz < S.FreqOffsetMHz || b.HighMHz > S.FreqOffsetMHz + SpectrumMHz)
            throw EBadValue(name + " lies outside the spectrum shown (" +
                            std::to_string(S.FreqOffsetMHz) + " .. " +
                            std::to_string(S.FreqOffsetMHz + SpectrumMHz) + " MHz)");
        if (b.HighMHz - b.LowMHz < bin)
            throw EBadValue(name + " is narrower than a bin (" + std::to_string(bin * 1000) +
                            " kHz)");
    }
    if (!(S.MinDbm < S.MaxDbm))
        throw EBadValue("--min-dbm must lie below --max-dbm");
}

} // namespace

const char* WindowName(TDXLeakType Window)
{
    for (const auto& [name, window] : Windows)
        if (window == Window)
            return name.c_str();
    return "own";
}

std::string ParseCommandLine(int Argc, const char* const* Argv, TCommandLine& Line)
{
    std::set<std::string> seen;
    for (int i = 1; i < Argc; ++i) {
        const std::string arg = Argv[i];
        if (arg.rfind("--", 0) != 0)
            return "unexpected argument " + Quoted(arg) + " (see --help)";
        std::string name = arg.substr(2), value;
        const size_t eq = name.find('=');
        const bool inlineValue = eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "help" || name == "version" || name == "check-config") {
            (name == "help"      ? Line.Help
             : name == "version" ? Line.Version
                                 : Line.CheckConfig) = true;
            continue;
        }
        const TOption* option = Find(name);
        if (name != "config" && option == nullptr)
            return "unknown option --" + name + " (see --help)";
        if (name != "band" && !seen.insert(name).second)
            return "--" + name + " is given twice";
        if (seen.count("token") && seen.count("token-file"))
            return "--token and --token-file: give one of them";
        const bool takesValue = name == "config" || option->Value != nullptr;
        if (!takesValue) {
            if (inlineValue)
                return "--" + name + " takes no value";
            value = "1";
        } else if (!inlineValue) {
            if (i + 1 >= Argc)
                return "--" + name + " needs a value";
            value = Argv[++i];
        }
        if (name == "config")
            Line.Config = value;
        else
            Line.Options.emplace_back(name, value);
    }
    return {};
}

std::string ResolveSettings(const TCommandLine& Line, TMonitorSettings& Settings)
{
    TMonitorSettings s;
    try {
        if (!Line.Config.empty())
            ApplyConfig(Absolute(Line.Config, Line.Folder), s);
        bool bandsGiven = false;
        for (const auto& [name, value] : Line.Options) {
            // Bands on the command line replace the config file's.
            if (name == "band" && !std::exchange(bandsGiven, true))
                s.Bands.clear();
            try {
                Find(name)->Apply(s, value);
            } catch (const EBadValue& e) {
                throw EBadValue("--" + name + ": " + e.what());
            }
        }
        for (std::string* path : {&s.Out, &s.LimitsFile, &s.FirmwareDir, &s.TokenFile})
            *path = Absolute(*path, Line.Folder);
        CheckWhole(s);
    } catch (const EBadValue& e) {
        return e.what();
    }
    Settings = s;
    return {};
}

std::string HelpText()
{
    std::string text =
        "Usage: quillex-monitor [OPTION]...\n"
        "Watches the receiver's 0..40 MHz without a display: band statistics, day waterfalls,\n"
        "limit episodes and recordings under --out.\n\n"
        "  --config FILE           INI file: [Settings] and [Offsets] as the window's settings\n"
        "                          file, [Monitor] the options below by name, [Bands] NAME = "
        "LOW:HIGH;\n"
        "                          options given here win\n";
    for (const TOption& o : Options()) {
        if (o.Help == nullptr)
            continue;
        std::string left =
            std::string("  --") + o.Name + (o.Value ? std::string(" ") + o.Value : "");
        left.resize(std::max<size_t>(left.size() + 1, 26), ' ');
        text += left + o.Help + "\n";
    }
    text += station::StationOptionsHelp();
    text += "  --check-config          print the settings in force and exit\n"
            "  --help                  this text\n"
            "  --version               the version\n\n"
            "SIGHUP reads the config and limits files again; SIGTERM and SIGINT end it.\n\n"
            "Exit codes:\n"
            "  0  stopped (SIGTERM, SIGINT, --duration-s)\n"
            "  1  the output folder cannot be used\n"
            "  2  a bad option, config value or limits file, or a --listen address that\n"
            "     cannot be bound (before the receiver is opened)\n";
    return text;
}

namespace {

// The shortest text that reads back as the same number.
std::string Shortest(double Value)
{
    char text[40];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, Value);
    return ec == std::errc() ? std::string(text, end) : std::string("0");
}

} // namespace

std::vector<std::pair<std::string, std::string>> SettingsList(const TMonitorSettings& S)
{
    const auto number = Shortest;
    const auto yes = [](bool v) { return std::string(v ? "yes" : "no"); };
    // HOST:PORT, an IPv6 address in brackets; empty when off.
    const auto address = [](const std::string& Host, int Port) {
        if (Host.empty())
            return std::string();
        return (Host.find(':') != std::string::npos ? "[" + Host + "]" : Host) + ":" +
               std::to_string(Port);
    };
    const station::TStationOptions& v = S.Station;
    std::vector<std::pair<std::string, std::string>> list = {
        {"out", S.Out},
        {"stats-interval-s", number(S.StatsIntervalS)},
        {"occupancy-db", number(S.OccupancyDb)},
        {"limits", S.LimitsFile},
        {"hold-off-s", number(S.HoldOffS)},
        {"record-on-alarm", yes(S.RecordOnAlarm)},
        {"pre-s", number(S.PreS)},
        {"post-s", number(S.PostS)},
        {"record-all", yes(S.RecordAll)},
        {"disk-budget-mb", number(S.DiskBudgetMB)},
        {"min-free-mb", number(S.MinFreeMB)},
        {"duration-s", number(S.DurationS)},
        {"fft-exponent", std::to_string(S.Exponent)},
        {"window", WindowName(S.Window)},
        {"averaging", std::to_string(S.Averaging)},
        {"frame-rate", std::to_string(S.FrameRate)},
        {"attenuator-db", std::to_string(S.AttenuatorDb)},
        {"dither", yes(S.Dither)},
        {"preamp", yes(S.Preamp)},
        {"freq-offset-mhz", number(S.FreqOffsetMHz)},
        {"level-offset-db", number(S.LevelOffsetDb)},
        {"inverted", yes(S.Inverted)},
        {"min-dbm", number(S.MinDbm)},
        {"max-dbm", number(S.MaxDbm)},
        {"firmware-dir", S.FirmwareDir},
        {"debug", yes(S.Debug)},
        {"listen", address(v.ListenHost, v.ListenPort)},
        {"web-fps", number(v.WebFps)},
        {"web-clients", std::to_string(v.WebClients)},
        {"mqtt", address(v.MqttHost, v.MqttPort)},
        {"mqtt-topic", v.MqttTopic},
        {"station", v.StationName},
    };
    if (!S.TokenFile.empty())
        list.emplace_back("token-file", S.TokenFile);
    else if (!v.Token.empty())
        list.emplace_back("token", v.Token);
    return list;
}

std::string SettingsText(const TMonitorSettings& S)
{
    std::string t = "[Monitor]\n";
    const auto line = [&t](const std::string& Key, const std::string& Value) {
        t += Key + " = " + Value + "\n";
    };
    for (const auto& [key, value] : SettingsList(S))
        line(key, value);
    t += "\n[Bands]\n";
    for (const TMonitorBand& b : S.Bands)
        line(b.Name, Shortest(b.LowMHz) + ":" + Shortest(b.HighMHz));
    return t;
}

} // namespace quillex::monitor
