// The exporter end to end: a small recording built from the input (a header or none, a few
// frames, sometimes a cut last record) is exported with options drawn from the input, parsed
// and run as the program does, into a scratch folder. The exit code must be the one the
// recording and the options call for. A successful run leaves exactly the outputs asked for:
// a table with one row per fold of frames, each with its frame, stamp flag and time, and every
// level finite, no lower than the floor and no higher than a 16-bit frame can reach; an image
// that a PNG decoder reads; the SigMF samples byte for byte; a peak table of ranked peaks
// inside the span; an events file of well-formed episodes. A failed run leaves no file.
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define QUILLEX_LEAK_CHECKS 1
#endif
#endif

#include "ExportError.h"
#include "ExportOptions.h"
#include "ExportRun.h"
#include "FuzzSupport.h"
#include "SpkFile.h"
#include "WaterfallArea.h"

using namespace quillex;

namespace {

// The recording's format: records of an 8-byte stamp and 8192 16-bit samples.
constexpr size_t RecordBytes = FrameRecordSize, StampSize = StampBytes,
                 BlockBytes = SampleBlockBytes;
// Exit codes, as --help lists them.
constexpr int Success = 0, Usage = 2, InputFormat = 4, LimitsFile = 6;
// Levels: 20 log10(m / 16384 + 1e-9) dBm. Silence gives the floor; the loudest bin of a
// frame, full-scale samples doubled (65536) through any window brought to Hann's gain (its
// coefficients' mean just under 1/2) with the FFT's 1/N over 2N samples, is 65536, so
// 20 log10(4).
constexpr double FloorDbm = -180.0;
const double LoudestDbm = 20.0 * std::log10(4.0);
constexpr double LevelSlack = 0.01; // the fast logarithm's error and float rounding
// A frame stamp is a day count from 1899-12-30 that is positive and before the year 10000.
constexpr double Year10000 = 2958466.0;

bool IsStamp(double Stamp)
{
    return Stamp > 0.0 && Stamp < Year10000;
}

// The input read from the front, then choices drawn from its hash: a short input still
// makes a whole recording and command, and the fuzzer's changes to its bytes stay where
// they were made.
class TInputBytes
{
public:
    TInputBytes(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size), FMore(Data, Size) {}
    uint8_t Byte() { return FPos < FSize ? FData[FPos++] : uint8_t(FMore.Next()); }
    uint32_t Word() { return Byte() | (uint32_t(Byte()) << 8); }
    bool Flag() { return Byte() & 1; }
    // 0 .. Bound - 1, from a byte when it takes one.
    uint32_t Below(uint32_t Bound) { return (Bound <= 256 ? Byte() : Word()) % Bound; }
    template <typename T, size_t N> T Pick(const T (&Items)[N]) { return Items[Below(N)]; }
    double Raw()
    {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= uint64_t(Byte()) << (8 * i);
        return std::bit_cast<double>(bits);
    }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FPos = 0;
    TChoices FMore;
};

// ---- The command line ----

struct TCommand
{
    std::vector<std::string> Args;
    bool Png = false, Csv = false, Sigmf = false;
    int Exponent = 11, SpanMHz = 40;
    std::optional<int> CentreKHz;
    std::optional<int64_t> First, Last, Fold;
    int MinDbm = -120, MaxDbm = -80;
    bool Quiet = false, Progress = false;
    // The measurements.
    bool Peaks = false, Events = false;
    std::optional<int> PeakCount, PeakMinDbm;
    std::optional<std::string> LimitsText; // none: no such file
    bool LimitsValid = false;
    double HoldOffS = 1.0;
    bool MeasureUsage = false; // a measurement option out of range or without its own
};

const char* const Recording = "in.spk";
const char* const LimitsName = "limits.csv";

// Options as a user types them: "--name value" or "--name=value".
void Add(TCommand& C, TInputBytes& In, const std::string& Name, const std::string& Value)
{
    if (In.Flag())
        C.Args.push_back(Name + "=" + Value);
    else
        C.Args.insert(C.Args.end(), {Name, Value});
}

// The centre anywhere, or at an end of the centres that the span leaves; whole megahertz
// written with or without decimals.
void DrawCentre(TCommand& C, TInputBytes& In)
{
    const int half = 500 * C.SpanMHz;
    const int ends[] = {half - 1, half, 40000 - half, 40000 - half + 1};
    const int kHz = In.Flag() ? int(In.Below(40001)) : In.Pick(ends);
    C.CentreKHz = kHz;
    char text[32];
    if (kHz % 1000 == 0 && In.Flag())
        std::snprintf(text, sizeof text, "%d", kHz / 1000);
    else
        std::snprintf(text, sizeof text, "%d.%03d", kHz / 1000, kHz % 1000);
    Add(C, In, In.Flag() ? "--centre-mhz" : "--center-mhz", text);
}

// The options in the order the input's bytes are taken (a seed's meaning depends on it): the
// outputs, how frames become spectra, which frames make rows and how, how rows look, how the
// program runs. An option the exporter gains joins its group, its effect checked beside the
// others' in CheckSuccess; the measurements come after the recording (DrawMeasurements).
TCommand DrawCommand(TInputBytes& In, const TScratchFolder& Folder)
{
    TCommand c;
    const uint32_t outputs = 1 + In.Below(7);
    c.Png = outputs & 1;
    c.Csv = outputs & 2;
    c.Sigmf = outputs & 4;
    const bool inputFirst = In.Flag();
    if (inputFirst)
        c.Args.push_back(Folder.PathOf(Recording));
    for (const auto& [wanted, option, name] : {std::tuple{c.Png, "--png", "out.png"},
                                               {c.Csv, "--csv", "out.csv"},
                                               {c.Sigmf, "--sigmf", "out"}})
        if (wanted)
            Add(c, In, option, Folder.PathOf(name));

    // Mostly small transforms, so that an input takes a few milliseconds.
    if (In.Below(8) != 0) {
        static const int exponents[] = {8, 8, 8, 9, 9, 10, 11, 12};
        c.Exponent = In.Pick(exponents);
        Add(c, In, "--fft-exponent", std::to_string(c.Exponent));
    }
    if (In.Flag()) {
        static const char* const windows[] = {"rect", "hann", "hamming", "blackman"};
        Add(c, In, "--window", In.Pick(windows));
    }
    if (In.Flag()) {
        static const int averages[] = {1, 2, 3, 8, 64};
        Add(c, In, "--average", std::to_string(In.Pick(averages)));
    }
    if (In.Flag()) {
        static const int spans[] = {5, 10, 20, 40};
        c.SpanMHz = In.Pick(spans);
        Add(c, In, "--span-mhz", std::to_string(c.SpanMHz));
    }
    if (In.Below(3) == 0)
        DrawCentre(c, In);

    if (In.Below(3) == 0) {
        c.First = In.Below(6);
        Add(c, In, "--first", std::to_string(*c.First));
    }
    if (In.Below(3) == 0) {
        c.Last = In.Below(6);
        Add(c, In, "--last", std::to_string(*c.Last));
    }
    if (const uint32_t fold = In.Below(6); fold >= 3) {
        c.Fold = fold == 3 ? 1 + In.Below(4) : fold == 4 ? 2 : 100'000'000;
        Add(c, In, "--fold", std::to_string(*c.Fold));
    }
    if (const uint32_t mode = In.Below(3))
        Add(c, In, "--fold-mode", mode == 1 ? "max" : "mean");

    if (const uint32_t inverted = In.Below(3))
        Add(c, In, "--inverted", inverted == 1 ? "yes" : "no");
    for (const auto& [level, option] :
         {std::pair{&c.MinDbm, "--min-dbm"}, {&c.MaxDbm, "--max-dbm"}})
        if (In.Below(4) == 0) {
            *level = -200 + int(In.Below(301));
            Add(c, In, option, std::to_string(*level));
        }

    if (In.Below(3) != 0)
        Add(c, In, "--threads", std::to_string(1 + In.Below(2)));
    c.Quiet = In.Flag();
    if (c.Quiet)
        c.Args.push_back(In.Flag() ? "-q" : "--quiet");
    c.Progress = In.Flag();
    if (!inputFirst)
        c.Args.push_back(Folder.PathOf(Recording));
    return c;
}

// The text of a limits file: a header (with a byte order mark, CRLF or blank lines at
// times) and a few points with rising frequencies, either level missing at times; or a
// file that is none.
std::optional<std::string> DrawLimitsText(TInputBytes& In, bool& Valid)
{
    Valid = false;
    static const char* const none[] = {nullptr,
                                       "",
                                       "MHz,upper,lower\n5,-40,\n",
                                       "MHz,upper_dBm,lower_dBm\n5,-40,\n5,-30,\n",
                                       "MHz,upper_dBm,lower_dBm\n5,-40\n",
                                       "MHz,upper_dBm,lower_dBm\n5,nan,\n"};
    if (const uint32_t kind = In.Below(16); kind < std::size(none))
        return none[kind] ? std::optional<std::string>(none[kind]) : std::nullopt;
    const std::string eol = In.Flag() ? "\r\n" : "\n";
    std::string text = In.Flag() ? "\xEF\xBB\xBF" : "";
    text += "MHz,upper_dBm,lower_dBm" + eol;
    char number[16];
    double mhz = -1.0 + In.Below(4200) / 100.0;
    for (uint32_t p = 0, points = 1 + In.Below(4); p < points; ++p) {
        std::snprintf(number, sizeof number, "%.2f", mhz);
        text += number;
        for (int level = 0; level < 2; ++level) { // a field of its own, empty at times
            text += ',';
            if (In.Below(3) == 0)
                continue;
            std::snprintf(number, sizeof number, "%.1f", -200.0 + In.Below(3001) / 10.0);
            text += number;
        }
        text += eol;
        if (In.Below(4) == 0)
            text += eol;
        mhz += 0.01 + In.Below(2000) / 100.0;
    }
    // Any byte made a letter leaves no limits file: no header, a field that is no number
    // or a line of the wrong number of fields.
    if (In.Below(8) == 0)
        text[In.Below(uint32_t(text.size()))] = 'x';
    else
        Valid = true;
    return text;
}

// Drawn after the recording, so that the seeds from before these options keep their
// recording and the rest of their command. The peak table, sometimes its options without
// it, which they need; the limit scan (--limits and --events), or one without the other.
void DrawMeasurements(TCommand& C, TInputBytes& In, const TScratchFolder& Folder)
{
    C.Peaks = In.Below(3) == 0;
    if (C.Peaks)
        Add(C, In, "--peaks", Folder.PathOf("peaks.csv"));
    if (In.Below(C.Peaks ? 2 : 32) == 0) {
        static const int counts[] = {1, 2, 3, 4, 5, 8, 20, 100, 0, 101};
        C.PeakCount = In.Pick(counts);
        C.MeasureUsage |= !C.Peaks || *C.PeakCount < 1 || *C.PeakCount > 100;
        Add(C, In, "--peak-count", std::to_string(*C.PeakCount));
    }
    if (In.Below(C.Peaks ? 2 : 32) == 0) {
        C.PeakMinDbm = -200 + int(In.Below(301));
        C.MeasureUsage |= !C.Peaks;
        Add(C, In, "--peak-min-dbm", std::to_string(*C.PeakMinDbm));
    }

    const uint32_t scan = In.Below(24);
    const bool limits = scan <= 8;
    C.Events = scan < 8 || scan == 9;
    C.MeasureUsage |= limits != C.Events;
    if (limits)
        Add(C, In, "--limits", Folder.PathOf(LimitsName));
    if (C.Events)
        Add(C, In, "--events", Folder.PathOf("events.csv"));
    if (In.Below(limits ? 2 : 32) == 0) {
        static const char* const holdOffs[] = {"0", "0", "0.05", "1", "2.5", "86400", "-1"};
        const char* text = In.Pick(holdOffs);
        C.HoldOffS = std::strtod(text, nullptr);
        C.MeasureUsage |= !limits || C.HoldOffS < 0;
        Add(C, In, "--hold-off-s", text);
    }
    if (limits)
        C.LimitsText = DrawLimitsText(In, C.LimitsValid);
}

// ---- The recording ----

enum class THeader { None, Valid, Corrupt };

struct TRecording
{
    THeader Header = THeader::None;
    double FreqOffsetMHz = 0; // as a reader takes it: without the inversion's sign
    std::vector<uint8_t> Bytes;
    // Per whole record (a header's entries unused): its stamp, and whether its samples are
    // all zero.
    std::vector<double> Stamps;
    std::vector<bool> Silent;
    int64_t FirstFrame = 0, LastFrame = -1;
};

// The header record: "Offsets:", the frequency offset as "%12.3f" (negated when inverted),
// the level offset as "%8.1f", zeros; a comma for a decimal point on some machines.
void AppendHeader(TRecording& R, TInputBytes& In)
{
    const double freq = In.Word() / 8.0;
    const double level = int16_t(In.Word()) / 10.0;
    const bool inverted = In.Flag() && freq > 0;
    char text[64];
    std::snprintf(text, sizeof text, "Offsets:%12.3f%8.1f", inverted ? -freq : freq, level);
    if (In.Flag())
        std::replace(std::begin(text), std::end(text), '.', ',');
    std::vector<uint8_t> record(RecordBytes, 0);
    std::memcpy(record.data(), text, std::strlen(text));
    // No offset text holds a letter.
    if (R.Header == THeader::Corrupt)
        record[8 + In.Below(20)] = 'x';
    R.FreqOffsetMHz = freq;
    R.Bytes.insert(R.Bytes.end(), record.begin(), record.end());
    R.Stamps.push_back(0.0);
    R.Silent.push_back(false);
}

double DrawStamp(TInputBytes& In, int64_t Frame)
{
    using TLimits = std::numeric_limits<double>;
    static const double edges[] = {1e-300,
                                   Year10000 - 1e-6,
                                   Year10000,
                                   1.0,
                                   -1.0,
                                   TLimits::quiet_NaN(),
                                   TLimits::infinity(),
                                   1e308,
                                   TLimits::denorm_min()};
    switch (In.Below(6)) {
    case 1: // a day in 2023, seconds apart (or running back)
        return 45000.5 + double(int8_t(In.Byte())) * double(Frame) / 86400.0;
    case 2:
        return In.Raw();
    case 3:
        return In.Pick(edges);
    default:
        return 0.0;
    }
}

void DrawSamples(TInputBytes& In, int16_t* Block)
{
    switch (In.Below(5)) {
    case 1: { // full scale: the largest, the smallest, or both in turn
        const uint32_t kind = In.Below(3);
        for (int i = 0; i < SampleBlockSamples; ++i)
            Block[i] = kind == 0 || (kind == 2 && i % 2 == 0) ? int16_t(32767) : int16_t(-32768);
        break;
    }
    case 2: { // a tone
        const double amplitude = In.Word() / 2.0;
        const double cycles = In.Below(4096) + In.Byte() / 256.0;
        for (int i = 0; i < SampleBlockSamples; ++i)
            Block[i] = int16_t(std::lround(
                amplitude * std::sin(2 * std::numbers::pi * cycles * i / SampleBlockSamples)));
        break;
    }
    case 3: { // noise of some bits
        TChoices noise(In.Word());
        const uint16_t mask = uint16_t((1u << In.Below(17)) - 1);
        for (int i = 0; i < SampleBlockSamples; ++i)
            Block[i] = int16_t(uint16_t(noise.Next()) & mask);
        break;
    }
    case 4: { // a few bytes of the input over and over
        uint8_t pattern[32];
        const size_t length = 1 + In.Below(32);
        for (size_t i = 0; i < length; ++i)
            pattern[i] = In.Byte();
        auto* bytes = reinterpret_cast<uint8_t*>(Block);
        for (size_t i = 0; i < BlockBytes; ++i)
            bytes[i] = pattern[i % length];
        break;
    }
    default:
        std::memset(Block, 0, BlockBytes);
        break;
    }
}

TRecording DrawRecording(TInputBytes& In)
{
    TRecording r;
    const uint32_t header = In.Below(5);
    r.Header = header < 2 ? THeader::None : header < 4 ? THeader::Valid : THeader::Corrupt;
    if (r.Header != THeader::None)
        AppendHeader(r, In);
    const int frames = int(In.Below(5));
    const bool cut = In.Below(4) == 0;
    static std::vector<int16_t> block(SampleBlockSamples);
    static std::vector<uint8_t> record(RecordBytes);
    for (int f = 0; f < frames + int(cut); ++f) {
        const int64_t index = int64_t(r.Stamps.size());
        double stamp = DrawStamp(In, index);
        DrawSamples(In, block.data());
        EncodeDataRecord(stamp, block.data(), record.data());
        // A recording without a header whose first stamp reads "Offsets:" would have one.
        if (index == 0 && std::memcmp(record.data(), "Offsets:", 8) == 0) {
            stamp = 0.0;
            std::memset(record.data(), 0, StampSize);
        }
        size_t length = RecordBytes;
        if (f == frames) {
            length = 1 + In.Below(RecordBytes - 1);
        } else {
            r.Stamps.push_back(stamp);
            r.Silent.push_back(
                std::all_of(block.begin(), block.end(), [](int16_t v) { return v == 0; }));
        }
        r.Bytes.insert(r.Bytes.end(), record.begin(), record.begin() + ptrdiff_t(length));
    }
    r.FirstFrame = r.Header == THeader::None ? 0 : 1;
    r.LastFrame = int64_t(r.Stamps.size()) - 1;
    return r;
}

// ---- What must come out ----

int Stamps(const TRecording& R)
{
    int stamps = 0;
    for (int64_t f = R.FirstFrame; f <= R.LastFrame; ++f)
        stamps += IsStamp(R.Stamps[size_t(f)]);
    return stamps;
}

// Every frame has a time with two stamps in the recording, or a stamp on its only frame.
bool FramesTimed(const TRecording& R)
{
    const int stamps = Stamps(R);
    return stamps >= 2 || (stamps == 1 && R.FirstFrame == R.LastFrame);
}

// The exit code the options and the recording call for.
int ExpectedExit(const TCommand& C, const TRecording& R)
{
    if (C.MeasureUsage)
        return Usage;
    const int half = 500 * C.SpanMHz;
    if (C.CentreKHz && (*C.CentreKHz < half || *C.CentreKHz > 40000 - half))
        return Usage;
    if ((C.First && C.Last && *C.First > *C.Last) || !(C.MinDbm < C.MaxDbm))
        return Usage;
    if (R.Bytes.size() < RecordBytes || R.Header == THeader::Corrupt || R.LastFrame < R.FirstFrame)
        return InputFormat;
    for (const auto& frame : {C.First, C.Last})
        if (frame && (*frame < R.FirstFrame || *frame > R.LastFrame))
            return Usage;
    if (C.First.value_or(R.FirstFrame) > C.Last.value_or(R.LastFrame))
        return Usage;
    if (C.Events && !C.LimitsValid)
        return LimitsFile;
    if (C.Events && C.HoldOffS > 0 && !FramesTimed(R))
        return InputFormat;
    return Success;
}

struct TExpectedRows
{
    int64_t First = 0, Last = 0, Fold = 1;
    int64_t Count() const { return (Last - First + 1 + Fold - 1) / Fold; }
};

size_t SpanColumns(const TCommand& C)
{
    return size_t(1 << C.Exponent) / size_t(40 / C.SpanMHz);
}

// The span's first bin: the one nearest to the view's start (ties to even), kept inside the
// spectrum.
double SpanFirst(const TCommand& C)
{
    const int n = 1 << C.Exponent;
    const int centre = C.CentreKHz.value_or(20000);
    const double start = std::nearbyint(double(centre - 500 * C.SpanMHz) / 40000.0 * n);
    return std::clamp(start, 0.0, double(n - int(SpanColumns(C))));
}

// A number as the program writes it, the whole text; with Decimals, exactly that many.
std::optional<double> ParseNumber(const std::string& Text, int Decimals = -1)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (ec != std::errc() || end != Text.data() + Text.size() || !std::isfinite(value))
        return std::nullopt;
    const size_t point = Text.find('.');
    if (Decimals >= 0 &&
        (point == std::string::npos || Text.size() - point - 1 != size_t(Decimals)))
        return std::nullopt;
    return value;
}

int64_t ParseFrame(const std::string& Text)
{
    int64_t frame = -1;
    std::from_chars(Text.data(), Text.data() + Text.size(), frame);
    return frame;
}

// A row's time, stamp flag and first frame, as the level table and the peak table show
// them: with no stamp no frame has a time; with one, only the stamped frame.
void CheckRowStart(const std::vector<std::string>& Fields, const TRecording& R, int64_t Frame)
{
    FUZZ_CHECK(Fields[2] == std::to_string(Frame), "a row's first frame");
    const bool stamped = IsStamp(R.Stamps[size_t(Frame)]);
    FUZZ_CHECK(Fields[1] == (stamped ? "1" : "0"), "a row's stamp flag");
    const int stamps = Stamps(R);
    const bool timed = stamps >= 2 || (stamps == 1 && stamped);
    FUZZ_CHECK(Fields[0].empty() != timed, "a row's time");
}

// The header's frequencies are the span's N / (40 / span) bins from its first, each
// offset + bin * 40 / N MHz; a row per fold of frames.
void CheckTable(const std::string& Path, const TCommand& C, const TRecording& R,
                const TExpectedRows& Rows)
{
    const auto lines = ReadCsvFile(Path);
    FUZZ_CHECK(int64_t(lines.size()) == 1 + Rows.Count(), "a table row per fold of frames");
    const size_t columns = SpanColumns(C);
    const std::vector<std::string>& header = lines[0];
    FUZZ_CHECK(header.size() == 3 + columns && header[0] == "time" && header[1] == "stamped" &&
                   header[2] == "frame",
               "table header");
    for (size_t j = 0; j < columns; ++j) {
        const std::optional<double> mhz = ParseNumber(header[3 + j]);
        const double expected =
            R.FreqOffsetMHz + (SpanFirst(C) + double(j)) * 40.0 / (1 << C.Exponent);
        FUZZ_CHECK(mhz && std::fabs(*mhz - expected) < 1e-8, "column frequency");
    }

    bool silent = true; // every frame so far, from the first exported
    for (int64_t i = 0; i < Rows.Count(); ++i) {
        const std::vector<std::string>& fields = lines[size_t(1 + i)];
        FUZZ_CHECK(fields.size() == 3 + columns, "fields of a row");
        const int64_t frame = Rows.First + i * Rows.Fold;
        CheckRowStart(fields, R, frame);
        for (int64_t f = frame; f < std::min(frame + Rows.Fold, Rows.Last + 1); ++f)
            silent = silent && R.Silent[size_t(f)];
        for (size_t j = 0; j < columns; ++j) {
            const std::optional<double> level = ParseNumber(fields[3 + j]);
            FUZZ_CHECK(level && *level >= FloorDbm - LevelSlack &&
                           *level <= LoudestDbm + LevelSlack,
                       "a finite level between the floor and full scale");
            FUZZ_CHECK(!silent || std::fabs(*level - FloorDbm) <= LevelSlack,
                       "silence at the floor");
        }
    }
}

// Per row its strongest peaks, ranked from 1, strongest first, no more than asked for and
// none below the level asked for, each inside the span (its interpolated frequency up to half
// a bin beyond it); none while every frame so far is silent.
void CheckPeaks(const std::string& Path, const TCommand& C, const TRecording& R,
                const TExpectedRows& Rows)
{
    const auto lines = ReadCsvFile(Path);
    FUZZ_CHECK(!lines.empty() && lines[0] == SplitCsv("time,stamped,frame,rank,MHz,dBm"),
               "peak table header");
    const double binMHz = 40.0 / (1 << C.Exponent);
    const double lowMHz = R.FreqOffsetMHz + (SpanFirst(C) - 0.5) * binMHz - 1e-6;
    const double highMHz = lowMHz + double(SpanColumns(C)) * binMHz + 2e-6;
    const double minDbm = C.PeakMinDbm.value_or(C.MinDbm) - 0.005 - 1e-6;
    int64_t silentTo = Rows.First; // the frames before it are silent
    while (silentTo <= Rows.Last && R.Silent[size_t(silentTo)])
        ++silentTo;
    int64_t previous = -1;
    int rank = 0;
    double previousDbm = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string>& fields = lines[i];
        FUZZ_CHECK(fields.size() == 6, "fields of a peak");
        const int64_t frame = ParseFrame(fields[2]);
        FUZZ_CHECK(frame >= std::max(previous, Rows.First) && frame <= Rows.Last &&
                       (frame - Rows.First) % Rows.Fold == 0,
                   "peaks of the rows in order");
        CheckRowStart(fields, R, frame);
        FUZZ_CHECK(std::min(frame + Rows.Fold, Rows.Last + 1) > silentTo, "no peak in silence");
        rank = frame == previous ? rank + 1 : 1;
        FUZZ_CHECK(fields[3] == std::to_string(rank) && rank <= C.PeakCount.value_or(5),
                   "ranks from 1, as many as asked for");
        const std::optional<double> mhz = ParseNumber(fields[4], 6);
        FUZZ_CHECK(mhz && *mhz >= lowMHz && *mhz <= highMHz, "a peak's frequency in the span");
        const std::optional<double> dbm = ParseNumber(fields[5], 2);
        FUZZ_CHECK(dbm && *dbm >= minDbm, "a peak's level, at least the least asked for");
        FUZZ_CHECK(rank == 1 || *dbm <= previousDbm, "the strongest first");
        previous = frame;
        previousDbm = *dbm;
    }
}

// The window's event log: an episode a line, its frames among those exported (every frame
// checked, whatever the fold), its times when the frames have any, its kind, its worst
// point and a positive excess.
void CheckEvents(const std::string& Path, const TRecording& R, const TExpectedRows& Rows)
{
    const auto lines = ReadCsvFile(Path);
    FUZZ_CHECK(!lines.empty() &&
                   lines[0] == SplitCsv("start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB"),
               "events header");
    const bool timed = FramesTimed(R);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string>& fields = lines[i];
        FUZZ_CHECK(fields.size() == 8, "fields of an episode");
        FUZZ_CHECK(fields[0].empty() != timed && fields[1].empty() != timed, "an episode's times");
        const int64_t first = ParseFrame(fields[2]), last = ParseFrame(fields[3]);
        FUZZ_CHECK(Rows.First <= first && first <= last && last <= Rows.Last,
                   "an episode's frames among those exported");
        FUZZ_CHECK(fields[4] == "upper" || fields[4] == "lower", "an episode's kind");
        const std::optional<double> excess = ParseNumber(fields[7], 2);
        FUZZ_CHECK(ParseNumber(fields[5], 6) && ParseNumber(fields[6], 2) && excess &&
                       *excess >= 0.0,
                   "an episode's worst point");
    }
}

std::string ReadFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    FUZZ_CHECK(in.good(), Path.c_str());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void CheckSigmf(const TScratchFolder& Folder, const TRecording& R, const TExpectedRows& Rows)
{
    const std::string data = ReadFile(Folder.PathOf("out.sigmf-data"));
    const int64_t frames = Rows.Last - Rows.First + 1;
    FUZZ_CHECK(int64_t(data.size()) == frames * int64_t(BlockBytes), "SigMF data size");
    for (int64_t f = 0; f < frames; ++f)
        FUZZ_CHECK(std::memcmp(data.data() + f * BlockBytes,
                               R.Bytes.data() + (Rows.First + f) * RecordBytes + StampSize,
                               BlockBytes) == 0,
                   "SigMF samples as recorded");
    const std::string meta = ReadFile(Folder.PathOf("out.sigmf-meta"));
    int64_t captures = 0;
    for (size_t at = meta.find("\"core:sample_start\""); at != std::string::npos;
         at = meta.find("\"core:sample_start\"", at + 1))
        ++captures;
    FUZZ_CHECK(captures == frames, "a SigMF capture per frame");
}

// The files the run is given, sorted: the recording and the limits file.
std::vector<std::string> Inputs(const TCommand& C)
{
    std::vector<std::string> names{Recording};
    if (C.LimitsText)
        names.push_back(LimitsName);
    return names;
}

void CheckFailure(const TScratchFolder& Folder, const TCommand& C, bool Parsed,
                  const std::string& Err)
{
    FUZZ_CHECK(Folder.Files() == Inputs(C), "a failed export leaves no file");
    if (!Parsed) // the program says a bad command line itself
        return;
    // The last line says why; a quiet failure says nothing else.
    const size_t before = Err.find_last_of('\n', Err.size() - 2); // the end of the line before
    FUZZ_CHECK(Err.compare(before + 1, 16, "quillex-export: ") == 0, "a failure says why");
    FUZZ_CHECK(!C.Quiet || before == std::string::npos, "a quiet failure is one line");
}

void CheckSuccess(const TScratchFolder& Folder, const TCommand& C, const TRecording& R,
                  const std::string& Err)
{
    std::vector<std::string> expected = Inputs(C);
    for (const auto& [wanted, name] : {std::pair{C.Peaks, "peaks.csv"},
                                       {C.Events, "events.csv"},
                                       {C.Png, "out.png"},
                                       {C.Csv, "out.csv"},
                                       {C.Sigmf, "out.sigmf-data"},
                                       {C.Sigmf, "out.sigmf-meta"}})
        if (wanted)
            expected.push_back(name);
    std::sort(expected.begin(), expected.end());
    FUZZ_CHECK(Folder.Files() == expected, "exactly the outputs asked for");
    FUZZ_CHECK(!C.Quiet || Err.empty(), "nothing on stderr when quiet");

    TExpectedRows rows;
    rows.First = C.First.value_or(R.FirstFrame);
    rows.Last = C.Last.value_or(R.LastFrame);
    // An image is folded by default to at most 16384 rows.
    const int64_t frames = rows.Last - rows.First + 1;
    rows.Fold = C.Fold.value_or(C.Png ? std::max<int64_t>(1, (frames + 16383) / 16384) : 1);
    if (C.Csv)
        CheckTable(Folder.PathOf("out.csv"), C, R, rows);
    if (C.Png) {
        const QImage image(QString::fromStdString(Folder.PathOf("out.png")), "PNG");
        FUZZ_CHECK(!image.isNull(), "a PNG that a decoder reads");
        FUZZ_CHECK(WaterfallArea(image, int(SpanColumns(C))).height() == rows.Count(),
                   "an image row per output row");
    }
    if (C.Sigmf)
        CheckSigmf(Folder, R, rows);
    if (C.Peaks)
        CheckPeaks(Folder.PathOf("peaks.csv"), C, R, rows);
    if (C.Events)
        CheckEvents(Folder.PathOf("events.csv"), R, rows);
}

void QuietQt(QtMsgType, const QMessageLogContext&, const QString&) {}

// The program's GUI, made on the first image and kept for every later one (it cannot be
// ended before the process: the fuzzer never returns). Fontconfig's configuration, loaded
// with the font database, holds memory the leak checker finds unreferenced while it lives
// (the suite's programs, which end their GUI, see no leak), so loading it is left out of the
// check; what the exports allocate afterwards is checked.
void StartGui()
{
    static QGuiApplication* app = nullptr;
    if (app != nullptr)
        return;
#if QUILLEX_LEAK_CHECKS
    __lsan::ScopedDisabler unchecked;
#endif
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQt);
    static int argc = 1;
    static char name[] = "fuzz_export";
    static char* argv[] = {name, nullptr};
    app = new QGuiApplication(argc, argv);
    QFontDatabase::families();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    static TScratchFolder folder;
    folder.Clear();
    TInputBytes in(Data, Size);
    TCommand command = DrawCommand(in, folder);
    const TRecording recording = DrawRecording(in);
    DrawMeasurements(command, in, folder);
    folder.Put(Recording, recording.Bytes.data(), recording.Bytes.size());
    if (command.LimitsText)
        folder.Put(LimitsName, command.LimitsText->data(), command.LimitsText->size());

    std::ostringstream err;
    int code = -1;
    bool parsed = false;
    try {
        const TExportOptions options = ParseExportArguments(command.Args);
        parsed = true;
        code = RunExport(options, err, command.Progress, StartGui);
    } catch (const TExportError& e) {
        code = int(e.Code());
    }
    FUZZ_CHECK(code == ExpectedExit(command, recording), "exit code");
    if (code == Success)
        CheckSuccess(folder, command, recording, err.str());
    else
        CheckFailure(folder, command, parsed, err.str());
    return 0;
}
