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

using namespace quillex;

namespace {

// The recording's format: records of an 8-byte stamp and 8192 16-bit samples.
constexpr size_t RecordBytes = 16392;
constexpr size_t StampSize = 8;
constexpr size_t BlockBytes = RecordBytes - StampSize;
constexpr int BlockSamples = 8192;
// Exit codes, as --help lists them.
constexpr int Success = 0;
constexpr int Usage = 2;
constexpr int InputFormat = 4;
constexpr int LimitsFile = 6;
// Levels: 20 log10(m / 16384 + 1e-9) dBm. Silence gives the floor; the loudest bin of a
// frame, full-scale samples doubled (65536) through a window of at most 1 with the FFT's
// 1/N over 2N samples, is 131072, so 20 log10(8).
constexpr double FloorDbm = -180.0;
const double LoudestDbm = 20.0 * std::log10(8.0);
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
    int Exponent = 11;
    int SpanMHz = 40;
    std::optional<int> CentreKHz;
    std::optional<int64_t> First, Last, Fold;
    int MinDbm = -120, MaxDbm = -80;
    bool Quiet = false, Progress = false;
    // The measurements.
    bool Peaks = false;
    std::optional<int> PeakCount, PeakMinDbm;
    bool Events = false;
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

// What a run writes, each output checked in CheckSuccess.
void DrawOutputPaths(TCommand& C, TInputBytes& In, const TScratchFolder& Folder)
{
    if (C.Png)
        Add(C, In, "--png", Folder.PathOf("out.png"));
    if (C.Csv)
        Add(C, In, "--csv", Folder.PathOf("out.csv"));
    if (C.Sigmf)
        Add(C, In, "--sigmf", Folder.PathOf("out"));
}

// How frames become spectra.
void DrawTransform(TCommand& C, TInputBytes& In)
{
    // Mostly small transforms, so that an input takes a few milliseconds.
    if (In.Below(8) != 0) {
        static const int exponents[] = {8, 8, 8, 9, 9, 10, 11, 12};
        C.Exponent = exponents[In.Below(8)];
        Add(C, In, "--fft-exponent", std::to_string(C.Exponent));
    }
    if (In.Flag()) {
        static const char* const windows[] = {"rect", "hann", "hamming", "blackman"};
        Add(C, In, "--window", windows[In.Below(4)]);
    }
    if (In.Flag()) {
        static const int averages[] = {1, 2, 3, 8, 64};
        Add(C, In, "--average", std::to_string(averages[In.Below(5)]));
    }
    if (In.Flag()) {
        static const int spans[] = {5, 10, 20, 40};
        C.SpanMHz = spans[In.Below(4)];
        Add(C, In, "--span-mhz", std::to_string(C.SpanMHz));
    }
    if (In.Below(3) == 0) {
        // Anywhere, or at an end of the centres that the span leaves.
        const int half = 500 * C.SpanMHz;
        const int ends[] = {half - 1, half, 40000 - half, 40000 - half + 1};
        const int kHz = In.Flag() ? int(In.Below(40001)) : ends[In.Below(4)];
        C.CentreKHz = kHz;
        char text[32];
        if (kHz % 1000 == 0 && In.Flag())
            std::snprintf(text, sizeof text, "%d", kHz / 1000);
        else
            std::snprintf(text, sizeof text, "%d.%03d", kHz / 1000, kHz % 1000);
        Add(C, In, In.Flag() ? "--centre-mhz" : "--center-mhz", text);
    }
}

// Which frames, and how they make rows.
void DrawFrames(TCommand& C, TInputBytes& In)
{
    if (In.Below(3) == 0) {
        C.First = In.Below(6);
        Add(C, In, "--first", std::to_string(*C.First));
    }
    if (In.Below(3) == 0) {
        C.Last = In.Below(6);
        Add(C, In, "--last", std::to_string(*C.Last));
    }
    if (const uint32_t fold = In.Below(6); fold >= 3)
        C.Fold = fold == 3 ? 1 + In.Below(4) : fold == 4 ? 2 : 100'000'000;
    if (C.Fold)
        Add(C, In, "--fold", std::to_string(*C.Fold));
    if (const uint32_t mode = In.Below(3))
        Add(C, In, "--fold-mode", mode == 1 ? "max" : "mean");
}

// How rows look: mirrored or not, and the image's level range.
void DrawRowLook(TCommand& C, TInputBytes& In)
{
    if (const uint32_t inverted = In.Below(3))
        Add(C, In, "--inverted", inverted == 1 ? "yes" : "no");
    if (In.Below(4) == 0) {
        C.MinDbm = -200 + int(In.Below(301));
        Add(C, In, "--min-dbm", std::to_string(C.MinDbm));
    }
    if (In.Below(4) == 0) {
        C.MaxDbm = -200 + int(In.Below(301));
        Add(C, In, "--max-dbm", std::to_string(C.MaxDbm));
    }
}

// How the program runs and what it says.
void DrawRun(TCommand& C, TInputBytes& In)
{
    if (In.Below(3) != 0)
        Add(C, In, "--threads", std::to_string(1 + In.Below(2)));
    C.Quiet = In.Flag();
    if (C.Quiet)
        C.Args.push_back(In.Flag() ? "-q" : "--quiet");
    C.Progress = In.Flag();
}

// The options group by group, in the order the input's bytes are taken (a seed's meaning
// depends on it). An option the exporter gains joins the group it belongs to, its effect
// checked beside the others' in CheckSuccess; the measurements come after the recording
// (DrawMeasurements).
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
    DrawOutputPaths(c, In, Folder);
    DrawTransform(c, In);
    DrawFrames(c, In);
    DrawRowLook(c, In);
    DrawRun(c, In);
    if (!inputFirst)
        c.Args.push_back(Folder.PathOf(Recording));
    return c;
}

// The peak table: sometimes its options without it, which they need.
void DrawPeaks(TCommand& C, TInputBytes& In, const TScratchFolder& Folder)
{
    C.Peaks = In.Below(3) == 0;
    if (C.Peaks)
        Add(C, In, "--peaks", Folder.PathOf("peaks.csv"));
    if (In.Below(C.Peaks ? 2 : 32) == 0) {
        static const int counts[] = {1, 2, 3, 4, 5, 8, 20, 100, 0, 101};
        C.PeakCount = counts[In.Below(10)];
        C.MeasureUsage |= !C.Peaks || *C.PeakCount < 1 || *C.PeakCount > 100;
        Add(C, In, "--peak-count", std::to_string(*C.PeakCount));
    }
    if (In.Below(C.Peaks ? 2 : 32) == 0) {
        C.PeakMinDbm = -200 + int(In.Below(301));
        C.MeasureUsage |= !C.Peaks;
        Add(C, In, "--peak-min-dbm", std::to_string(*C.PeakMinDbm));
    }
}

// The text of a limits file: a header (with a byte order mark, CRLF or blank lines at
// times) and a few points with rising frequencies, either level missing at times; or a
// file that is none.
std::optional<std::string> DrawLimitsText(TInputBytes& In, bool& Valid)
{
    Valid = false;
    switch (In.Below(16)) {
    case 0:
        return std::nullopt;
    case 1:
        return std::string();
    case 2:
        return std::string("MHz,upper,lower\n5,-40,\n");
    case 3:
        return std::string("MHz,upper_dBm,lower_dBm\n5,-40,\n5,-30,\n");
    case 4:
        return std::string("MHz,upper_dBm,lower_dBm\n5,-40\n");
    case 5:
        return std::string("MHz,upper_dBm,lower_dBm\n5,nan,\n");
    default:
        break;
    }
    const std::string eol = In.Flag() ? "\r\n" : "\n";
    std::string text = In.Flag() ? "\xEF\xBB\xBF" : "";
    text += "MHz,upper_dBm,lower_dBm";
    text += eol;
    // A field of its own: a level, or none at times.
    const auto addLevel = [&In, &text]() {
        text += ',';
        if (In.Below(3) == 0)
            return;
        char number[16];
        std::snprintf(number, sizeof number, "%.1f", -200.0 + In.Below(3001) / 10.0);
        text += number;
    };
    double mhz = -1.0 + In.Below(4200) / 100.0;
    for (uint32_t p = 0, points = 1 + In.Below(4); p < points; ++p) {
        char number[16];
        std::snprintf(number, sizeof number, "%.2f", mhz);
        text += number;
        addLevel();
        addLevel();
        text += eol;
        if (In.Below(4) == 0)
            text += eol;
        mhz += 0.01 + In.Below(2000) / 100.0;
    }
    // Any byte made a letter leaves no limits file: no header, a field that is no number
    // or a line of the wrong number of fields.
    if (In.Below(8) == 0) {
        text[In.Below(uint32_t(text.size()))] = 'x';
        return text;
    }
    Valid = true;
    return text;
}

// The limit scan: --limits and --events, or sometimes one without the other.
void DrawLimitScan(TCommand& C, TInputBytes& In, const TScratchFolder& Folder)
{
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
        const char* text = holdOffs[In.Below(7)];
        C.HoldOffS = std::strtod(text, nullptr);
        C.MeasureUsage |= !limits || C.HoldOffS < 0;
        Add(C, In, "--hold-off-s", text);
    }
    if (limits)
        C.LimitsText = DrawLimitsText(In, C.LimitsValid);
}

// Drawn after the recording, so that the seeds from before these options keep their
// recording and the rest of their command.
void DrawMeasurements(TCommand& C, TInputBytes& In, const TScratchFolder& Folder)
{
    DrawPeaks(C, In, Folder);
    DrawLimitScan(C, In, Folder);
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
        for (char& ch : text)
            if (ch == '.')
                ch = ',';
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
    constexpr double nan = TLimits::quiet_NaN(), inf = TLimits::infinity();
    static const double edges[] = {1e-300, Year10000 - 1e-6,     Year10000, 1.0, -1.0, nan, inf,
                                   1e308,  TLimits::denorm_min()};
    switch (In.Below(6)) {
    case 1: // a day in 2023, seconds apart (or running back)
        return 45000.5 + double(int8_t(In.Byte())) * double(Frame) / 86400.0;
    case 2:
        return In.Raw();
    case 3:
        return edges[In.Below(9)];
    default:
        return 0.0;
    }
}

void DrawSamples(TInputBytes& In, int16_t* Block)
{
    switch (In.Below(5)) {
    case 1: { // full scale: the largest, the smallest, or both in turn
        const uint32_t kind = In.Below(3);
        for (int i = 0; i < BlockSamples; ++i)
            Block[i] = kind == 0   ? int16_t(32767)
                       : kind == 1 ? int16_t(-32768)
                                   : int16_t(i % 2 ? -32768 : 32767);
        break;
    }
    case 2: { // a tone
        const double amplitude = In.Word() / 2.0;
        const double cycles = In.Below(4096) + In.Byte() / 256.0;
        for (int i = 0; i < BlockSamples; ++i)
            Block[i] = int16_t(std::lround(
                amplitude * std::sin(2 * std::numbers::pi * cycles * i / BlockSamples)));
        break;
    }
    case 3: { // noise of some bits
        TChoices noise(In.Word());
        const uint16_t mask = uint16_t((1u << In.Below(17)) - 1);
        for (int i = 0; i < BlockSamples; ++i)
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
    static std::vector<int16_t> block(BlockSamples);
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
    if (C.CentreKHz) {
        const int half = 500 * C.SpanMHz;
        if (*C.CentreKHz < half || *C.CentreKHz > 40000 - half)
            return Usage;
    }
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

std::string ReadFile(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    FUZZ_CHECK(in.good(), Path.c_str());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& Text)
{
    std::vector<std::string> lines;
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
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

// A number as the program writes it; with Decimals, exactly that many.
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

// The header's frequencies: the span's N / (40 / span) bins from its first; each
// offset + bin * 40 / N MHz.
void CheckTableHeader(const std::vector<std::string>& Fields, const TCommand& C,
                      const TRecording& R, size_t Columns)
{
    FUZZ_CHECK(Fields.size() == 3 + Columns && Fields[0] == "time" && Fields[1] == "stamped" &&
                   Fields[2] == "frame",
               "table header");
    const int n = 1 << C.Exponent;
    const double first = SpanFirst(C);
    for (size_t j = 0; j < Columns; ++j) {
        const std::string& text = Fields[3 + j];
        double mhz = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), mhz);
        const double expected = R.FreqOffsetMHz + (first + double(j)) * 40.0 / n;
        FUZZ_CHECK(ec == std::errc() && end == text.data() + text.size() &&
                       std::fabs(mhz - expected) < 1e-8,
                   "column frequency");
    }
}

void CheckTable(const std::string& Path, const TCommand& C, const TRecording& R,
                const TExpectedRows& Rows)
{
    const std::vector<std::string> lines = Lines(ReadFile(Path));
    FUZZ_CHECK(int64_t(lines.size()) == 1 + Rows.Count(), "a table row per fold of frames");
    const size_t columns = SpanColumns(C);
    CheckTableHeader(SplitCsv(lines[0]), C, R, columns);

    bool silent = true; // every frame so far, from the first exported
    for (int64_t i = 0; i < Rows.Count(); ++i) {
        const std::vector<std::string> fields = SplitCsv(lines[size_t(1 + i)]);
        FUZZ_CHECK(fields.size() == 3 + columns, "fields of a row");
        const int64_t frame = Rows.First + i * Rows.Fold;
        CheckRowStart(fields, R, frame);
        for (int64_t f = frame; f < std::min(frame + Rows.Fold, Rows.Last + 1); ++f)
            silent = silent && R.Silent[size_t(f)];
        for (size_t j = 0; j < columns; ++j) {
            const std::string& text = fields[3 + j];
            float level = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), level);
            FUZZ_CHECK(ec == std::errc() && end == text.data() + text.size(), "a level's text");
            FUZZ_CHECK(std::isfinite(level) && level >= FloorDbm - LevelSlack &&
                           level <= LoudestDbm + LevelSlack,
                       "a level between the floor and full scale");
            FUZZ_CHECK(!silent || std::fabs(level - FloorDbm) <= LevelSlack,
                       "silence at the floor");
        }
    }
}

// The waterfall's rows in the image, one pixel row each. The frequency axis below them is
// a black line of exactly the span's columns, starting one pixel right of the time axis, a
// black line that spans exactly their height (the corner between the two stays blank).
// Waterfall rows that are black up to their last column look alike (a time tick left of the
// axis rising from the pixel before them), but all lie above the axis: the lowest such line
// is the axis. Nothing below it (labels, the colour scale) is a black line of a power of two.
int64_t WaterfallRows(const QImage& Image, int Columns)
{
    const QImage rgb = Image.convertToFormat(QImage::Format_RGB888);
    const int width = rgb.width();
    auto black = [&](int X, int Y) {
        const uchar* p = rgb.constScanLine(Y) + 3 * X;
        return p[0] == 0 && p[1] == 0 && p[2] == 0;
    };
    for (int y = rgb.height() - 1; y > 0; --y) {
        for (int x = 1; x + Columns <= width; ++x) {
            if (black(x - 1, y) || !black(x, y))
                continue;
            int run = 1;
            while (x + run < width && black(x + run, y))
                ++run;
            int rows = 0;
            while (y - 1 - rows >= 0 && black(x - 1, y - 1 - rows))
                ++rows;
            if (run == Columns && rows > 0)
                return rows;
            x += run;
        }
    }
    return -1;
}

// Per row its strongest peaks, ranked from 1, strongest first, no more than asked for and
// none below the level asked for, each inside the span (its interpolated frequency up to half
// a bin beyond it); none while every frame so far is silent.
void CheckPeaks(const std::string& Path, const TCommand& C, const TRecording& R,
                const TExpectedRows& Rows)
{
    const std::vector<std::string> lines = Lines(ReadFile(Path));
    FUZZ_CHECK(!lines.empty() && lines[0] == "time,stamped,frame,rank,MHz,dBm",
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
        const std::vector<std::string> fields = SplitCsv(lines[i]);
        FUZZ_CHECK(fields.size() == 6, "fields of a peak");
        int64_t frame = -1;
        std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), frame);
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
    const std::vector<std::string> lines = Lines(ReadFile(Path));
    FUZZ_CHECK(!lines.empty() &&
                   lines[0] == "start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB",
               "events header");
    const bool timed = FramesTimed(R);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> fields = SplitCsv(lines[i]);
        FUZZ_CHECK(fields.size() == 8, "fields of an episode");
        FUZZ_CHECK(fields[0].empty() != timed && fields[1].empty() != timed, "an episode's times");
        int64_t first = -1, last = -1;
        std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), first);
        std::from_chars(fields[3].data(), fields[3].data() + fields[3].size(), last);
        FUZZ_CHECK(Rows.First <= first && first <= last && last <= Rows.Last,
                   "an episode's frames among those exported");
        FUZZ_CHECK(fields[4] == "upper" || fields[4] == "lower", "an episode's kind");
        const std::optional<double> excess = ParseNumber(fields[7], 2);
        FUZZ_CHECK(ParseNumber(fields[5], 6) && ParseNumber(fields[6], 2) && excess &&
                       *excess >= 0.0,
                   "an episode's worst point");
    }
}

void CheckImage(const std::string& Path, const TCommand& C, const TExpectedRows& Rows)
{
    const QImage image(QString::fromStdString(Path), "PNG");
    FUZZ_CHECK(!image.isNull(), "a PNG that a decoder reads");
    const int columns = (1 << C.Exponent) / (40 / C.SpanMHz);
    FUZZ_CHECK(WaterfallRows(image, columns) == Rows.Count(), "an image row per output row");
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

// The files the run is given: the recording and the limits file.
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
    std::vector<std::string> inputs = Inputs(C);
    std::sort(inputs.begin(), inputs.end());
    FUZZ_CHECK(Folder.Files() == inputs, "a failed export leaves no file");
    if (!Parsed) // the program says a bad command line itself
        return;
    const std::vector<std::string> lines = Lines(Err);
    FUZZ_CHECK(!lines.empty() && lines.back().rfind("quillex-export: ", 0) == 0,
               "a failure says why");
    FUZZ_CHECK(!C.Quiet || lines.size() == 1, "a quiet failure is one line");
}

void CheckSuccess(const TScratchFolder& Folder, const TCommand& C, const TRecording& R,
                  const std::string& Err)
{
    std::vector<std::string> expected = Inputs(C);
    if (C.Peaks)
        expected.push_back("peaks.csv");
    if (C.Events)
        expected.push_back("events.csv");
    if (C.Png)
        expected.push_back("out.png");
    if (C.Csv)
        expected.push_back("out.csv");
    if (C.Sigmf) {
        expected.push_back("out.sigmf-data");
        expected.push_back("out.sigmf-meta");
    }
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
    if (C.Png)
        CheckImage(Folder.PathOf("out.png"), C, rows);
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

template <typename TBytes> void WriteFile(const std::string& Path, const TBytes& Bytes)
{
    std::ofstream out(Path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(Bytes.data()), std::streamsize(Bytes.size()));
    FUZZ_CHECK(out.flush().good(), "write an input file");
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
    WriteFile(folder.PathOf(Recording), recording.Bytes);
    if (command.LimitsText)
        WriteFile(folder.PathOf(LimitsName), *command.LimitsText);

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
