#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "WholeRecordWriter.h"

// The ".spk" spectral data file: a plain sequence of records of 16392 bytes,
// little-endian, no trailer. A data record is an 8-byte IEEE double frame
// stamp (days since 1899-12-30, 0.0 for frames without a time label)
// followed by the raw block of 8192 signed 16-bit samples. An optional
// header record 0 holds "Offsets:", the frequency offset as "%12.3f"
// (negated when the spectrum was inverted), the level offset as "%8.1f"
// and zero bytes. A negative offset, or an inverted zero offset, cannot be
// told that way: such a header stores the offset with its own sign and
// marks the inversion explicitly in the zero bytes ("Inverted:0" or
// "Inverted:1" at byte 28). Record k always starts at byte k * 16392. All offsets
// are 64-bit, so files beyond 4 GiB work.
namespace quillex {

constexpr int32_t FrameRecordSize = 16392;
constexpr int32_t SampleBlockBytes = 16384;
constexpr int32_t SampleBlockSamples = SampleBlockBytes / 2;
constexpr int32_t StampBytes = FrameRecordSize - SampleBlockBytes;

class ESpkError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
// A header whose offset texts are not numbers, or offsets that do not fit
// the header's fixed-width fields.
class ESpkFormatError : public ESpkError
{
public:
    using ESpkError::ESpkError;
};
class ESpkWriteError : public ESpkError
{
public:
    using ESpkError::ESpkError;
};
class ESpkReadError : public ESpkError
{
public:
    using ESpkError::ESpkError;
};

// Data record <-> bytes (Record holds FrameRecordSize bytes, Block 8192 samples).
void EncodeDataRecord(double Stamp, const int16_t* Block, uint8_t* Record);
void DecodeDataRecord(const uint8_t* Record, double& Stamp, int16_t* Block);

// Builds the header record with the given decimal separator (the recording
// machine's). Throws ESpkFormatError when an offset is not finite or its
// text would not fit its field (cutting it would store a different number).
void FormatOffsetsHeader(double FreqOffset, double LevelOffset, bool Inverted,
                         char DecimalSeparator, uint8_t (&Record)[FrameRecordSize]);

struct TOffsetsHeader
{
    double FreqOffset;  // MHz, with its sign
    double LevelOffset; // dB
    bool Inverted;      // the mark's flag, or without a mark: the stored offset was negative
};

// nullopt when the record does not start with "Offsets:"; throws
// ESpkFormatError with a clear message when it does but its texts are not
// numbers (or the record is too short to hold them); the message shows only
// printable characters of the file. Reads "." or "," as the decimal
// separator.
std::optional<TOffsetsHeader> ParseOffsetsHeader(const uint8_t* Record, size_t Size);

// Appends records to a new file through a TWholeRecordWriter: each record with one
// unbuffered write, so everything appended before a crash is on disk. When a write fails
// (or the file was removed, renamed or replaced), the file keeps its whole records and is
// closed, and ESpkWriteError (with the reason) is thrown; later appends throw
// ESpkWriteError until the writer is created again.
class TSpkWriter
{
public:
    TSpkWriter();
    ~TSpkWriter();
    TSpkWriter(const TSpkWriter&) = delete;
    TSpkWriter& operator=(const TSpkWriter&) = delete;

    // Creates the file, replacing an existing one; closes a file still open.
    void Create(const std::string& FileName);
    void AppendHeader(double FreqOffset, double LevelOffset, bool Inverted, char DecimalSeparator);
    void AppendRecord(double Stamp, const int16_t* Block);
    // Closes the file (nothing happens when none is open).
    void Close();

    bool IsOpen() const;
    const std::string& FileName() const;
    int64_t RecordCount() const; // whole records in the file, header included

private:
    void AppendRaw(const uint8_t* Record);

    TWholeRecordWriter FFile;
    int64_t FRecordCount = 0;
    std::unique_ptr<uint8_t[]> FRecord;
};

enum class TSpkReadResult {
    Full,  // a whole record was read
    Short, // a trailing partial record: the missing bytes read as zero
    End    // nothing left to read
};

// Reads records sequentially through one buffered stream; only Seek moves
// the file position.
class TSpkReader
{
public:
    TSpkReader();
    ~TSpkReader();
    TSpkReader(const TSpkReader&) = delete;
    TSpkReader& operator=(const TSpkReader&) = delete;

    // Opens the file for reading at record 0; closes a file still open.
    // Throws ESpkReadError.
    void Open(const std::string& FileName);
    void Close();
    bool IsOpen() const;
    const std::string& FileName() const;

    int64_t ByteSize() const;    // size when opened
    int64_t RecordCount() const; // ByteSize / 16392, rounded to nearest (ties to even)

    // Positions at record Record (0 = first record); throws ESpkReadError for
    // a negative record or a failing seek.
    void Seek(int64_t Record);
    // Index of the next record to be read.
    int64_t Position() const;
    // True when no byte is left after the current position.
    bool AtEnd() const;

    // Reads the next record. Stamp and Block (8192 samples) are written only
    // for Full and Short. Throws ESpkReadError on an input error.
    TSpkReadResult ReadRecord(double& Stamp, int16_t* Block);
    // Reads the next record's raw bytes into Record (FrameRecordSize bytes;
    // missing bytes of a short record are zero); returns the bytes read.
    size_t ReadRaw(uint8_t* Record);

private:
    std::FILE* FFile = nullptr;
    std::string FFileName;
    int64_t FByteSize = 0;
    // Unsigned: reading the last record whose start fits an off_t moves the offset
    // past INT64_MAX.
    uint64_t FOffset = 0;
    std::unique_ptr<uint8_t[]> FRecord;
    std::unique_ptr<char[]> FStreamBuffer;
};

} // namespace quillex
