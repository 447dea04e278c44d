#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The one way records reach a file that grows while the program runs: a recording's frames,
// an event log's lines. Each record goes in with one write (more only when the system takes
// less), so everything written before a crash is on disk. A record that cannot be written
// whole is cut off again and the file closed: the file keeps only whole records and nothing
// more goes into a file that failed. The file must still be the one opened: deleted, renamed
// or replaced under the writer, the next write is refused, the file closed and the reason
// said, rather than records written into a file nobody will find.
namespace quillex {

class TWholeRecordWriter
{
public:
    enum class TMode {
        Replace, // a new file, or an existing one emptied
        Append   // a new file, or an existing one kept and written at its end
    };

    TWholeRecordWriter() = default;
    ~TWholeRecordWriter();
    TWholeRecordWriter(const TWholeRecordWriter&) = delete;
    TWholeRecordWriter& operator=(const TWholeRecordWriter&) = delete;

    // Opens (creates) FileName, closing a file still open first. False, with Error(), when it
    // cannot.
    bool Open(const std::string& FileName, TMode Mode);
    // Appends one record. False, with Error(), the file closed and no part of the record in
    // it, when it cannot be written whole or the file is no longer the one opened.
    bool Write(const void* Record, size_t Size);
    // False, with Error(), when closing reports a failure; closed either way.
    bool Close();

    bool IsOpen() const { return FFd >= 0; }
    // The file's name as opened; kept after it is closed.
    const std::string& FileName() const { return FFileName; }
    // For reading what the file held before (open for appending only).
    int Descriptor() const { return FFd; }
    // Bytes in the file: what it held when opened and the records written since.
    int64_t Size() const { return FSize; }
    // Why the last Open, Write or Close failed: the file, what went wrong and the system's
    // reason.
    const std::string& Error() const { return FError; }

private:
    bool Fail(std::string Message);
    bool StillTheFileOpened(int64_t& SizeNow) const;

    int FFd = -1;
    std::string FFileName;
    int64_t FSize = 0;
    uint64_t FDevice = 0, FInode = 0;
    std::string FError;
};

} // namespace quillex
