// The PNG writer's compression of a waterfall's filtered rows on one thread: the literal-only
// Huffman encoder (in the writer's strips) against zlib's level 1 with run-length matches,
// which the writer used before, and zlib's Huffman-only coding, the size to match. Bytes per
// second are of filtered input; "compressed" is the output's size in bytes.
// Run with
//   deflate_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "HuffmanDeflate.h"
#include "SpektroNeuMapping.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// An export at exponent 12 folded by 20: 4096 columns, 1000 rows.
constexpr int Columns = 4096;
constexpr int Rows = 1000;
constexpr size_t RowBytes = 1 + 3 * size_t(Columns);
// The writer's strips: about 256 KiB of whole rows.
constexpr size_t StripBytes = 256 * 1024 / RowBytes * RowBytes;

// Levels as a max-folded waterfall of receiver noise shows them (the maximum of 20
// exponentially distributed powers, in dB, on a slowly varying floor) with a few carriers
// above the scale, in the exporter's default colours (-120 .. -80 dBm), every row
// "Sub"-filtered as the PNG writer filters it.
const std::vector<uint8_t>& FilteredRows()
{
    static const std::vector<uint8_t> rows = [] {
        quillex::TLevelToColor colours;
        colours.SetRange(-120, -80);
        std::mt19937 random(3);
        std::uniform_real_distribution<double> uniform(0, 1);
        std::vector<uint8_t> out(RowBytes * Rows);
        std::vector<uint8_t> rgb(3 * size_t(Columns));
        for (int y = 0; y < Rows; ++y) {
            for (int x = 0; x < Columns; ++x) {
                const double power = -std::log(1 - std::pow(uniform(random), 1.0 / 20));
                double level = -105.5 + 3 * std::sin(x / 600.0) + 10 * std::log10(power);
                if (x % 800 < 40)
                    level += 50;
                const uint32_t pixel = colours.LevelToPixel(quillex::RoundLevel(float(level)), 0);
                rgb[3 * size_t(x)] = uint8_t(pixel >> 16);
                rgb[3 * size_t(x) + 1] = uint8_t(pixel >> 8);
                rgb[3 * size_t(x) + 2] = uint8_t(pixel);
            }
            uint8_t* line = out.data() + size_t(y) * RowBytes;
            line[0] = 1;
            for (size_t i = 0; i < rgb.size(); ++i)
                line[1 + i] = uint8_t(rgb[i] - (i >= 3 ? rgb[i - 3] : 0));
        }
        return out;
    }();
    return rows;
}

void BM_HuffmanDeflate(benchmark::State& State)
{
    const std::vector<uint8_t>& in = FilteredRows();
    std::vector<uint8_t> out(quillex::HuffmanDeflateBound(StripBytes));
    size_t size = 0;
    for (auto _ : State) {
        size = 0;
        for (size_t p = 0; p < in.size(); p += StripBytes) {
            const size_t n = std::min(StripBytes, in.size() - p);
            size += quillex::HuffmanDeflate(in.data() + p, n, p + n == in.size(), out.data());
        }
        benchmark::DoNotOptimize(out.data());
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(in.size()));
    State.counters["compressed"] = double(size);
}
BENCHMARK(BM_HuffmanDeflate)->Unit(benchmark::kMillisecond);

// zlib's raw deflate of the whole image at level 1 with the given strategy.
void ZlibDeflate(benchmark::State& State, int Strategy)
{
    const std::vector<uint8_t>& in = FilteredRows();
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, -MAX_WBITS, 8, Strategy) != Z_OK) {
        State.SkipWithError("deflateInit2 failed");
        return;
    }
    std::vector<uint8_t> out(deflateBound(&z, uLong(in.size())));
    for (auto _ : State) {
        deflateReset(&z);
        z.next_in = const_cast<Bytef*>(in.data());
        z.avail_in = uInt(in.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) {
            State.SkipWithError("deflate did not finish");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(in.size()));
    State.counters["compressed"] = double(z.total_out);
    deflateEnd(&z);
}
BENCHMARK_CAPTURE(ZlibDeflate, Level1Rle, Z_RLE)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ZlibDeflate, Level1HuffmanOnly, Z_HUFFMAN_ONLY)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
