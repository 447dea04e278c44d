#include "SpkFile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillex {

static_assert(sizeof(off_t) >= 8, "recordings beyond 2 GiB need 64-bit file offsets");

namespace {

constexpr std::string_view HeaderTag = "Offsets:";
constexpr size_t FreqTextOffset = 8;
constexpr size_t FreqTextSize = 12;
constexpr size_t LevelTextOffset = FreqTextOffset + FreqTextSize;
constexpr size_t LevelTextSize = 8;
// In the reserved zero bytes after the level: "Inverted:" and '0' or '1'. Files without it
// read as they always did.
constexpr size_t MarkOffset = LevelTextOffset + LevelTextSize;
constexpr std::string_view InversionMark = "Inverted:";
constexpr size_t StreamBufferSize = 1 << 20;

std::string SystemReason(int error)
{
    return std::strerror(error);
}

void StoreLittleEndian64(uint64_t v, uint8_t* out)
{
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t LoadLittleEndian64(const uint8_t* in)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= static_cast<uint64_t>(in[i]) << (8 * i);
    return v;
}

// v as "%.<decimals>f" with a point; a zero shows no sign, so that an inverted zero
// offset never passes for a negative one. Throws when v is not finite.
std::string FixedText(double v, int decimals, const char* what)
{
    char text[64];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals);
    if (!std::isfinite(v) || ec != std::errc())
        throw ESpkFormatError(std::string("The ") + what +
                              " offset does not fit the header of the recording file");
    std::string_view digits(text, static_cast<size_t>(end - text));
    if (digits.front() == '-' && digits.find_first_of("123456789") == std::string_view::npos)
        digits.remove_prefix(1);
    return std::string(digits);
}

// Right-aligns the text in its field with the given separator; throws when it is wider
// than the field, since a cut text would be another number.
void PlaceField(const std::string& digits, char separator, size_t width, const char* what,
                uint8_t* out)
{
    if (digits.size() > width)
        throw ESpkFormatError(std::string("The ") + what +
                              " offset does not fit the header of the recording file");
    std::memset(out, ' ', width);
    std::memcpy(out + width - digits.size(), digits.data(), digits.size());
    for (size_t i = 0; i < width; ++i)
        if (out[i] == '.')
            out[i] = static_cast<uint8_t>(separator);
}

// At most Limit characters of a file's bytes, fit for a message: anything but printable
// ASCII shows as '?', and a longer text is cut with "...".
std::string PrintableExcerpt(std::string_view bytes, size_t limit)
{
    std::string text;
    for (const char c : bytes.substr(0, limit))
        text += (c >= 0x20 && c < 0x7f) ? c : '?';
    if (bytes.size() > limit)
        text += "...";
    return text;
}

double ParseField(const uint8_t* text, size_t size, const char* what)
{
    std::string field(reinterpret_cast<const char*>(text), size);
    const size_t first = field.find_first_not_of(std::string_view(" \0", 2));
    const size_t last = field.find_last_not_of(std::string_view(" \0", 2));
    std::string digits =
        first == std::string::npos ? std::string() : field.substr(first, last - first + 1);
    std::replace(digits.begin(), digits.end(), ',', '.');
    double value = 0;
    const char* begin = digits.data();
    const char* end = digits.data() + digits.size();
    if (begin != end && *begin == '+')
        ++begin;
    const bool plainNumber = std::all_of(
        begin, end, [](char c) { return (c >= '0' && c <= '9') || c == '.' || c == '-'; });
    const auto [stop, ec] = std::from_chars(begin, end, value, std::chars_format::fixed);
    if (begin == end || !plainNumber || ec != std::errc() || stop != end)
        throw ESpkFormatError(std::string("The header of the recording file holds no valid ") +
                              what + " offset (\"" + PrintableExcerpt(digits, FreqTextSize) +
                              "\")");
    return value;
}

} // namespace

void EncodeDataRecord(double Stamp, const int16_t* Block, uint8_t* Record)
{
    StoreLittleEndian64(std::bit_cast<uint64_t>(Stamp), Record);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(Record + StampBytes, Block, SampleBlockBytes);
    } else {
        for (int i = 0; i < SampleBlockSamples; ++i) {
            const auto v = static_cast<uint16_t>(Block[i]);
            Record[StampBytes + 2 * i] = static_cast<uint8_t>(v);
            Record[StampBytes + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
    }
}

void DecodeDataRecord(const uint8_t* Record, double& Stamp, int16_t* Block)
{
    Stamp = std::bit_cast<double>(LoadLittleEndian64(Record));
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(Block, Record + StampBytes, SampleBlockBytes);
    } else {
        for (int i = 0; i < SampleBlockSamples; ++i)
            Block[i] = static_cast<int16_t>(Record[StampBytes + 2 * i] |
                                            (Record[StampBytes + 2 * i + 1] << 8));
    }
}

namespace {

bool IsZeroText(const std::string& digits)
{
    return digits.find_first_of("123456789") == std::string::npos;
}

void FormatOffsetsHeaderInto(double FreqOffset, double LevelOffset, bool Inverted,
                             char DecimalSeparator, uint8_t* Record)
{
    std::memset(Record, 0, FrameRecordSize);
    std::memcpy(Record, HeaderTag.data(), HeaderTag.size());
    const std::string freq = FixedText(FreqOffset, 3, "frequency");
    // A negated offset means "inverted". Where that reading is unambiguous the header is
    // written as it always was, so every reader reads it alike; a negative offset or an
    // inverted zero keeps its own sign and carries the inversion in the mark instead.
    const bool needsMark = freq.front() == '-' || (Inverted && IsZeroText(freq));
    const std::string stored =
        Inverted && !needsMark ? FixedText(-FreqOffset, 3, "frequency") : freq;
    PlaceField(stored, DecimalSeparator, FreqTextSize, "frequency", Record + FreqTextOffset);
    PlaceField(FixedText(LevelOffset, 1, "level"), DecimalSeparator, LevelTextSize, "level",
               Record + LevelTextOffset);
    if (needsMark) {
        std::memcpy(Record + MarkOffset, InversionMark.data(), InversionMark.size());
        Record[MarkOffset + InversionMark.size()] = Inverted ? '1' : '0';
    }
}

} // namespace

void FormatOffsetsHeader(double FreqOffset, double LevelOffset, bool Inverted,
                         char DecimalSeparator, uint8_t (&Record)[FrameRecordSize])
{
    FormatOffsetsHeaderInto(FreqOffset, LevelOffset, Inverted, DecimalSeparator, Record);
}

std::optional<TOffsetsHeader> ParseOffsetsHeader(const uint8_t* Record, size_t Size)
{
    if (Size < HeaderTag.size() || std::memcmp(Record, HeaderTag.data(), HeaderTag.size()) != 0)
        return std::nullopt;
    if (Size < LevelTextOffset + LevelTextSize)
        throw ESpkFormatError("The header of the recording file is cut short");
    const double freq = ParseField(Record + FreqTextOffset, FreqTextSize, "frequency");
    const double level = ParseField(Record + LevelTextOffset, LevelTextSize, "level");
    const uint8_t* mark = Record + MarkOffset;
    const uint8_t flag = Size > MarkOffset + InversionMark.size() ? mark[InversionMark.size()] : 0;
    if ((flag == '0' || flag == '1') &&
        std::memcmp(mark, InversionMark.data(), InversionMark.size()) == 0)
        return TOffsetsHeader{freq, level, flag == '1'};
    return TOffsetsHeader{std::fabs(freq), level, freq < 0};
}

// ---- TSpkWriter ----

TSpkWriter::TSpkWriter() : FRecord(std::make_unique<uint8_t[]>(FrameRecordSize)) {}

TSpkWriter::~TSpkWriter() = default;

void TSpkWriter::Create(const std::string& FileName)
{
    Close();
    FRecordCount = 0;
    if (!FFile.Open(FileName, TWholeRecordWriter::TMode::Replace))
        throw ESpkWriteError(FFile.Error());
}

void TSpkWriter::AppendHeader(double FreqOffset, double LevelOffset, bool Inverted,
                              char DecimalSeparator)
{
    FormatOffsetsHeaderInto(FreqOffset, LevelOffset, Inverted, DecimalSeparator, FRecord.get());
    AppendRaw(FRecord.get());
}

void TSpkWriter::AppendRecord(double Stamp, const int16_t* Block)
{
    EncodeDataRecord(Stamp, Block, FRecord.get());
    AppendRaw(FRecord.get());
}

void TSpkWriter::AppendRaw(const uint8_t* Record)
{
    if (!FFile.IsOpen())
        throw ESpkWriteError("No recording file is open" +
                             (FileName().empty() ? std::string() : " (" + FileName() + ")"));
    if (!FFile.Write(Record, FrameRecordSize))
        throw ESpkWriteError(FFile.Error());
    ++FRecordCount;
}

void TSpkWriter::Close()
{
    if (!FFile.Close())
        throw ESpkWriteError(FFile.Error());
}

bool TSpkWriter::IsOpen() const
{
    return FFile.IsOpen();
}

const std::string& TSpkWriter::FileName() const
{
    return FFile.FileName();
}

int64_t TSpkWriter::RecordCount() const
{
    return FRecordCount;
}

// ---- TSpkReader ----

TSpkReader::TSpkReader()
    : FRecord(std::make_unique<uint8_t[]>(FrameRecordSize)),
      FStreamBuffer(std::make_unique<char[]>(StreamBufferSize))
{
}

TSpkReader::~TSpkReader()
{
    Close();
}

void TSpkReader::Open(const std::string& FileName)
{
    Close();
    FFileName = FileName;
    FFile = std::fopen(FileName.c_str(), "rbe");
    if (!FFile)
        throw ESpkReadError("Cannot open " + FileName + ": " + SystemReason(errno));
    struct stat info
    {
    };
    if (::fstat(::fileno(FFile), &info) != 0 || S_ISDIR(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        Close();
        throw ESpkReadError("Cannot open " + FileName + ": " + SystemReason(error));
    }
    std::setvbuf(FFile, FStreamBuffer.get(), _IOFBF, StreamBufferSize);
    FByteSize = info.st_size;
    FOffset = 0;
}

void TSpkReader::Close()
{
    if (FFile)
        std::fclose(FFile);
    FFile = nullptr;
    FByteSize = 0;
    FOffset = 0;
}

bool TSpkReader::IsOpen() const
{
    return FFile != nullptr;
}

const std::string& TSpkReader::FileName() const
{
    return FFileName;
}

int64_t TSpkReader::ByteSize() const
{
    return FByteSize;
}

int64_t TSpkReader::RecordCount() const
{
    const int64_t whole = FByteSize / FrameRecordSize;
    const int64_t rest = FByteSize % FrameRecordSize;
    if (2 * rest > FrameRecordSize || (2 * rest == FrameRecordSize && whole % 2 != 0))
        return whole + 1;
    return whole;
}

void TSpkReader::Seek(int64_t Record)
{
    if (!FFile)
        throw ESpkReadError("No recording file is open");
    if (Record < 0 || Record > INT64_MAX / FrameRecordSize)
        throw ESpkReadError("Cannot position " + FFileName + " at record " +
                            std::to_string(Record));
    const int64_t offset = Record * FrameRecordSize;
    if (::fseeko(FFile, static_cast<off_t>(offset), SEEK_SET) != 0)
        throw ESpkReadError("Cannot position " + FFileName + ": " + SystemReason(errno));
    FOffset = static_cast<uint64_t>(offset);
}

int64_t TSpkReader::Position() const
{
    // Rounded up by the remainder, not by adding a record first, which could overflow.
    return static_cast<int64_t>(FOffset / FrameRecordSize + (FOffset % FrameRecordSize != 0));
}

bool TSpkReader::AtEnd() const
{
    return FOffset >= static_cast<uint64_t>(FByteSize);
}

size_t TSpkReader::ReadRaw(uint8_t* Record)
{
    if (!FFile)
        throw ESpkReadError("No recording file is open");
    const size_t n = std::fread(Record, 1, FrameRecordSize, FFile);
    if (n < static_cast<size_t>(FrameRecordSize)) {
        if (std::ferror(FFile)) {
            const int error = errno;
            std::clearerr(FFile);
            throw ESpkReadError("Cannot read " + FFileName + ": " + SystemReason(error));
        }
        std::clearerr(FFile); // a file that grows later can be read on
        std::memset(Record + n, 0, FrameRecordSize - n);
    }
    FOffset += n;
    return n;
}

TSpkReadResult TSpkReader::ReadRecord(double& Stamp, int16_t* Block)
{
    const size_t n = ReadRaw(FRecord.get());
    if (n == 0)
        return TSpkReadResult::End;
    DecodeDataRecord(FRecord.get(), Stamp, Block);
    if (n < static_cast<size_t>(StampBytes))
        Stamp = 0; // a stamp cut in pieces is no moment
    return n == static_cast<size_t>(FrameRecordSize) ? TSpkReadResult::Full : TSpkReadResult::Short;
}

} // namespace quillex
