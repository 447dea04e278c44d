#include "ExportOptions.h"

#include "ExportError.h"
#include "FrameProcessor.h"
#include "SigmfExport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <vector>

#include <sys/stat.h>

namespace quillex {

namespace {

constexpr int SpectrumKHz = 40000;

[[noreturn]] void Fail(const std::string& Message)
{
    throw TExportError(TExitCode::Usage, Message);
}

int64_t ParseInteger(const std::string& Name, const std::string& Text, int64_t Lo, int64_t Hi)
{
    int64_t value = 0;
    const char* end = Text.data() + Text.size();
    const auto [stop, ec] = std::from_chars(Text.data(), end, value);
    if (Text.empty() || ec != std::errc() || stop != end)
        Fail(Name + " needs a whole number, not \"" + Text + "\"");
    if (value < Lo || value > Hi)
        Fail(Name + " " + Text + " is out of range (" + std::to_string(Lo) + " .. " +
             std::to_string(Hi) + ")");
    return value;
}

// Numbers always with "." whatever the locale, so scripts work everywhere.
double ParseNumber(const std::string& Name, const std::string& Text, double Lo, double Hi)
{
    double value = 0;
    const char* begin = Text.data();
    const char* end = Text.data() + Text.size();
    if (begin != end && *begin == '+')
        ++begin;
    const auto [stop, ec] = std::from_chars(begin, end, value);
    if (begin == end || ec != std::errc() || stop != end || !std::isfinite(value))
        Fail(Name + " needs a number, not \"" + Text + "\"");
    if (value < Lo || value > Hi) {
        char range[64];
        std::snprintf(range, sizeof range, " is out of range (%g .. %g)", Lo, Hi);
        Fail(Name + " " + Text + range);
    }
    return value;
}

template <typename T>
T ParseChoice(const std::string& Name, const std::string& Text,
              const std::vector<std::pair<std::string, T>>& Choices)
{
    std::string names;
    for (const auto& [text, value] : Choices) {
        if (text == Text)
            return value;
        names += (names.empty() ? "" : "|") + text;
    }
    Fail(Name + " must be one of " + names + ", not \"" + Text + "\"");
}

} // namespace

TSpan SpanOf(const TSpectrumSettings& Settings)
{
    TSpan span;
    span.N = 1 << Settings.Exponent;
    const int index = Settings.SpanMHz == 5    ? 0
                      : Settings.SpanMHz == 10 ? 1
                      : Settings.SpanMHz == 20 ? 2
                                               : 3;
    span.Length = span.N / (1 << (3 - index));
    const int half = 500 * Settings.SpanMHz;
    // The window keeps its view start as a float in kHz.
    const float viewMin = static_cast<float>(Settings.CentreKHz - half);
    const int start = RoundHalfEven(static_cast<double>(viewMin) / SpectrumKHz * span.N);
    span.StartBin = std::clamp(start, 0, span.N - span.Length);
    return span;
}

namespace {

// The command line as it is read: the options, and what can be checked only once all of
// them are known.
struct TParse
{
    TExportOptions O;
    std::optional<double> CentreMHz;
    bool MinGiven = false;
    std::set<std::string> Given;
};

using TText = const std::string&;
using THandler = void (*)(TParse& P, TText Name, TText Value);

// A band's name goes into every line of the table as a field of its own.
void AddBand(TParse& P, TText Where, TText Name, TText Low, TText High)
{
    if (Name.empty())
        Fail(Where + ": a band needs a name");
    if (std::any_of(Name.begin(), Name.end(),
                    [](char C) { return C == ',' || C == '"' || (C >= 0 && C < ' '); }))
        Fail(Where + ": a band's name cannot hold a comma, a quote or a control character");
    for (const TStatsBand& b : P.O.Bands)
        if (b.Name == Name)
            Fail(Where + ": the band name \"" + Name + "\" is given twice");
    const TStatsBand band{Name, ParseNumber(Where, Low, -1e9, 1e9),
                          ParseNumber(Where, High, -1e9, 1e9)};
    if (band.LowMHz > band.HighMHz)
        Fail(Where + ": band \"" + Name + "\" has its low edge above its high one");
    P.O.Bands.push_back(band);
}

// NAME=LOW:HIGH
void TakeBand(TParse& P, TText Option, TText Value)
{
    const size_t eq = Value.find('=');
    const size_t colon = Value.find(':', eq == std::string::npos ? 0 : eq);
    if (eq == std::string::npos || colon == std::string::npos)
        Fail(Option + " needs NAME=LOW:HIGH (MHz as displayed), not \"" + Value + "\"");
    AddBand(P, Option, Value.substr(0, eq), Value.substr(eq + 1, colon - eq - 1),
            Value.substr(colon + 1));
}

std::string Trimmed(const std::string& Text)
{
    const size_t begin = Text.find_first_not_of(" \t\r");
    const size_t end = Text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : Text.substr(begin, end - begin + 1);
}

// Lines "name,low_MHz,high_MHz"; an optional header of those words, empty lines and lines
// from "#" on are passed over.
void ReadBandsFile(TParse& P, TText Option, TText Path)
{
    P.O.BandsFile = Path;
    std::ifstream in(Path);
    if (!in)
        Fail(Option + ": cannot read " + Path + ": " + std::strerror(errno));
    std::string line;
    const size_t before = P.O.Bands.size();
    for (int number = 1; std::getline(in, line); ++number) {
        line = Trimmed(line);
        if (line.empty() || line[0] == '#' ||
            (before == P.O.Bands.size() && line == "name,low_MHz,high_MHz"))
            continue;
        const std::string where = Path + " line " + std::to_string(number);
        const size_t a = line.find(','), b = line.find(',', a == std::string::npos ? a : a + 1);
        if (a == std::string::npos || b == std::string::npos ||
            line.find(',', b + 1) != std::string::npos)
            Fail(where + " needs name,low_MHz,high_MHz" +
                 (line.size() <= 80 && std::all_of(line.begin(), line.end(),
                                                   [](char C) { return C >= ' ' && C < 127; })
                      ? ", not \"" + line + "\""
                      : std::string(", not a line of text")));
        AddBand(P, where, Trimmed(line.substr(0, a)), Trimmed(line.substr(a + 1, b - a - 1)),
                Trimmed(line.substr(b + 1)));
    }
    if (in.bad())
        Fail(Option + ": cannot read " + Path + ": " + std::strerror(errno));
    if (P.O.Bands.size() == before)
        Fail(Option + ": " + Path + " holds no band");
}

// The options that take a value, by name.
const std::map<std::string, THandler>& ValuedOptions()
{
    static const std::map<std::string, THandler> options = {
        {"--png", [](TParse& P, TText, TText V) { P.O.Png = V; }},
        {"--csv", [](TParse& P, TText, TText V) { P.O.Csv = V; }},
        {"--sigmf",
         [](TParse& P, TText N, TText V) {
             if (V.empty() || V.back() == '/')
                 Fail(N + " needs a file name to put .sigmf-data and .sigmf-meta after, not \"" +
                      V + "\"");
             P.O.Sigmf = V;
         }},
        {"--fft-exponent",
         [](TParse& P, TText N, TText V) {
             P.O.Spectrum.Exponent = static_cast<int>(ParseInteger(N, V, 8, 12));
         }},
        {"--window",
         [](TParse& P, TText N, TText V) {
             P.O.Spectrum.Window = ParseChoice<TDXLeakType>(N, V,
                                                            {{"rect", wnRectangle},
                                                             {"hann", wnHanning},
                                                             {"hamming", wnHamming},
                                                             {"blackman", wnBlackman}});
         }},
        {"--average",
         [](TParse& P, TText N, TText V) {
             P.O.Spectrum.Average = static_cast<int>(ParseInteger(N, V, 1, 64));
         }},
        {"--span-mhz",
         [](TParse& P, TText N, TText V) {
             P.O.Spectrum.SpanMHz =
                 ParseChoice<int>(N, V, {{"5", 5}, {"10", 10}, {"20", 20}, {"40", 40}});
         }},
        {"--centre-mhz",
         [](TParse& P, TText N, TText V) { P.CentreMHz = ParseNumber(N, V, 0.0, 40.0); }},
        {"--first",
         [](TParse& P, TText N, TText V) { P.O.First = ParseInteger(N, V, 0, INT64_MAX); }},
        {"--last",
         [](TParse& P, TText N, TText V) { P.O.Last = ParseInteger(N, V, 0, INT64_MAX); }},
        {"--fold",
         [](TParse& P, TText N, TText V) { P.O.Fold = ParseInteger(N, V, 1, 100'000'000); }},
        {"--fold-mode",
         [](TParse& P, TText N, TText V) {
             P.O.FoldMode =
                 ParseChoice<TFoldMode>(N, V, {{"max", TFoldMode::Max}, {"mean", TFoldMode::Mean}});
         }},
        {"--inverted",
         [](TParse& P, TText N, TText V) {
             P.O.Inverted = ParseChoice<bool>(N, V, {{"yes", true}, {"no", false}});
         }},
        {"--min-dbm",
         [](TParse& P, TText N, TText V) {
             P.O.MinDbm = float(ParseNumber(N, V, -200.0, 100.0));
             P.MinGiven = true;
         }},
        {"--max-dbm",
         [](TParse& P, TText N, TText V) { P.O.MaxDbm = float(ParseNumber(N, V, -200.0, 100.0)); }},
        {"--peaks", [](TParse& P, TText, TText V) { P.O.Peaks = V; }},
        {"--peak-count",
         [](TParse& P, TText N, TText V) { P.O.PeakCount = int(ParseInteger(N, V, 1, 100)); }},
        {"--peak-min-dbm",
         [](TParse& P, TText N, TText V) { P.O.PeakMinDbm = ParseNumber(N, V, -200.0, 100.0); }},
        {"--limits", [](TParse& P, TText, TText V) { P.O.Limits = V; }},
        {"--events", [](TParse& P, TText, TText V) { P.O.Events = V; }},
        {"--hold-off-s",
         [](TParse& P, TText N, TText V) { P.O.HoldOffSeconds = ParseNumber(N, V, 0.0, 86400.0); }},
        {"--stats", [](TParse& P, TText, TText V) { P.O.Stats = V; }},
        {"--band", TakeBand},
        {"--bands", ReadBandsFile},
        {"--occupancy-db",
         [](TParse& P, TText N, TText V) { P.O.OccupancyDb = ParseNumber(N, V, 0.0, 100.0); }},
        {"--threads",
         [](TParse& P, TText N, TText V) { P.O.Threads = int(ParseInteger(N, V, 1, 64)); }},
    };
    return options;
}

// An option given twice is refused rather than one of its values taken unseen.
void Once(TParse& P, const std::string& Name)
{
    if (!P.Given.insert(Name).second)
        Fail(Name + " is given twice");
}

void TakeRecording(TParse& P, const std::string& Arg)
{
    if (!P.O.Input.empty())
        Fail("only one recording can be exported at a time (\"" + P.O.Input + "\" and \"" + Arg +
             "\")");
    P.O.Input = Arg;
}

// "--name value" (I moves on to the value) or "--name=value".
void TakeValued(TParse& P, const std::vector<std::string>& Args, size_t& I)
{
    std::string name = Args[I];
    std::string value;
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
    }
    if (name == "--center-mhz")
        name = "--centre-mhz";
    const auto handler = ValuedOptions().find(name);
    if (handler == ValuedOptions().end())
        Fail("unknown option " + name + " (see --help)");
    if (name == "--band") // one per band
        P.Given.insert(name);
    else
        Once(P, name);
    if (eq == std::string::npos) {
        if (I + 1 >= Args.size())
            Fail(name + " needs a value");
        value = Args[++I];
    }
    handler->second(P, name, value);
}

// The centre in kHz, where the span fits around it.
void TakeCentre(TParse& P)
{
    if (!P.CentreMHz)
        return;
    const int half = 500 * P.O.Spectrum.SpanMHz;
    const double kHz = std::round(*P.CentreMHz * 1000.0);
    if (kHz < half || kHz > 40000 - half) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "--centre-mhz %g is out of range for a %d MHz span (%g .. %g)", *P.CentreMHz,
                      P.O.Spectrum.SpanMHz, half / 1000.0, (40000 - half) / 1000.0);
        Fail(text);
    }
    P.O.Spectrum.CentreKHz = static_cast<int>(kHz);
}

// Options that only mean something beside another one.
void CheckMeasurements(const TParse& P)
{
    const auto needs = [&P](const char* Option, const char* Needed) {
        if (P.Given.count(Option) != 0 && P.Given.count(Needed) == 0)
            Fail(std::string(Option) + " needs " + Needed + " FILE");
    };
    needs("--peak-count", "--peaks");
    needs("--peak-min-dbm", "--peaks");
    needs("--limits", "--events");
    needs("--events", "--limits");
    needs("--hold-off-s", "--limits");
    needs("--band", "--stats");
    needs("--bands", "--stats");
    needs("--occupancy-db", "--stats");
    if (!P.O.Stats.empty() && P.O.Bands.empty())
        Fail("--stats needs --band NAME=LOW:HIGH or --bands FILE");
}

// The file a name stands for, for telling whether two names are one file: an existing one by
// its device and inode (a link, another spelling), one still to be made by its folder's
// canonical path and its own name.
std::string FileKey(const std::string& Path)
{
    struct stat info
    {
    };
    if (::stat(Path.c_str(), &info) == 0)
        return "file " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    const size_t slash = Path.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? "." : Path.substr(0, std::max<size_t>(slash, 1));
    char* real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr)
        return "name " + Path;
    const std::string key = "name " + std::string(real) + "/" + Path.substr(slash + 1);
    std::free(real);
    return key;
}

// Two outputs that are one file would leave only the one renamed last, and an output over
// the limits file would replace it; names are compared as the files they stand for.
void CheckOutputFiles(const TExportOptions& O)
{
    struct TOutput
    {
        const char* Option;
        std::string Name, Key;
    };
    std::vector<TOutput> outputs;
    for (const auto& [option, name] : {std::pair{"--png", &O.Png},
                                       {"--csv", &O.Csv},
                                       {"--peaks", &O.Peaks},
                                       {"--events", &O.Events},
                                       {"--stats", &O.Stats}})
        if (!name->empty())
            outputs.push_back({option, *name, FileKey(*name)});
    const size_t sigmf = outputs.size();
    if (!O.Sigmf.empty())
        for (const std::string& name : {SigmfNames(O.Sigmf).Data, SigmfNames(O.Sigmf).Meta})
            outputs.push_back({"--sigmf", name, FileKey(name)});
    const std::string limits = O.Limits.empty() ? std::string() : FileKey(O.Limits);
    const std::string bands = O.BandsFile.empty() ? std::string() : FileKey(O.BandsFile);
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i].Key == limits)
            Fail(std::string(outputs[i].Option) + " names the limits file");
        if (outputs[i].Key == bands)
            Fail(std::string(outputs[i].Option) + " names the bands file");
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            if (outputs[i].Key != outputs[j].Key || (i >= sigmf && j >= sigmf))
                continue;
            if (j >= sigmf)
                Fail(std::string(outputs[i].Option) + " names a file that --sigmf writes (" +
                     outputs[i].Name + ")");
            Fail(std::string(outputs[i].Option) + " and " + outputs[j].Option +
                 " name the same file");
        }
    }
}

// What the options must make together.
void CheckTogether(TParse& P)
{
    const TExportOptions& o = P.O;
    if (o.Input.empty())
        Fail("no recording given (see --help)");
    CheckMeasurements(P);
    if (o.Png.empty() && o.Csv.empty() && o.Sigmf.empty() && o.Peaks.empty() && o.Events.empty() &&
        o.Stats.empty())
        Fail("nothing to do: give --png FILE, --csv FILE, --sigmf BASE, --peaks FILE, "
             "--stats FILE and/or --limits FILE --events FILE");
    CheckOutputFiles(o);
    TakeCentre(P);
    if (o.First && o.Last && *o.First > *o.Last)
        Fail("--first " + std::to_string(*o.First) + " lies after --last " +
             std::to_string(*o.Last));
    if (!(o.MinDbm < o.MaxDbm))
        Fail(std::string(P.MinGiven ? "--min-dbm" : "--max-dbm") +
             " leaves no level range: the minimum must lie below the maximum");
}

} // namespace

TExportOptions ParseExportArguments(const std::vector<std::string>& Args)
{
    TParse p;
    for (size_t i = 0; i < Args.size(); ++i) {
        const std::string& arg = Args[i];
        if (arg == "--help" || arg == "-h") {
            p.O.Help = true;
            return p.O;
        }
        if (arg == "--version") {
            p.O.Version = true;
            return p.O;
        }
        if (arg == "--quiet" || arg == "-q") {
            Once(p, "--quiet");
            p.O.Quiet = true;
        } else if (arg.size() < 2 || arg[0] != '-' || arg == "-") {
            TakeRecording(p, arg);
        } else {
            TakeValued(p, Args, i);
        }
    }
    CheckTogether(p);
    return p.O;
}

std::string ExportHelpText()
{
    return R"(Usage: quillex-export RECORDING.spk [--png FILE] [--csv FILE] [--sigmf BASE]
                      [--peaks FILE] [--limits LIMITS --events FILE]
                      [--stats FILE --band NAME=LOW:HIGH ...] [options]

Turns a recording of raw frames into a waterfall image, tables of levels, peaks and
band statistics and/or a list of limit episodes, with the same processing as the
analyzer window, and/or copies its frames into a SigMF recording for other
signal-processing tools.

Outputs (at least one, or one under Measurements):
  --png FILE            waterfall image: one pixel row per output row, newest at the
                        bottom, time axis on the left, frequency axis (MHz, with the
                        recording's offset) at the bottom, and a colour scale
  --csv FILE            levels in dBm, a line per row: time (ISO 8601, local time as
                        recorded), stamped (1 or 0), frame index, then one column per
                        bin of the span; the header holds each column's frequency in
                        MHz. Decimal point always "." (times: see below)
  --sigmf BASE          the frames' raw samples as a SigMF recording: BASE.sigmf-data
                        (little-endian 16-bit real samples at 80 MHz, ri16_le, 8192 a
                        frame) and BASE.sigmf-meta (JSON: a capture per frame, with its
                        stamp as UTC by this machine's time zone; the header's offsets
                        and inversion under "quillex:"). Takes only --first and --last;
                        the spectrum options concern --png and --csv

Processing (the window's names, ranges and defaults):
  --fft-exponent 8..12  N = 2^exponent bins (default 11)
  --window NAME         rect, hann, hamming or blackman (default hann)
  --average 1..64       running average over frames (default 1)
  --span-mhz 5|10|20|40 span shown (default 40)
  --centre-mhz F        centre of the span in MHz, without the offset (default 20)
  --inverted yes|no     mirror the spectrum (default: as the recording's header says)

Rows:
  --first K, --last K   first and last frame (record index in the file; default: all)
  --fold N              N consecutive frames make one output row (default 1; for --png
                        the smallest N that keeps the image at most 16384 rows)
  --fold-mode max|mean  each bin's maximum (default), or the dBm of the mean magnitude

Image:
  --min-dbm L, --max-dbm L  levels shown black and red (default -120 and -80, the
                        window's level bars); the scale's labels add the level offset

Measurements (outputs too, with the window's markers and limit alarms):
  --peaks FILE          peak table: per row its strongest peaks inside the span,
                        strongest first, a line each: time,stamped,frame (as in the
                        level table),rank,MHz,dBm. MHz: the interpolated frequency with
                        the recording's offset (mirrored when the spectrum is), six
                        decimals; dBm: the interpolated level (scalloping removed),
                        without the level offset, two decimals
  --peak-count N        at most N peaks per row (1..100, default 5)
  --peak-min-dbm L      only peaks at or above L dBm (default: --min-dbm's value)
  --limits FILE         limits to check every frame against (no folding), over the
                        whole spectrum: CSV "MHz,upper_dBm,lower_dBm", levels as
                        displayed (with the level offset), as the window saves them
  --events FILE         where the limit episodes go, a line each, as the window's
                        event log: start,end,first_frame,last_frame,kind,MHz,dBm,
                        excess_dB (needs --limits, and --limits needs it)
  --hold-off-s S        an episode ends when S seconds pass without a frame beyond
                        its limit (default 1; frame times as in the level table)
  --stats FILE          band statistics: per row a line for each band:
                        time,stamped,frame (as in the level table),band,low_MHz,
                        high_MHz,power_dBm,noise_dBm_Hz,occupancy_pct,obw_kHz,
                        peak_MHz,peak_dBm: the channel power, the noise density,
                        the share of (bin, frame) cells above the noise by
                        --occupancy-db, the width holding 99 % of the power and the
                        strongest peak (empty when none). Taken over the row's frames
                        before averaging, in power, whatever --average, --fold-mode
                        and the span; levels without the level offset
  --band NAME=LOW:HIGH  a band for --stats, its edges in MHz as displayed (with the
                        recording's offset, mirrored with the spectrum), at least a
                        bin wide and inside the spectrum; once for each band
  --bands FILE          bands for --stats from FILE, a line name,low_MHz,high_MHz each
  --occupancy-db D      cells D dB above the noise count as occupied (0..100,
                        default 10)

Other:
  --threads N           transform threads (default: one per core)
  --quiet               no progress and no notes on stderr
  --help                this text
  --version             the program's name and version

Times in the table: a frame that carries a stamp (the recorder stamps about one frame a
second) has its own; between two stamped frames the time runs linearly with the frame
index; before the first and after the last stamp it goes on at the pace of the nearest
two. A row's time is that of its first frame, the one in the frame column; stamped is 1
when that frame carries the time as its stamp, 0 when the time is derived (with --fold
also when only a later frame of the row carries a stamp). A recording with fewer than two
stamps leaves the time empty (with one, all rows but the stamped frame's); its limit
episodes have no times either, and need --hold-off-s 0.

Each option but --band may be given once. A file without a header whose stamps are not
all 0 or dates from 1990 to 2100 is probably no recording: a warning names the first
such record.
Progress (percentage, frames per second, time left) goes to stderr when it is a terminal.
Outputs are written under a temporary name and renamed when complete, so a failed run
leaves no partial file.

Exit codes:
  0  success
  1  unexpected failure (e.g. out of memory)
  2  bad command line: unknown option, an option given twice,
     missing or out-of-range value, a band outside the spectrum or
     narrower than a bin, a bands file that cannot be read
  3  the recording cannot be opened or read
  4  not a usable recording: shorter than one record, corrupt header, no frames
  5  an output file cannot be written
  6  the limits file cannot be read or is no limits file (the message names the line)
  130 interrupted
)";
}

} // namespace quillex
