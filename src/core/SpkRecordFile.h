#pragma once

#include <cstdint>
#include <string>

// Random access to the records of a ".spk" file for readers on several threads: every
// read names its own position (no shared file position), so threads never wait for
// each other. Offsets are 64-bit, so files beyond 4 GiB work. Where the system allows,
// the file is mapped read-only, so that records are read where the page cache holds
// them instead of being copied; otherwise records are read with pread.
namespace quillex {

class TSpkRecordFile
{
public:
    TSpkRecordFile() = default;
    ~TSpkRecordFile();
    TSpkRecordFile(const TSpkRecordFile&) = delete;
    TSpkRecordFile& operator=(const TSpkRecordFile&) = delete;

    // Opens for reading, mapped unless Map is false (then, and where mapping fails, records
    // are read with pread); throws ESpkReadError (a missing file, a folder, no permission).
    void Open(const std::string& FileName, bool Map = true);
    void Close();

    int64_t ByteSize() const { return FByteSize; }
    // Whole records; a trailing partial record is not counted.
    int64_t WholeRecords() const;

    // Reads Count whole records from record First on into Buffer (Count * FrameRecordSize
    // bytes). Throws ESpkReadError on an input error or when the file ends before them.
    void ReadRecords(int64_t First, int64_t Count, uint8_t* Buffer) const;

    // Count whole records from record First on where they lie in the mapped file, nullptr
    // when the file is not mapped (then ReadRecords serves). Throws ESpkReadError as
    // ReadRecords does, also when the file has become shorter than they need.
    const uint8_t* MappedRecords(int64_t First, int64_t Count) const;
    // Gives back the mapped pages of the records First .. End-1, which their reader is done
    // with, so that the process does not hold the whole file as it goes (the pages stay in
    // the page cache); a page shared with record End stays. Records there may still be read,
    // at the cost of mapping them again, and given back again.
    void Release(int64_t First, int64_t End) const;
    bool Mapped() const { return FMap != nullptr; }

private:
    void CheckRange(int64_t First, int64_t Count) const;
    void Populate(size_t Offset, size_t Size) const;

    int FFd = -1;
    const uint8_t* FMap = nullptr;
    std::string FFileName;
    int64_t FByteSize = 0;
};

} // namespace quillex
