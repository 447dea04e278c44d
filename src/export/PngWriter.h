#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace quillex {

class TWorkers;

// An 8-bit RGB image in memory: Height rows of Width pixels, 3 bytes each (R, G, B),
// a row Stride bytes after the one before.
struct TRgbPixels
{
    const uint8_t* Pixels = nullptr;
    int Width = 0;
    int Height = 0;
    ptrdiff_t Stride = 0;
};

// Writes Image as a PNG (8-bit RGB, no interlace, every row with the "Sub" filter),
// compressed on Workers' threads: the rows are cut into strips, each deflated on its own
// (Huffman-coded literals, which suit waterfall noise and lose nothing by the cut) and the
// pieces joined into one zlib stream. Strips 0 chooses by size; more strips than rows are
// fewer. Memory beyond the image is a few strips per thread. False on an error (errno
// tells which).
bool WritePngStrips(const TRgbPixels& Image, TWorkers& Workers, std::FILE* Out, int Strips = 0);

} // namespace quillex
