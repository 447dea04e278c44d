#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "OutputFile.h"
#include "SpkFile.h"

namespace quillex {

class TSpkRecordFile;

// The two files of a SigMF recording: BASE.sigmf-data and BASE.sigmf-meta. A base given
// with either ending stands for the base without it.
struct TSigmfNames
{
    std::string Data;
    std::string Meta;
};
TSigmfNames SigmfNames(const std::string& Base);

// Text as a JSON string, quotes included. Bytes that are no UTF-8 (a file name may hold
// any) become U+FFFD, so the document stays valid.
std::string JsonString(std::string_view Text);

// The frames to write and what the metadata says about them.
struct TSigmfSource
{
    const TSpkRecordFile& File;
    std::string Name; // the recording's file name
    std::optional<TOffsetsHeader> Header;
    int64_t First = 0; // record indexes, inclusive
    int64_t Last = 0;
};

// Writes frames of a recording as a SigMF recording: their raw samples one after the
// other (little-endian 16-bit real at 80 MHz, as the receiver delivered them) and a capture
// per frame in the metadata, since frames are snapshots, not a continuous stream. Both
// files are written as the records are read, so memory stays a batch of records whatever
// the recording's size.
class TSigmfExport
{
public:
    // Creates both files under temporary names; throws TExportError (OutputFile).
    explicit TSigmfExport(const std::string& Base);

    using TFramesSeen = std::function<void(int64_t First, int Count, const double* Stamps)>;
    using TProgress = std::function<void(int64_t Done)>;
    // Throws TExportError: InputFile when the recording cannot be read, OutputFile when a
    // file cannot be written (then neither is left).
    void Write(const TSigmfSource& Source, const TFramesSeen& Frames, const TProgress& Progress);
    // Renames both to their names, or neither.
    void Commit();
    TOutputFile& Data() { return FData; }
    TOutputFile& Meta() { return FMeta; }

private:
    void WriteGlobal(const TSigmfSource& Source);
    void Put(TOutputFile& File, const void* Bytes, size_t Size);
    void Put(TOutputFile& File, std::string_view Text) { Put(File, Text.data(), Text.size()); }
    void Flush(TOutputFile& File);

    TSigmfNames FNames;
    TOutputFile FData;
    TOutputFile FMeta;
};

} // namespace quillex
