// Per-frame cost of the spectrum plot: RefreshData on the main window's plot, and the same frame
// arriving through the measure-source path.

#include "AllocCounter.h"
#include "QtBenchSupport.h"
#include "dxHisto.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using quillex::bench::AllocationCount;

// The main window's plot: 845 x 248, gaps 60/0/10/20, one green dtData series.
void Configure(TDXHistographInt& h)
{
    h.resize(845, 248);
    h.setColor(clMenuBar);
    h.setBkColor(clBlack);
    h.setGapLeft(60);
    h.setGapRight(0);
    h.setGapTop(10);
    h.setGapBottom(20);
    h.setViewYMin(-140);
    h.setViewYMax(0.1f);
    h.setViewYGap(10);
    h.setViewYDecimals(0);
    h.setViewXNominalMax(40000);
    h.setViewXCurrentMax(40000);
    h.setViewXGap(5000);
    h.setViewXDecimals(0);
    h.setSeries({50688, 0, 0});
    h.setReduceFlicker(true);
}

// A noisy spectrum with carriers, like a live frame.
std::vector<float> Spectrum(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 3.0f);
    std::vector<float> d(n);
    for (int i = 0; i < n; ++i)
        d[i] = -110.0f + noise(rng) + (i % 61 == 0 ? 50.0f : 0.0f);
    return d;
}

void RunRefresh(benchmark::State& state, TDXHistographInt& h)
{
    auto a = Spectrum(4096, 1);
    auto b = Spectrum(4096, 2);
    h.SetSeriesData(a.data(), 4096, 1);
    h.RenderNow();
    bool flip = false;
    long long allocs = 0;
    for (auto _ : state) {
        // Alternate two frames so every call draws a different curve.
        flip = !flip;
        h.AssignSeriesData(flip ? b.data() : a.data(), 4096, 1);
        const long long before = AllocationCount();
        h.RefreshData();
        allocs += AllocationCount() - before;
        benchmark::DoNotOptimize(h.Surface().constBits());
    }
    state.counters["allocs_per_call"] =
        benchmark::Counter(double(allocs) / double(state.iterations()));
}

void BM_RefreshData_MainWindow(benchmark::State& state)
{
    TDXHistograph h;
    Configure(h);
    RunRefresh(state, h);
}
BENCHMARK(BM_RefreshData_MainWindow)->Unit(benchmark::kMicrosecond);

// The same frame arriving from a measure source: the copy into the plot's channel buffer, then
// AdjustPointBuffer and RefreshData.
void BM_DataArrived_MainWindow(benchmark::State& state)
{
    TDXHistograph h;
    Configure(h);
    auto a = Spectrum(4096, 1);
    auto b = Spectrum(4096, 2);
    TDXMSDataBlock block{};
    block.Channels[0] = {a.data(), 4096};
    h.DataArrived(h.Link(), &block);
    h.RenderNow();
    bool flip = false;
    long long allocs = 0;
    for (auto _ : state) {
        flip = !flip;
        block.Channels[0].Data = flip ? b.data() : a.data();
        const long long before = AllocationCount();
        h.DataArrived(h.Link(), &block);
        allocs += AllocationCount() - before;
        benchmark::DoNotOptimize(h.Surface().constBits());
    }
    state.counters["allocs_per_call"] =
        benchmark::Counter(double(allocs) / double(state.iterations()));
}
BENCHMARK(BM_DataArrived_MainWindow)->Unit(benchmark::kMicrosecond);

// The copy alone, the yardstick for what DataArrived may add to RefreshData.
void BM_CopyChannel4096(benchmark::State& state)
{
    auto a = Spectrum(4096, 1);
    std::vector<float> buffer(4096);
    for (auto _ : state) {
        std::copy_n(a.data(), 4096, buffer.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopyChannel4096)->Unit(benchmark::kMicrosecond);

void BM_RefreshData_MainWindowGrid(benchmark::State& state)
{
    TDXHistograph h;
    Configure(h);
    h.setGridVisible(grdBoth);
    RunRefresh(state, h);
}
BENCHMARK(BM_RefreshData_MainWindowGrid)->Unit(benchmark::kMicrosecond);

// Shown on screen: RefreshData plus Qt's update and the paintEvent copy of the plot area.
void BM_RefreshData_ShownAndFlushed(benchmark::State& state)
{
    TDXHistograph h;
    Configure(h);
    quillex::bench::ShowAndSettle(h);
    auto a = Spectrum(4096, 1);
    auto b = Spectrum(4096, 2);
    h.SetSeriesData(a.data(), 4096, 1);
    QApplication::processEvents();
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        h.SetSeriesData(flip ? b.data() : a.data(), 4096, 1);
        QApplication::processEvents();
    }
}
BENCHMARK(BM_RefreshData_ShownAndFlushed)->Unit(benchmark::kMicrosecond);

// The QPainter path for styled pens, for comparison with the solid-pen path.
void BM_RefreshData_DashedPen(benchmark::State& state)
{
    TDXHistograph h;
    Configure(h);
    h.setSeriesLineStyle(psDash);
    RunRefresh(state, h);
}
BENCHMARK(BM_RefreshData_DashedPen)->Unit(benchmark::kMicrosecond);

// Whole control: frame, titles, owner-drawn labels, grid and curve.
void BM_RenderNow_MainWindow(benchmark::State& state)
{
    TDXHistograph h;
    Configure(h);
    h.setGridVisible(grdBoth);
    h.setOwnerDrawXAxis(true);
    h.setOwnerDrawYAxis(true);
    h.OnXAxis = [](double v, QString& out) { out = QString::asprintf("%0.1f", v / 1000); };
    h.OnYAxis = [](double v, QString& out) { out = QString::asprintf("%3.0f", v); };
    auto a = Spectrum(4096, 1);
    h.SetSeriesData(a.data(), 4096, 1);
    for (auto _ : state) {
        h.RenderNow();
        benchmark::DoNotOptimize(h.Surface().constBits());
    }
}
BENCHMARK(BM_RenderNow_MainWindow)->Unit(benchmark::kMicrosecond);

} // namespace
