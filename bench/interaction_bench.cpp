// Plot interaction costs on the main window's plot (845 x 248, one 4096-value series). Run under
// QT_SCALE_FACTOR=2 for a high-density screen; the Ratio2 case draws at ratio 2 on any screen.

#include "AllocCounter.h"
#include "MainWindowPlot.h"
#include "QtBenchSupport.h"
#include "dxHisto.h"

#include <QApplication>
#include <QMouseEvent>
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

using quillex::bench::AllocationCount;
using quillex::bench::ConfigureMainWindowPlot;
using quillex::bench::NoisySpectrum;

using MoveList = std::vector<std::unique_ptr<QMouseEvent>>;

// Count pointer moves to the points At(0) .. At(Count - 1), built before measuring.
template <typename PointAt> MoveList Moves(QWidget& w, int count, Qt::MouseButtons held, PointAt at)
{
    MoveList out;
    for (int i = 0; i < count; ++i) {
        const QPointF p = at(i);
        out.push_back(std::make_unique<QMouseEvent>(QEvent::MouseMove, p, w.mapToGlobal(p),
                                                    Qt::NoButton, held, Qt::NoModifier));
    }
    return out;
}

// Sends the moves in turn, one per iteration, with Qt's screen update after each unless
// `flush` is false; reports the allocations of the control's handling per move.
void TimeMoves(benchmark::State& state, QWidget& w, const MoveList& moves, bool flush)
{
    std::size_t i = 0;
    long long allocs = 0;
    for (auto _ : state) {
        const long long before = AllocationCount();
        QApplication::sendEvent(&w, moves[++i % moves.size()].get());
        allocs += AllocationCount() - before;
        if (flush)
            QApplication::processEvents();
    }
    state.counters["allocs_per_move"] = double(allocs) / double(state.iterations());
}

// (a) One measure-mode move. Into the surface: erase, re-snap and draw (a hidden control skips
// Qt's update). With the screen update: shown, and Qt paints the changed strips after each move.
void MeasureMove(benchmark::State& state, bool shown, qreal ratio)
{
    TDXHistograph h;
    ConfigureMainWindowPlot(h);
    h.SetSurfaceRatio(ratio);
    auto data = NoisySpectrum(4096, 1);
    h.SetSeriesData(data.data(), 4096, 1);
    if (shown)
        quillex::bench::ShowAndSettle(h);
    else
        h.RenderNow();
    int events = 0;
    h.OnCrossMove = [&](QObject*, float, float, int, int) { ++events; };
    // Sweeping the plot area.
    const auto moves = Moves(h, 512, Qt::NoButton,
                             [](int i) { return QPointF(70 + (i * 7) % 760, 15 + (i * 3) % 205); });
    QApplication::sendEvent(&h, moves[0].get());
    QApplication::processEvents();
    TimeMoves(state, h, moves, shown);
    benchmark::DoNotOptimize(events);
}
BENCHMARK_CAPTURE(MeasureMove, Surface, false, 0.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(MeasureMove, SurfaceRatio2, false, 2.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(MeasureMove, WithScreenUpdate, true, 0.0)->Unit(benchmark::kMicrosecond);

// Baseline of the screen-update figure: one pass of Qt's event loop with nothing to paint.
void BM_EventLoopPass_Idle(benchmark::State& state)
{
    TDXHistograph h;
    ConfigureMainWindowPlot(h);
    quillex::bench::ShowAndSettle(h);
    for (auto _ : state)
        QApplication::processEvents();
}
BENCHMARK(BM_EventLoopPass_Idle)->Unit(benchmark::kMicrosecond);

// (b) One move of a bend of a 4096-sample reference curve, rubber width 30, with Qt's screen
// update of the strip (and of the value box) unless `flush` is false.
void ReferenceBend(benchmark::State& state, bool showValues, bool flush)
{
    TDXHistograph h;
    ConfigureMainWindowPlot(h);
    h.setSeriesStyle(dtUpperRef);
    h.setShowValues(showValues);
    auto data = NoisySpectrum(4096, 2);
    h.SetSeriesData(data.data(), 4096, 1);
    h.setMode(modeUpperRef);
    quillex::bench::ShowAndSettle(h);
    h.OnReferenceMove = [](QObject*, float, float, int, int) {};
    const QPointF grip(420, 120);
    QMouseEvent press(QEvent::MouseButtonPress, grip, h.mapToGlobal(grip), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&h, &press);
    // Up and down the grip's column.
    const auto moves =
        Moves(h, 64, Qt::LeftButton, [](int k) { return QPointF(420, 40 + (k * 5) % 180); });
    TimeMoves(state, h, moves, flush);
    QMouseEvent release(QEvent::MouseButtonRelease, grip, h.mapToGlobal(grip), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&h, &release);
}
BENCHMARK_CAPTURE(ReferenceBend, ValueBox, true, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ReferenceBend, ValueBoxIntoSurface, true, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ReferenceBend, Event, false, true)->Unit(benchmark::kMicrosecond);

// (c) RefreshData with a resting cross: the repaint re-snaps, redraws and reports it.
void RefreshWithCross(benchmark::State& state, bool cross)
{
    TDXHistograph h;
    ConfigureMainWindowPlot(h);
    auto a = NoisySpectrum(4096, 1);
    auto b = NoisySpectrum(4096, 2);
    h.SetSeriesData(a.data(), 4096, 1);
    h.RenderNow();
    int events = 0;
    h.OnCrossMove = [&](QObject*, float, float, int, int) { ++events; };
    if (cross) {
        QMouseEvent move(QEvent::MouseMove, QPointF(420, 120), QPointF(420, 120), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&h, &move);
    }
    quillex::bench::TimeRefreshData(state, h, a, b);
    state.counters["events_per_call"] = double(events) / double(state.iterations());
}
BENCHMARK_CAPTURE(RefreshWithCross, CrossShown, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RefreshWithCross, NoCross, false)->Unit(benchmark::kMicrosecond);

} // namespace
