#include "SigmfExport.h"

#include "ExportError.h"
#include "FrameTimes.h"
#include "LocalTimeToUtc.h"
#include "SpkRecordFile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quillex {

namespace {

// Records read at a time: a megabyte, whatever the recording's size.
constexpr int64_t BatchRecords = 64;
// Real samples at twice the 40 MHz the spectrum covers.
constexpr const char* SampleRate = "80000000";
constexpr const char* SigmfVersion = "1.0.0";
constexpr const char* ExtensionVersion = "1.0.0";

bool EndsWith(std::string_view Text, std::string_view End)
{
    return Text.size() > End.size() && Text.substr(Text.size() - End.size()) == End;
}

std::string BaseName(const std::string& Path)
{
    const size_t slash = Path.find_last_of('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// The length of the UTF-8 sequence at Text[I], 0 when it is none (overlong forms and
// surrogates included).
size_t Utf8Length(std::string_view Text, size_t I)
{
    const auto byte = [&](size_t K) { return static_cast<unsigned char>(Text[I + K]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned char lo = 0x80, hi = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lo = lead == 0xE0 ? 0xA0 : 0x80;
        hi = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lo = lead == 0xF0 ? 0x90 : 0x80;
        hi = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || Text.size() - I < length || byte(1) < lo || byte(1) > hi)
        return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(k) < 0x80 || byte(k) > 0xBF)
            return 0;
    return length;
}

// The shortest text that reads back as the same number.
std::string NumberText(double Value)
{
    if (!std::isfinite(Value))
        return "null";
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, Value);
    return ec == std::errc() ? std::string(text, end) : "null";
}

} // namespace

TSigmfNames SigmfNames(const std::string& Base)
{
    std::string base = Base;
    for (const char* ending : {".sigmf-data", ".sigmf-meta"})
        if (EndsWith(base, ending))
            base.resize(base.size() - std::strlen(ending));
    return {base + ".sigmf-data", base + ".sigmf-meta"};
}

std::string JsonString(std::string_view Text)
{
    std::string out = "\"";
    for (size_t i = 0; i < Text.size();) {
        const auto c = static_cast<unsigned char>(Text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c < 0x80) {
            out += char(c);
        } else if (const size_t length = Utf8Length(Text, i); length > 0) {
            out.append(Text.substr(i, length));
            i += length;
            continue;
        } else {
            out += "\\ufffd";
        }
        ++i;
    }
    return out + '"';
}

TSigmfExport::TSigmfExport(const std::string& Base)
    : FNames(SigmfNames(Base)), FData(FNames.Data), FMeta(FNames.Meta)
{
}

void TSigmfExport::Put(TOutputFile& File, const void* Bytes, size_t Size)
{
    if (std::fwrite(Bytes, 1, Size, File.Stream()) != Size)
        throw TExportError(TExitCode::OutputFile,
                           "Cannot write " + File.Target() + ": " + std::strerror(errno));
}

// Both files complete before either is renamed: what is left to fail then is the rename.
void TSigmfExport::Flush(TOutputFile& File)
{
    if (std::fflush(File.Stream()) != 0 || std::ferror(File.Stream()))
        throw TExportError(TExitCode::OutputFile, "Cannot write " + File.Target() + ": " +
                                                      std::strerror(errno != 0 ? errno : EIO));
}

void TSigmfExport::WriteGlobal(const TSigmfSource& Source)
{
    const std::string description =
        "Frames " + std::to_string(Source.First) + " .. " + std::to_string(Source.Last) + " of " +
        BaseName(Source.Name) +
        ": blocks of 8192 real samples at 80 MHz (0 to 40 MHz), a capture per block; the "
        "blocks are snapshots, not one stream";
    // Without a header the window plays a recording with no offsets and upright.
    const TOffsetsHeader header = Source.Header.value_or(TOffsetsHeader{0.0, 0.0, false});
    // The header holds MHz to a thousandth; Hz to a thousandth keep whatever it holds.
    const double offsetHz = std::round(header.FreqOffset * 1e9) / 1e3;
    std::string text = "{\n  \"global\": {\n";
    text += "    \"core:datatype\": \"ri16_le\",\n";
    text += std::string("    \"core:sample_rate\": ") + SampleRate + ",\n";
    text += std::string("    \"core:version\": \"") + SigmfVersion + "\",\n";
    text += "    \"core:description\": " + JsonString(description) + ",\n";
    text += "    \"core:recorder\": \"Quillex\",\n";
    text +=
        std::string("    \"core:extensions\": [\n      {\"name\": \"quillex\", \"version\": \"") +
        ExtensionVersion + "\", \"optional\": true}\n    ],\n";
    text += "    \"quillex:frequency_offset\": " + NumberText(offsetHz) + ",\n";
    text += "    \"quillex:level_offset\": " + NumberText(header.LevelOffset) + ",\n";
    text +=
        std::string("    \"quillex:inverted\": ") + (header.Inverted ? "true" : "false") + ",\n";
    text += "    \"quillex:first_record\": " + std::to_string(Source.First) + "\n";
    text += "  },\n  \"captures\": [\n";
    Put(FMeta, text);
}

void TSigmfExport::Write(const TSigmfSource& Source, const TFramesSeen& Frames,
                         const TProgress& Progress)
{
    WriteGlobal(Source);
    std::unique_ptr<uint8_t[]> buffer;
    double stamps[BatchRecords];
    TLocalToUtc utc;
    std::string capture;
    for (int64_t first = Source.First; first <= Source.Last; first += BatchRecords) {
        const int count = int(std::min(BatchRecords, Source.Last - first + 1));
        const uint8_t* records = nullptr;
        try {
            records = Source.File.MappedRecords(first, count);
            if (records == nullptr) {
                if (!buffer)
                    buffer = std::make_unique<uint8_t[]>(BatchRecords * FrameRecordSize);
                Source.File.ReadRecords(first, count, buffer.get());
                records = buffer.get();
            }
        } catch (const ESpkError& e) {
            throw TExportError(TExitCode::InputFile, e.what());
        }
        for (int r = 0; r < count; ++r) {
            const uint8_t* record = records + int64_t(r) * FrameRecordSize;
            stamps[r] = RecordStamp(record);
            // The file's samples are little-endian already: written as they are.
            Put(FData, record + StampBytes, SampleBlockBytes);
            const int64_t index = first + r - Source.First;
            capture = index == 0 ? "    {" : ",\n    {";
            capture += "\"core:sample_start\": " + std::to_string(index * SampleBlockSamples);
            if (IsFrameStamp(stamps[r]))
                if (const std::string time = UtcIsoText(utc.Convert(stamps[r])); !time.empty())
                    capture += ", \"core:datetime\": \"" + time + "\"";
            capture += '}';
            Put(FMeta, capture);
        }
        Source.File.Release(first, first + count);
        if (Frames)
            Frames(first, count, stamps);
        if (Progress)
            Progress(first + count - Source.First);
    }
    Put(FMeta, "\n  ],\n  \"annotations\": []\n}\n");
    Flush(FData);
    Flush(FMeta);
}

void TSigmfExport::Commit()
{
    CommitAll(std::array{&FData, &FMeta});
}

} // namespace quillex
