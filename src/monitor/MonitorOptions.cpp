#include "MonitorOptions.h"

#include "IniFileU.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
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

struct TOption
{
    const char* Name;
    const char* Value; // nullptr: a switch
    const char* Help;
    std::function<void(TMonitorSettings&, const std::string&)> Apply;
};

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

// What only the whole can tell: bands against the spectrum and each other, the colour scale.
void CheckWhole(const TMonitorSettings& S)
{
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
            ApplyConfig(Line.Config, s);
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
        std::string left =
            std::string("  --") + o.Name + (o.Value ? std::string(" ") + o.Value : "");
        left.resize(std::max<size_t>(left.size() + 1, 26), ' ');
        text += left + o.Help + "\n";
    }
    text += "  --check-config          print the settings in force and exit\n"
            "  --help                  this text\n"
            "  --version               the version\n\n"
            "SIGHUP reads the config and limits files again; SIGTERM and SIGINT end it.\n\n"
            "Exit codes:\n"
            "  0  stopped (SIGTERM, SIGINT, --duration-s)\n"
            "  1  the output folder cannot be used\n"
            "  2  a bad option, config value or limits file (before the receiver is opened)\n";
    return text;
}

std::string SettingsText(const TMonitorSettings& S)
{
    const auto number = [](double v) {
        char text[40];
        const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
        return ec == std::errc() ? std::string(text, end) : std::string("0");
    };
    const auto yes = [](bool v) { return std::string(v ? "yes" : "no"); };
    std::string t = "[Monitor]\n";
    const auto line = [&t](const char* Key, const std::string& Value) {
        t += std::string(Key) + " = " + Value + "\n";
    };
    line("out", S.Out);
    line("stats-interval-s", number(S.StatsIntervalS));
    line("occupancy-db", number(S.OccupancyDb));
    line("limits", S.LimitsFile);
    line("hold-off-s", number(S.HoldOffS));
    line("record-on-alarm", yes(S.RecordOnAlarm));
    line("pre-s", number(S.PreS));
    line("post-s", number(S.PostS));
    line("record-all", yes(S.RecordAll));
    line("disk-budget-mb", number(S.DiskBudgetMB));
    line("min-free-mb", number(S.MinFreeMB));
    line("duration-s", number(S.DurationS));
    line("fft-exponent", std::to_string(S.Exponent));
    line("window", WindowName(S.Window));
    line("averaging", std::to_string(S.Averaging));
    line("frame-rate", std::to_string(S.FrameRate));
    line("attenuator-db", std::to_string(S.AttenuatorDb));
    line("dither", yes(S.Dither));
    line("preamp", yes(S.Preamp));
    line("freq-offset-mhz", number(S.FreqOffsetMHz));
    line("level-offset-db", number(S.LevelOffsetDb));
    line("inverted", yes(S.Inverted));
    line("min-dbm", number(S.MinDbm));
    line("max-dbm", number(S.MaxDbm));
    line("firmware-dir", S.FirmwareDir);
    line("debug", yes(S.Debug));
    t += "\n[Bands]\n";
    for (const TMonitorBand& b : S.Bands)
        line(b.Name.c_str(), number(b.LowMHz) + ":" + number(b.HighMHz));
    return t;
}

} // namespace quillex::monitor
