#include "AllocCounter.h"
#include "QtBenchSupport.h"
#include "SpektroNeu.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

using quillex::bench::AllocationCount;

// The main window's waterfall: about 785 x 420 pixels of waterfall under a 60-pixel margin.
constexpr int WaveWidth = 785;
constexpr int WaveHeight = 420;
constexpr int Levels = 4096;

struct MainWindowWaterfall
{
    TSpektroNeu Spektro;
    std::vector<std::vector<float>> Lines;

    explicit MainWindowWaterfall(bool NoFlicker, bool Shown = true)
    {
        Spektro.setGapLeft(60);
        Spektro.setZMin(-140);
        Spektro.setZMax(-40);
        Spektro.setNoFlicker(NoFlicker);
        Spektro.resize(WaveWidth + 60 + 2, WaveHeight + 2);
        quillex::bench::ShowAndSettle(Spektro);
        Spektro.setVisible(Shown);
        // A few different noisy spectra, so colours change from line to line.
        std::srand(1);
        for (int l = 0; l < 8; ++l) {
            std::vector<float> line(Levels);
            for (int i = 0; i < Levels; ++i)
                line[std::size_t(i)] = -120.0f + 30.0f * std::sin(0.01f * float(i * (l + 1))) +
                                       float(std::rand() % 20);
            Lines.push_back(std::move(line));
        }
        Spektro.AddLine(Lines[0]);
        Spektro.AddTimeMark("hh:nn:ss", 46000.5);
    }
};

// Guards the figures against measuring a control that never got its size. The images hold
// device pixels: run with QT_SCALE_FACTOR=2 for the figures at device pixel ratio 2.
bool Sized(benchmark::State& State, const TSpektroNeu& Spektro)
{
    State.counters["ratio"] = Spektro.Ratio();
    if (Spektro.WaveImage().deviceIndependentSize() == QSizeF(WaveWidth, WaveHeight))
        return true;
    State.SkipWithError("the waterfall did not get the main window's size");
    return false;
}

// Adds the prepared lines in turn, one per iteration; with Settle the event loop runs after
// each line, the way an acquisition tick ends.
template <bool Settle> void AddLines(benchmark::State& State, MainWindowWaterfall& w)
{
    if (!Sized(State, w.Spektro))
        return;
    std::size_t l = 0;
    const long long before = AllocationCount();
    for (auto _ : State) {
        w.Spektro.AddLine(w.Lines[l]);
        if constexpr (Settle)
            QApplication::processEvents();
        l = (l + 1) % w.Lines.size();
    }
    State.counters["allocs_per_line"] =
        double(AllocationCount() - before) / double(State.iterations());
}

// AddLine alone: the row into the image and the rows on screen moved up by one.
void BM_AddLine(benchmark::State& State)
{
    MainWindowWaterfall w(true);
    AddLines<false>(State, w);
    QApplication::processEvents();
}
BENCHMARK(BM_AddLine);

// Only the control's own work: with the control hidden Qt neither scrolls nor paints.
void BM_AddLineImagesOnly(benchmark::State& State)
{
    MainWindowWaterfall w(true, false);
    AddLines<false>(State, w);
}
BENCHMARK(BM_AddLineImagesOnly);

// One line as the user sees it: added, then painted into the window surface by the event
// loop. Argument 1: NoFlicker on (the main window's setting); 0: off, where every line
// repaints the whole area from the image.
void BM_AddLineToScreen(benchmark::State& State)
{
    MainWindowWaterfall w(State.range(0) != 0);
    AddLines<true>(State, w);
}
BENCHMARK(BM_AddLineToScreen)->Arg(1)->Arg(0);

// One step of a drag of the window edge over a full waterfall: the control one pixel wider or
// narrower (argument 0) or higher or lower (argument 1), every row scaled again from its
// painted pixels. With the event loop run, so Qt's repaint of the areas counts too.
void BM_ResizeStep(benchmark::State& State)
{
    MainWindowWaterfall w(true);
    if (!Sized(State, w.Spektro))
        return;
    for (int i = 0; i < WaveHeight; ++i)
        w.Spektro.AddLine(w.Lines[std::size_t(i) % w.Lines.size()]);
    const QSize size = w.Spektro.size();
    const QSize step = State.range(0) == 0 ? QSize(1, 0) : QSize(0, 1);
    bool grown = false;
    for (auto _ : State) {
        grown = !grown;
        w.Spektro.resize(grown ? size + step : size);
        QApplication::processEvents();
    }
    const QImage wave = w.Spektro.WaveImage();
    if (wave.pixel(wave.width() / 2, wave.height() - 1) == 0xff000000u)
        State.SkipWithError("the rows did not survive the resizes");
}
BENCHMARK(BM_ResizeStep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
