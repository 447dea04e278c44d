// Plot interaction costs on the main window's plot (845 x 248, one 4096-value series).

#include "AllocCounter.h"
#include "QtBenchSupport.h"
#include "dxHisto.h"

#include <QApplication>
#include <QMouseEvent>
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

namespace {

using quillex::bench::AllocationCount;

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

std::vector<float> Spectrum(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 3.0f);
    std::vector<float> d(n);
    for (int i = 0; i < n; ++i)
        d[i] = -110.0f + noise(rng) + (i % 61 == 0 ? 50.0f : 0.0f);
    return d;
}

// Pointer positions sweeping the plot, built before measuring.
std::vector<std::unique_ptr<QMouseEvent>> Moves(QWidget& w, int count, Qt::MouseButtons held,
                                                int yFrom, int yTo)
{
    std::vector<std::unique_ptr<QMouseEvent>> out;
    for (int i = 0; i < count; ++i) {
        const QPointF p(70 + (i * 7) % 760, yFrom + (i * 3) % (yTo - yFrom));
        out.push_back(std::make_unique<QMouseEvent>(QEvent::MouseMove, p, w.mapToGlobal(p),
                                                    Qt::NoButton, held, Qt::NoModifier));
    }
    return out;
}

// (a) One measure-mode move. Into the surface: erase, re-snap and draw (a hidden control skips
// Qt's update). With the screen update: shown, and Qt paints the changed strips after each move.
void MeasureMove(benchmark::State& state, bool shown)
{
    TDXHistograph h;
    Configure(h);
    auto data = Spectrum(4096, 1);
    h.SetSeriesData(data.data(), 4096, 1);
    if (shown)
        quillex::bench::ShowAndSettle(h);
    else
        h.RenderNow();
    int events = 0;
    h.OnCrossMove = [&](QObject*, float, float, int, int) { ++events; };
    auto moves = Moves(h, 512, Qt::NoButton, 15, 220);
    QApplication::sendEvent(&h, moves[0].get());
    QApplication::processEvents();
    std::size_t i = 0;
    long long allocs = 0;
    for (auto _ : state) {
        const long long before = AllocationCount();
        QApplication::sendEvent(&h, moves[++i % moves.size()].get());
        allocs += AllocationCount() - before;
        if (shown)
            QApplication::processEvents();
    }
    state.counters["allocs_per_move"] = double(allocs) / double(state.iterations());
    benchmark::DoNotOptimize(events);
}

void BM_MeasureMove_Surface(benchmark::State& state)
{
    MeasureMove(state, false);
}
BENCHMARK(BM_MeasureMove_Surface)->Unit(benchmark::kMicrosecond);

void BM_MeasureMove_WithScreenUpdate(benchmark::State& state)
{
    MeasureMove(state, true);
}
BENCHMARK(BM_MeasureMove_WithScreenUpdate)->Unit(benchmark::kMicrosecond);

// Baseline of the screen-update figure: one pass of Qt's event loop with nothing to paint.
void BM_EventLoopPass_Idle(benchmark::State& state)
{
    TDXHistograph h;
    Configure(h);
    quillex::bench::ShowAndSettle(h);
    for (auto _ : state)
        QApplication::processEvents();
}
BENCHMARK(BM_EventLoopPass_Idle)->Unit(benchmark::kMicrosecond);

// (b) One move of a bend of a 4096-sample reference curve, rubber width 30.
void ReferenceBend(benchmark::State& state, bool showValues)
{
    TDXHistograph h;
    Configure(h);
    h.setSeriesStyle(dtUpperRef);
    h.setShowValues(showValues);
    auto data = Spectrum(4096, 2);
    h.SetSeriesData(data.data(), 4096, 1);
    h.setMode(modeUpperRef);
    quillex::bench::ShowAndSettle(h);
    h.OnReferenceMove = [](QObject*, float, float, int, int) {};
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(420, 120), h.mapToGlobal(QPointF(420, 120)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&h, &press);
    std::vector<std::unique_ptr<QMouseEvent>> moves;
    for (int k = 0; k < 64; ++k) {
        const QPointF p(420, 40 + (k * 5) % 180);
        moves.push_back(std::make_unique<QMouseEvent>(
            QEvent::MouseMove, p, h.mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier));
    }
    std::size_t i = 0;
    long long allocs = 0;
    for (auto _ : state) {
        const long long before = AllocationCount();
        QApplication::sendEvent(&h, moves[++i % moves.size()].get());
        allocs += AllocationCount() - before;
        QApplication::processEvents();
    }
    state.counters["allocs_per_move"] = double(allocs) / double(state.iterations());
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(420, 120),
                        h.mapToGlobal(QPointF(420, 120)), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&h, &release);
}

void BM_ReferenceBendMove_ValueBox(benchmark::State& state)
{
    ReferenceBend(state, true);
}
BENCHMARK(BM_ReferenceBendMove_ValueBox)->Unit(benchmark::kMicrosecond);

void BM_ReferenceBendMove_Event(benchmark::State& state)
{
    ReferenceBend(state, false);
}
BENCHMARK(BM_ReferenceBendMove_Event)->Unit(benchmark::kMicrosecond);

// (c) RefreshData with a resting cross: the repaint re-snaps, redraws and reports it.
void RefreshWithCross(benchmark::State& state, bool cross)
{
    TDXHistograph h;
    Configure(h);
    auto a = Spectrum(4096, 1);
    auto b = Spectrum(4096, 2);
    h.SetSeriesData(a.data(), 4096, 1);
    h.RenderNow();
    int events = 0;
    h.OnCrossMove = [&](QObject*, float, float, int, int) { ++events; };
    if (cross) {
        QMouseEvent move(QEvent::MouseMove, QPointF(420, 120), QPointF(420, 120), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&h, &move);
    }
    bool flip = false;
    long long allocs = 0;
    for (auto _ : state) {
        flip = !flip;
        h.AssignSeriesData(flip ? b.data() : a.data(), 4096, 1);
        const long long before = AllocationCount();
        h.RefreshData();
        allocs += AllocationCount() - before;
        benchmark::DoNotOptimize(h.Surface().constBits());
    }
    state.counters["allocs_per_call"] = double(allocs) / double(state.iterations());
    state.counters["events_per_call"] = double(events) / double(state.iterations());
}

void BM_RefreshData_CrossShown(benchmark::State& state)
{
    RefreshWithCross(state, true);
}
BENCHMARK(BM_RefreshData_CrossShown)->Unit(benchmark::kMicrosecond);

void BM_RefreshData_NoCross(benchmark::State& state)
{
    RefreshWithCross(state, false);
}
BENCHMARK(BM_RefreshData_NoCross)->Unit(benchmark::kMicrosecond);

} // namespace
