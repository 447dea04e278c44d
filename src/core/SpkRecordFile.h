#pragma once

#include <cstdint>
#include <string>

// Random access to the records of a ".spk" file for readers on several threads: every
// read names its own position (no shared file position), so threads never wait for
// each other. Offsets are 64-bit, so files beyond 4 GiB work.
namespace quillex {

class TSpkRecordFile
{
public:
    TSpkRecordFile() = default;
    ~TSpkRecordFile();
    TSpkRecordFile(const TSpkRecordFile&) = delete;
    TSpkRecordFile& operator=(const TSpkRecordFile&) = delete;

    // Opens for reading; throws ESpkReadError (a missing file, a folder, no permission).
    void Open(const std::string& FileName);
    void Close();

    int64_t ByteSize() const { return FByteSize; }
    // Whole records; a trailing partial record is not counted.
    int64_t WholeRecords() const;

    // Reads Count whole records from record First on into Buffer (Count * FrameRecordSize
    // bytes). Throws ESpkReadError on an input error or when the file ends before them.
    void ReadRecords(int64_t First, int64_t Count, uint8_t* Buffer) const;

private:
    int FFd = -1;
    std::string FFileName;
    int64_t FByteSize = 0;
};

} // namespace quillex
