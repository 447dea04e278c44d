#include "PngWriter.h"

#include "HuffmanDeflate.h"
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

// One strip's part of the stream, with what joining it needs; its buffer is kept for the
// strips of later rounds and not cleared before the encoder writes it.
struct TPiece
{
    std::unique_ptr<uint8_t[]> Data; // the zlib header first in the first strip
    size_t Capacity = 0;
    size_t Size = 0;
    uLong Adler = 0; // of the strip's filtered bytes
    size_t Filtered = 0;
    uLong Crc = 0; // of "IDAT" and Data
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

    std::vector<std::vector<uint8_t>> filtered(size_t(Workers.Threads()));
    const int round = StripsPerThread * Workers.Threads();
    std::vector<TPiece> pieces(size_t(std::min(round, strips)));
    uLong adler = adler32(0, nullptr, 0);
    for (int first = 0; first < strips; first += round) {
        const int count = std::min(round, strips - first);
        Workers.Run(count, [&](int Task, int Thread) {
            const int strip = first + Task;
            const int row = strip * stripRows;
            const int rows = std::min(stripRows, Image.Height - row);
            std::vector<uint8_t>& rowBuffer = filtered[size_t(Thread)];
            TPiece& piece = pieces[size_t(Task)];
            piece.Filtered = size_t(rows) * rowBytes;
            rowBuffer.resize(piece.Filtered);
            FilterRows(Image, row, rows, rowBuffer.data());
            piece.Adler = adler32(adler32(0, nullptr, 0), rowBuffer.data(), uInt(piece.Filtered));
            const size_t head = strip == 0 ? sizeof ZlibHeader : 0;
            const size_t room = head + HuffmanDeflateBound(piece.Filtered);
            if (piece.Capacity < room) {
                piece.Data = std::make_unique_for_overwrite<uint8_t[]>(room);
                piece.Capacity = room;
            }
            std::copy_n(ZlibHeader, head, piece.Data.get());
            piece.Size = head + HuffmanDeflate(rowBuffer.data(), piece.Filtered,
                                               strip == strips - 1, piece.Data.get() + head);
            static constexpr uint8_t Type[4] = {'I', 'D', 'A', 'T'};
            piece.Crc = crc32(crc32(0, Type, 4), piece.Data.get(), uInt(piece.Size));
        });
        // In order: each strip its own chunk; the last carries the stream's checksum.
        for (int i = 0; i < count; ++i) {
            const TPiece& piece = pieces[size_t(i)];
            adler = adler32_combine(adler, piece.Adler, z_off_t(piece.Filtered));
            const bool last = first + i == strips - 1;
            uint8_t trailer[4];
            PutBigEndian(trailer, uint32_t(adler));
            const size_t extra = last ? sizeof trailer : 0;
            uint8_t head[8];
            PutBigEndian(head, uint32_t(piece.Size + extra));
            std::copy_n("IDAT", 4, head + 4);
            uint8_t crc[4];
            PutBigEndian(crc, uint32_t(crc32(piece.Crc, trailer, uInt(extra))));
            if (!Put(Out, head, 8) || !Put(Out, piece.Data.get(), piece.Size) ||
                !Put(Out, trailer, extra) || !Put(Out, crc, 4))
                return false;
        }
    }
    return PutChunk(Out, "IEND", nullptr, 0) && std::fflush(Out) == 0 && std::ferror(Out) == 0;
}

} // namespace quillex
