#pragma once

#include "Station.h"

#include <cstdint>
#include <vector>

// A viewer's row: the spectrum's levels over the columns of the span it asked for, as the
// display shows them (offsets added, mirrored when inverted), and its binary form on /ws.
namespace quillex::station {

struct TRowRequest
{
    double LowMHz = 0;  // left edge of the first column, as displayed
    double HighMHz = 0; // right edge of the last
    int Columns = 1024;
};

constexpr int MinColumns = 16;
constexpr int MaxColumns = 4096;

// The whole spectrum as displayed for N bins: from the centre of the first displayed bin to that
// of the last, or the mapping's span where it sets one (clipped to the spectrum).
TRowRequest WholeSpan(const TDisplayMapping& Mapping, int N, int Columns);
// A viewer's wish clipped to the monitored span; a span of less than a hundredth of a bin or
// reversed gives the whole span.
TRowRequest ClipRequest(const TRowRequest& Wish, const TDisplayMapping& Mapping, int N);

// Column c covers [Low + c w, Low + (c+1) w), w = (High - Low) / Columns: its level is the
// largest of the bins whose displayed centres fall inside, or of the bin nearest its centre when
// it is narrower than a bin. Levels are 20 log10(m / 16384 + 1e-9) plus the level offset.
void ColumnLevels(const float* Magnitudes, int N, const TDisplayMapping& Mapping,
                  const TRowRequest& Request, float* Levels);

// The binary row, little-endian: the 48-byte header ("QXR1", u32 columns, f64 time in days
// since 1899-12-30 station time, f64 low MHz, f64 high MHz, u32 frames folded, u32 N, u64
// frames so far) and a f32 level in dBm per column.
constexpr int RowHeaderBytes = 48;
void EncodeRow(const TRowRequest& Request, double Time, int Frames, int N, uint64_t FramesSoFar,
               const float* Levels, std::vector<uint8_t>& Out);

} // namespace quillex::station
