// Cost of one colour drag move over the main window's plot whose element does not change:
// one hit test, no repaint.

#include "AllocCounter.h"
#include "MainWindowPlot.h"
#include "QtBenchSupport.h"
#include "dxColorhis.h"
#include "dxHisto.h"

#include <QApplication>
#include <QDragMoveEvent>
#include <QMimeData>
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using quillex::bench::AllocationCount;

// The main window's plot with the grid on.
void Configure(TDXHistographInt& h)
{
    quillex::bench::ConfigureMainWindowPlot(h);
    h.setGridVisible(grdBoth);
}

// Moves that stay on one element: over the background (away from curve and grid lines) or along
// the curve's noise floor, alternating between two points so no event repeats its position.
void RunMoves(benchmark::State& state, QPoint a, QPoint b, int expected)
{
    TDXHistograph h;
    Configure(h);
    auto data = quillex::bench::NoisySpectrum(4096, 1);
    h.SetSeriesData(data.data(), 4096, 1);
    quillex::bench::ShowAndSettle(h);
    const auto mime = ColorMimeData(clRed);
    QDragEnterEvent enter(a, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(&h, &enter);
    QDragMoveEvent first(a, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QApplication::sendEvent(&h, &first);
    h.RenderNow();
    QDragMoveEvent moveA(a, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    QDragMoveEvent moveB(b, Qt::CopyAction, mime.get(), Qt::LeftButton, {});
    bool flip = false;
    long long allocs = 0;
    for (auto _ : state) {
        flip = !flip;
        const long long before = AllocationCount();
        QApplication::sendEvent(&h, flip ? &moveB : &moveA);
        allocs += AllocationCount() - before;
    }
    if (h.PreviewElement() != expected || h.RepaintPending()) {
        const std::string what =
            "the element under the pointer changed: " + std::to_string(h.PreviewElement()) +
            (h.RepaintPending() ? ", repaint pending" : "");
        state.SkipWithError(what.c_str());
    }
    state.counters["allocs_per_move"] =
        benchmark::Counter(double(allocs) / double(state.iterations()));
    QDragLeaveEvent leave;
    QApplication::sendEvent(&h, &leave);
}

void BM_DragMove_Background(benchmark::State& state)
{
    // Row 205 (about -125 dBm) lies 8 pixels from the grid lines of -130 and -120 and far below
    // the -110 dBm noise floor; column 300 lies 44 pixels from the nearest vertical line.
    RunMoves(state, QPoint(300, 205), QPoint(301, 205), TDXHistographInt::elBackground);
}
BENCHMARK(BM_DragMove_Background)->Unit(benchmark::kMicrosecond);

void BM_DragMove_SameCurve(benchmark::State& state)
{
    // Pointer on the curve's points at two neighbouring columns of the same series.
    TDXHistograph probe;
    Configure(probe);
    auto data = quillex::bench::NoisySpectrum(4096, 1);
    probe.SetSeriesData(data.data(), 4096, 1);
    auto onCurve = [&](int x) {
        const auto n = probe.FindNearestPoint(x, 150);
        return QPoint(probe.XToPixel(n.ValueX), probe.YToPixel(n.ValueY));
    };
    RunMoves(state, onCurve(400), onCurve(405), TDXHistographInt::elSeries);
}
BENCHMARK(BM_DragMove_SameCurve)->Unit(benchmark::kMicrosecond);

} // namespace
