#include "PngWriter.h"

#include "Workers.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

namespace quillex {

namespace {

// Filtered bytes per strip when the writer chooses: enough that a strip's start costs
// nothing, few enough that two threads share even a small image.
constexpr size_t StripBytes = 256 * 1024;
// A strip never exceeds this, so its compressed bytes fit one chunk whatever is asked.
constexpr size_t MaxStripBytes = size_t(1) << 28;
// Strips compressed per thread before they are written: bounds the memory they hold.
constexpr int StripsPerThread = 4;

constexpr uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// A zlib header for deflate with a 32 KiB window, "fastest" level, no dictionary.
constexpr uint8_t ZlibHeader[2] = {0x78, 0x01};
constexpr uint8_t SubFilter = 1;

void PutBigEndian(uint8_t* P, uint32_t Value)
{
    P[0] = uint8_t(Value >> 24);
    P[1] = uint8_t(Value >> 16);
    P[2] = uint8_t(Value >> 8);
    P[3] = uint8_t(Value);
}

// A thread's deflate state and filter buffer, kept from strip to strip.
struct TCoder
{
    z_stream Stream{};
    bool Ready = false;
    std::vector<uint8_t> Filtered;
    TCoder() = default;
    TCoder(const TCoder&) = delete;
    TCoder& operator=(const TCoder&) = delete;
    ~TCoder()
    {
        if (Ready)
            deflateEnd(&Stream);
    }
};

// One strip's part of the stream, with what joining it needs.
struct TPiece
{
    std::vector<uint8_t> Data; // the zlib header first in the first strip
    uLong Adler = 0;           // of the strip's filtered bytes
    size_t Filtered = 0;
    uLong Crc = 0; // of "IDAT" and Data
    bool Ok = false;
};

// Rows First .. First+Rows-1, each behind its filter byte, every byte less the same
// colour's byte of the pixel to its left (nothing left of the first pixel).
void FilterRows(const TRgbPixels& Image, int First, int Rows, uint8_t* Out)
{
    const size_t rowBytes = size_t(Image.Width) * 3;
    for (int r = 0; r < Rows; ++r) {
        const uint8_t* in = Image.Pixels + ptrdiff_t(First + r) * Image.Stride;
        *Out++ = SubFilter;
        std::copy_n(in, 3, Out);
        for (size_t i = 3; i < rowBytes; ++i)
            Out[i] = uint8_t(in[i] - in[i - 3]);
        Out += rowBytes;
    }
}

// Deflates Size bytes into Out behind its first Offset bytes as raw deflate blocks: the
// last strip ends the stream, the others end on a byte boundary with an unfinished block
// so that the next strip's blocks may follow them directly.
bool DeflateStrip(TCoder& C, const uint8_t* In, size_t Size, bool Last, std::vector<uint8_t>& Out,
                  size_t Offset)
{
    if (!C.Ready) {
        if (deflateInit2(&C.Stream, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_RLE) != Z_OK)
            return false;
        C.Ready = true;
    } else if (deflateReset(&C.Stream) != Z_OK) {
        return false;
    }
    C.Stream.next_in = const_cast<Bytef*>(In);
    C.Stream.avail_in = static_cast<uInt>(Size);
    const int flush = Last ? Z_FINISH : Z_SYNC_FLUSH;
    size_t used = Offset;
    Out.resize(Offset + deflateBound(&C.Stream, uLong(Size)) + 16);
    for (;;) {
        C.Stream.next_out = Out.data() + used;
        C.Stream.avail_out = static_cast<uInt>(Out.size() - used);
        const int rc = deflate(&C.Stream, flush);
        used = Out.size() - C.Stream.avail_out;
        if (rc == Z_STREAM_END || (rc == Z_OK && !Last && C.Stream.avail_out != 0))
            break;
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            return false;
        Out.resize(Out.size() * 2); // the flush needs more room than foreseen
    }
    Out.resize(used);
    return true;
}

bool Put(std::FILE* Out, const void* Data, size_t Size)
{
    return Size == 0 || std::fwrite(Data, 1, Size, Out) == Size;
}

bool PutChunk(std::FILE* Out, const char* Type, const uint8_t* Data, uint32_t Size)
{
    uint8_t head[8];
    PutBigEndian(head, Size);
    std::copy_n(Type, 4, head + 4);
    uint8_t tail[4];
    uLong crc = crc32(0, head + 4, 4);
    if (Size > 0) // a null buffer would make crc32 start afresh
        crc = crc32(crc, Data, Size);
    PutBigEndian(tail, uint32_t(crc));
    return Put(Out, head, 8) && Put(Out, Data, Size) && Put(Out, tail, 4);
}

} // namespace

bool WritePngStrips(const TRgbPixels& Image, TWorkers& Workers, std::FILE* Out, int Strips)
{
    const size_t rowBytes = 1 + size_t(std::max(Image.Width, 0)) * 3;
    if (Image.Pixels == nullptr || Image.Width < 1 || Image.Height < 1) {
        errno = EINVAL;
        return false;
    }
    if (rowBytes > MaxStripBytes) {
        errno = EFBIG;
        return false;
    }
    size_t rowsPerStrip = Strips > 0 ? (size_t(Image.Height) + size_t(Strips) - 1) / size_t(Strips)
                                     : std::max<size_t>(1, StripBytes / rowBytes);
    rowsPerStrip = std::clamp<size_t>(rowsPerStrip, 1, MaxStripBytes / rowBytes);
    const int stripRows = int(std::min<size_t>(rowsPerStrip, size_t(Image.Height)));
    const int strips = (Image.Height + stripRows - 1) / stripRows;

    uint8_t header[13];
    PutBigEndian(header, uint32_t(Image.Width));
    PutBigEndian(header + 4, uint32_t(Image.Height));
    header[8] = 8;  // bits per sample
    header[9] = 2;  // RGB
    header[10] = 0; // deflate
    header[11] = 0; // adaptive filtering, one filter byte per row
    header[12] = 0; // no interlace
    if (!Put(Out, Signature, sizeof Signature) || !PutChunk(Out, "IHDR", header, sizeof header))
        return false;

    std::vector<std::unique_ptr<TCoder>> coders;
    for (int t = 0; t < Workers.Threads(); ++t)
        coders.push_back(std::make_unique<TCoder>());
    const int round = StripsPerThread * Workers.Threads();
    std::vector<TPiece> pieces(size_t(std::min(round, strips)));
    uLong adler = adler32(0, nullptr, 0);
    for (int first = 0; first < strips; first += round) {
        const int count = std::min(round, strips - first);
        Workers.Run(count, [&](int Task, int Thread) {
            const int strip = first + Task;
            const int row = strip * stripRows;
            const int rows = std::min(stripRows, Image.Height - row);
            TCoder& coder = *coders[size_t(Thread)];
            TPiece& piece = pieces[size_t(Task)];
            piece.Filtered = size_t(rows) * rowBytes;
            coder.Filtered.resize(piece.Filtered);
            FilterRows(Image, row, rows, coder.Filtered.data());
            piece.Adler =
                adler32(adler32(0, nullptr, 0), coder.Filtered.data(), uInt(piece.Filtered));
            piece.Data.assign(ZlibHeader, ZlibHeader + (strip == 0 ? sizeof ZlibHeader : 0));
            piece.Ok = DeflateStrip(coder, coder.Filtered.data(), piece.Filtered,
                                    strip == strips - 1, piece.Data, piece.Data.size());
            static constexpr uint8_t Type[4] = {'I', 'D', 'A', 'T'};
            piece.Crc = crc32(crc32(0, Type, 4), piece.Data.data(), uInt(piece.Data.size()));
        });
        // In order: each strip its own chunk; the last carries the stream's checksum.
        for (int i = 0; i < count; ++i) {
            const TPiece& piece = pieces[size_t(i)];
            if (!piece.Ok) {
                errno = ENOMEM;
                return false;
            }
            adler = adler32_combine(adler, piece.Adler, z_off_t(piece.Filtered));
            const bool last = first + i == strips - 1;
            uint8_t trailer[4];
            PutBigEndian(trailer, uint32_t(adler));
            const size_t extra = last ? sizeof trailer : 0;
            uint8_t head[8];
            PutBigEndian(head, uint32_t(piece.Data.size() + extra));
            std::copy_n("IDAT", 4, head + 4);
            uint8_t crc[4];
            PutBigEndian(crc, uint32_t(crc32(piece.Crc, trailer, uInt(extra))));
            if (!Put(Out, head, 8) || !Put(Out, piece.Data.data(), piece.Data.size()) ||
                !Put(Out, trailer, extra) || !Put(Out, crc, 4))
                return false;
        }
    }
    return PutChunk(Out, "IEND", nullptr, 0) && std::fflush(Out) == 0 && std::ferror(Out) == 0;
}

} // namespace quillex
