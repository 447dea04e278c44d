#include "AllocCounter.h"
#include "StationFeed.h"
#include "StationRows.h"
#include "StationState.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

using namespace quillex::station;
using quillex::bench::AllocationCount;

namespace {

constexpr int Bins = 4096;

std::vector<float> Spectrum(int Seed)
{
    std::mt19937 rng(Seed);
    std::uniform_real_distribution<float> noise(0.5f, 2.0f);
    std::vector<float> m(Bins);
    for (float& v : m)
        v = noise(rng);
    m[1024] = 500;
    return m;
}

// The acquisition thread's share: one frame folded into the view, while the server's thread
// takes the folds every 20 ms as it does when running.
void BM_PublishFrame(benchmark::State& state)
{
    TFrameFeed feed;
    const std::vector<float> frames[2] = {Spectrum(1), Spectrum(2)};
    std::atomic<bool> done{false};
    std::thread server([&] {
        while (!done) {
            feed.Take();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    int i = 0;
    const long long before = AllocationCount();
    for (auto _ : state)
        benchmark::DoNotOptimize(feed.Publish(frames[i++ & 1].data(), Bins, 46000.0));
    state.counters["allocations_per_frame"] =
        double(AllocationCount() - before) / double(state.iterations());
    done = true;
    server.join();
    state.counters["refused"] = double(feed.Refused());
}
BENCHMARK(BM_PublishFrame);

// The server's work for one viewer's row: 4096 bins into 1024 columns of levels, encoded.
void BM_ViewerRow(benchmark::State& state)
{
    const std::vector<float> m = Spectrum(3);
    const TDisplayMapping mapping;
    const TRowRequest request = WholeSpan(mapping, Bins, int(state.range(0)));
    std::vector<float> levels(size_t(request.Columns));
    std::vector<uint8_t> out;
    for (auto _ : state) {
        ColumnLevels(m.data(), Bins, mapping, request, levels.data());
        EncodeRow(request, 46000.0, 15, Bins, 1000, levels.data(), out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ViewerRow)->Arg(1024)->Arg(4096);

// One scrape of /metrics and one /api/status with ten bands, as text.
void BM_MetricsAndStatus(benchmark::State& state)
{
    TStationState station("bench");
    TStationStatus status{"sim", true, true, {{"fft_exponent", "12"}, {"window", "hann"}},
                          0,     10,   {}};
    station.SetStatus(status);
    std::vector<TBandRow> rows;
    for (int b = 0; b < 10; ++b)
        rows.push_back({46000.0, true, 0, "band" + std::to_string(b), 1.0 * b, 1.0 * b + 0.5, -60,
                        -150, 5, 3, 1.0 * b + 0.1, -40});
    station.AddBands(rows);
    for (auto _ : state) {
        benchmark::DoNotOptimize(station.MetricsText({}));
        benchmark::DoNotOptimize(station.StatusJson({}));
    }
}
BENCHMARK(BM_MetricsAndStatus);

} // namespace

BENCHMARK_MAIN();
