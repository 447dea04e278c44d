#include "StationRows.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace quillex::station {

namespace {

constexpr double SpectrumMHz = 40.0;

// Fractional displayed bin of a displayed frequency.
double DisplayedBinOf(double MHz, const TDisplayMapping& Mapping, int N)
{
    return (MHz - Mapping.FreqOffsetMHz) * N / SpectrumMHz;
}

template <typename T> void Put(std::vector<uint8_t>& Out, size_t& At, T Value)
{
    static_assert(std::endian::native == std::endian::little);
    std::memcpy(Out.data() + At, &Value, sizeof Value);
    At += sizeof Value;
}

} // namespace

TRowRequest WholeSpan(const TDisplayMapping& Mapping, int N, int Columns)
{
    const double first = Mapping.FreqOffsetMHz;
    const double last = Mapping.FreqOffsetMHz + SpectrumMHz * (N - 1) / N;
    TRowRequest whole{first, last, std::clamp(Columns, MinColumns, MaxColumns)};
    if (Mapping.SpanHighMHz > Mapping.SpanLowMHz) {
        whole.LowMHz = std::clamp(Mapping.SpanLowMHz, first, last);
        whole.HighMHz = std::clamp(Mapping.SpanHighMHz, first, last);
        if (!(whole.HighMHz > whole.LowMHz)) {
            whole.LowMHz = first;
            whole.HighMHz = last;
        }
    }
    return whole;
}

TRowRequest ClipRequest(const TRowRequest& Wish, const TDisplayMapping& Mapping, int N)
{
    const TRowRequest whole = WholeSpan(Mapping, N, Wish.Columns);
    TRowRequest clipped = whole;
    if (std::isfinite(Wish.LowMHz) && std::isfinite(Wish.HighMHz)) {
        clipped.LowMHz = std::clamp(Wish.LowMHz, whole.LowMHz, whole.HighMHz);
        clipped.HighMHz = std::clamp(Wish.HighMHz, whole.LowMHz, whole.HighMHz);
    }
    if (!(clipped.HighMHz - clipped.LowMHz >= SpectrumMHz / N / 100))
        return whole;
    return clipped;
}

void ColumnLevels(const float* Magnitudes, int N, const TDisplayMapping& Mapping,
                  const TRowRequest& Request, float* Levels)
{
    const int columns = Request.Columns;
    const double width = (Request.HighMHz - Request.LowMHz) / columns;
    for (int c = 0; c < columns; ++c) {
        const double from = DisplayedBinOf(Request.LowMHz + c * width, Mapping, N);
        const double to = DisplayedBinOf(Request.LowMHz + (c + 1) * width, Mapping, N);
        int first = int(std::ceil(from));
        int last = int(std::ceil(to)) - 1;
        if (last < first)
            first = last = int(std::lround((from + to) / 2));
        first = std::clamp(first, 0, N - 1);
        last = std::clamp(last, 0, N - 1);
        float m = 0;
        for (int d = first; d <= last; ++d) {
            const float v = Magnitudes[Mapping.Inverted ? N - 1 - d : d];
            m = v > m ? v : m;
        }
        Levels[c] = float(20.0 * std::log10(m / 16384.0 + 1e-9) + Mapping.LevelOffsetDb);
    }
}

void EncodeRow(const TRowRequest& Request, double Time, int Frames, int N, uint64_t FramesSoFar,
               const float* Levels, std::vector<uint8_t>& Out)
{
    Out.resize(RowHeaderBytes + sizeof(float) * size_t(Request.Columns));
    size_t at = 0;
    std::memcpy(Out.data(), "QXR1", 4);
    at = 4;
    Put(Out, at, uint32_t(Request.Columns));
    Put(Out, at, Time);
    Put(Out, at, Request.LowMHz);
    Put(Out, at, Request.HighMHz);
    Put(Out, at, uint32_t(Frames));
    Put(Out, at, uint32_t(N));
    Put(Out, at, FramesSoFar);
    std::memcpy(Out.data() + at, Levels, sizeof(float) * size_t(Request.Columns));
}

} // namespace quillex::station
