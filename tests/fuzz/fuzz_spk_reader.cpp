// The recording reader fed with arbitrary files: the header is parsed as the window's load
// does, then records are read and sought in an order drawn from the input, and every byte,
// stamp, sample, position and end flag is compared with what the file holds.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "FuzzSupport.h"
#include "SpkFile.h"

using namespace quillex;

namespace {

struct TModel
{
    const uint8_t* Data;
    size_t Size;
    uint64_t Offset = 0; // where the reader must be

    // The bytes of one read from Offset: up to a record, the rest of the file at its end.
    size_t Expected(std::vector<uint8_t>& Record) const
    {
        const size_t n = Offset >= Size ? 0 : std::min<uint64_t>(FrameRecordSize, Size - Offset);
        if (n > 0)
            std::memcpy(Record.data(), Data + Offset, n);
        std::memset(Record.data() + n, 0, FrameRecordSize - n);
        return n;
    }
};

void CheckPlace(const TSpkReader& Reader, const TModel& Model)
{
    const uint64_t whole = Model.Offset / FrameRecordSize;
    const uint64_t position = whole + (Model.Offset % FrameRecordSize != 0 ? 1 : 0);
    FUZZ_CHECK(Reader.Position() == static_cast<int64_t>(position), "position");
    FUZZ_CHECK(Reader.AtEnd() == (Model.Offset >= Model.Size), "end flag");
}

// Buffers kept from input to input: allocating them anew costs more than a read.
struct TBuffers
{
    std::vector<uint8_t> Expected = std::vector<uint8_t>(FrameRecordSize);
    std::vector<uint8_t> Got = std::vector<uint8_t>(FrameRecordSize);
    std::vector<int16_t> Block = std::vector<int16_t>(SampleBlockSamples);
    std::vector<int16_t> ExpectedBlock = std::vector<int16_t>(SampleBlockSamples);
};

// One record read as playback reads it (stamp and samples) or raw, and compared.
void ReadAndCompare(TSpkReader& Reader, TModel& Model, TBuffers& B, bool Raw)
{
    const size_t n = Model.Expected(B.Expected);
    if (Raw) {
        std::memset(B.Got.data(), 0xA5, B.Got.size());
        FUZZ_CHECK(Reader.ReadRaw(B.Got.data()) == n, "raw byte count");
        FUZZ_CHECK(B.Got == B.Expected, "raw bytes (missing ones zero)");
        Model.Offset += n;
        return;
    }
    double stamp = -1.0;
    std::memset(B.Block.data(), 0x5A, SampleBlockBytes);
    const TSpkReadResult result = Reader.ReadRecord(stamp, B.Block.data());
    if (n == 0) {
        FUZZ_CHECK(result == TSpkReadResult::End, "end of file");
        return;
    }
    FUZZ_CHECK(result ==
                   (n == size_t(FrameRecordSize) ? TSpkReadResult::Full : TSpkReadResult::Short),
               "read result");
    // The stamp is the first 8 bytes, little-endian; a stamp cut short counts as none. The
    // samples are 16-bit little-endian from byte 8 on, missing ones zero.
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | B.Expected[size_t(i)];
    double expectedStamp = 0.0;
    if (n >= size_t(StampBytes))
        std::memcpy(&expectedStamp, &bits, sizeof expectedStamp);
    FUZZ_CHECK(std::memcmp(&stamp, &expectedStamp, sizeof stamp) == 0, "stamp bits");
    const uint8_t* samples = B.Expected.data() + StampBytes;
    if constexpr (std::endian::native == std::endian::little)
        std::memcpy(B.ExpectedBlock.data(), samples, SampleBlockBytes);
    else
        for (size_t i = 0; i < size_t(SampleBlockSamples); ++i)
            B.ExpectedBlock[i] = static_cast<int16_t>(samples[2 * i] | samples[2 * i + 1] << 8);
    FUZZ_CHECK(B.Block == B.ExpectedBlock, "samples (missing ones zero)");
    Model.Offset += n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    static TScratchFolder folder;
    const std::string path = folder.Put("input.spk", Data, Size);
    TChoices choose(Data, Size);

    // One reader for every input, opened again for each, as the window keeps one for
    // every file it plays.
    static TSpkReader reader;
    static TBuffers buffers;
    reader.Open(path);
    FUZZ_CHECK(reader.ByteSize() == static_cast<int64_t>(Size), "size");
    // The record count rounds the size to the nearest record, ties to even.
    const int64_t whole = int64_t(Size / FrameRecordSize);
    const int64_t rest = int64_t(Size % FrameRecordSize);
    const int64_t count =
        whole +
        ((2 * rest > FrameRecordSize || (2 * rest == FrameRecordSize && whole % 2)) ? 1 : 0);
    FUZZ_CHECK(reader.RecordCount() == count, "record count");

    // Loading: the first record, then its header if it has one.
    TModel model{Data, Size};
    std::vector<uint8_t>& first = buffers.Got;
    std::memset(first.data(), 0xA5, first.size());
    const size_t firstBytes = reader.ReadRaw(first.data());
    FUZZ_CHECK(firstBytes == model.Expected(buffers.Expected) && first == buffers.Expected,
               "first record");
    model.Offset += firstBytes;
    try {
        if (const auto header = ParseOffsetsHeader(first.data(), firstBytes)) {
            // Unmarked, a negative offset means "inverted" and is read as its size; a header
            // that carries the inversion mark after the level keeps the offset's own sign.
            const bool marked = firstBytes > 37 && std::memcmp(Data + 28, "Inverted:", 9) == 0 &&
                                (Data[37] == '0' || Data[37] == '1');
            FUZZ_CHECK(std::isfinite(header->FreqOffset) && (marked || header->FreqOffset >= 0.0),
                       "frequency offset");
            FUZZ_CHECK(std::isfinite(header->LevelOffset), "level offset");
            FUZZ_CHECK(std::memcmp(Data, "Offsets:", 8) == 0, "header tag");
        }
    } catch (const ESpkFormatError&) {
        FUZZ_CHECK(firstBytes >= 8 && std::memcmp(Data, "Offsets:", 8) == 0,
                   "only a tagged record can be a bad header");
    }
    CheckPlace(reader, model);

    // Playing: reads and seeks (within the file, past its end, at the largest records).
    const int64_t last = std::numeric_limits<int64_t>::max() / FrameRecordSize;
    for (int step = 0; step < 12; ++step) {
        switch (choose.Below(5)) {
        case 0:
        case 1:
            try {
                ReadAndCompare(reader, model, buffers, choose.Below(2) == 0);
            } catch (const ESpkReadError&) {
                // The system refuses reads whose end would pass the largest file offset;
                // that may only happen far beyond the file's end.
                FUZZ_CHECK(model.Offset >
                               uint64_t(std::numeric_limits<int64_t>::max()) - (uint64_t(1) << 21),
                           "read error inside the file");
            }
            break;
        case 2: {
            const int64_t record = int64_t(choose.Below(uint64_t(count) + 3));
            reader.Seek(record);
            model.Offset = uint64_t(record) * FrameRecordSize;
            break;
        }
        case 3: {
            // File systems with a smaller largest offset refuse these seeks, which is fine.
            const int64_t record = last - int64_t(choose.Below(3));
            try {
                reader.Seek(record);
                model.Offset = uint64_t(record) * FrameRecordSize;
            } catch (const ESpkReadError&) {
            }
            break;
        }
        default: {
            const int64_t bad = choose.Below(2) ? -1 - int64_t(choose.Below(1000)) : last + 1;
            const uint64_t before = model.Offset;
            bool refused = false;
            try {
                reader.Seek(bad);
            } catch (const ESpkReadError&) {
                refused = true;
            }
            FUZZ_CHECK(refused && model.Offset == before, "a seek outside the file's range");
            break;
        }
        }
        CheckPlace(reader, model);
    }
    return 0;
}
