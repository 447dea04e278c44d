// Per-frame cost of the spectrum plot: RefreshData on the main window's plot (at device pixel
// ratio 1, and at ratio 2 as on a high-density screen), and the same frame arriving through the
// measure-source path. Run under QT_SCALE_FACTOR=2, the cases that follow the screen (all but the
// Ratio ones) draw at ratio 2 and the shown case includes Qt's copy to a ratio-2 screen.

#include "AllocCounter.h"
#include "MainWindowPlot.h"
#include "QtBenchSupport.h"
#include "dxHisto.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

using quillex::bench::AllocationCount;
using quillex::bench::ConfigureMainWindowPlot;
using quillex::bench::NoisySpectrum;

void RunRefresh(benchmark::State& state, TDXHistographInt& h)
{
    auto a = NoisySpectrum(4096, 1);
    auto b = NoisySpectrum(4096, 2);
    h.SetSeriesData(a.data(), 4096, 1);
    h.RenderNow();
    quillex::bench::TimeRefreshData(state, h, a, b);
}

void BM_RefreshData_MainWindow(benchmark::State& state)
{
    TDXHistograph h;
    ConfigureMainWindowPlot(h);
    RunRefresh(state, h);
}
BENCHMARK(BM_RefreshData_MainWindow)->Unit(benchmark::kMicrosecond);

// The plot drawn at a set device pixel ratio whatever the screen: 1690 x 496 device pixels at
// ratio 2, the curve decimated per device column.
void RefreshAtRatio(benchmark::State& state, qreal ratio, bool grid)
{
    TDXHistograph h;
    ConfigureMainWindowPlot(h);
    h.SetSurfaceRatio(ratio);
    if (grid)
        h.setGridVisible(grdBoth);
    RunRefresh(state, h);
}
BENCHMARK_CAPTURE(RefreshAtRatio, Ratio1, 1.0, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RefreshAtRatio, Ratio2, 2.0, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RefreshAtRatio, Ratio2Grid, 2.0, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RefreshAtRatio, Ratio1_5, 1.5, false)->Unit(benchmark::kMicrosecond);

// The same frame arriving from a measure source: the copy into the plot's channel buffer, then
// AdjustPointBuffer and RefreshData.
void BM_DataArrived_MainWindow(benchmark::State& state)
{
    TDXHistograph h;
    ConfigureMainWindowPlot(h);
    auto a = NoisySpectrum(4096, 1);
    auto b = NoisySpectrum(4096, 2);
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
    auto a = NoisySpectrum(4096, 1);
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
    ConfigureMainWindowPlot(h);
    h.setGridVisible(grdBoth);
    RunRefresh(state, h);
}
BENCHMARK(BM_RefreshData_MainWindowGrid)->Unit(benchmark::kMicrosecond);

// Shown on screen: RefreshData plus Qt's update and the paintEvent copy of the plot area.
void BM_RefreshData_ShownAndFlushed(benchmark::State& state)
{
    TDXHistograph h;
    ConfigureMainWindowPlot(h);
    quillex::bench::ShowAndSettle(h);
    auto a = NoisySpectrum(4096, 1);
    auto b = NoisySpectrum(4096, 2);
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
    ConfigureMainWindowPlot(h);
    h.setSeriesLineStyle(psDash);
    RunRefresh(state, h);
}
BENCHMARK(BM_RefreshData_DashedPen)->Unit(benchmark::kMicrosecond);

// Whole control: frame, titles, owner-drawn labels, grid and curve.
void BM_RenderNow_MainWindow(benchmark::State& state)
{
    TDXHistograph h;
    ConfigureMainWindowPlot(h);
    h.setGridVisible(grdBoth);
    h.setOwnerDrawXAxis(true);
    h.setOwnerDrawYAxis(true);
    h.OnXAxis = [](double v, QString& out) { out = QString::asprintf("%0.1f", v / 1000); };
    h.OnYAxis = [](double v, QString& out) { out = QString::asprintf("%3.0f", v); };
    auto a = NoisySpectrum(4096, 1);
    h.SetSeriesData(a.data(), 4096, 1);
    for (auto _ : state) {
        h.RenderNow();
        benchmark::DoNotOptimize(h.Surface().constBits());
    }
}
BENCHMARK(BM_RenderNow_MainWindow)->Unit(benchmark::kMicrosecond);

// The whole control at ratio 2: four times the pixels, text drawn at device resolution.
void BM_RenderNow_MainWindowRatio2(benchmark::State& state)
{
    TDXHistograph h;
    ConfigureMainWindowPlot(h);
    h.SetSurfaceRatio(2.0);
    h.setGridVisible(grdBoth);
    h.setOwnerDrawXAxis(true);
    h.setOwnerDrawYAxis(true);
    h.OnXAxis = [](double v, QString& out) { out = QString::asprintf("%0.1f", v / 1000); };
    h.OnYAxis = [](double v, QString& out) { out = QString::asprintf("%3.0f", v); };
    auto a = NoisySpectrum(4096, 1);
    h.SetSeriesData(a.data(), 4096, 1);
    for (auto _ : state) {
        h.RenderNow();
        benchmark::DoNotOptimize(h.Surface().constBits());
    }
}
BENCHMARK(BM_RenderNow_MainWindowRatio2)->Unit(benchmark::kMicrosecond);

} // namespace
