#include "SpektroNeu.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

// Counts every heap allocation of the process, so a benchmark can show that a line
// allocates nothing.
namespace {
std::atomic<long long> Allocations{0};
}

void* operator new(std::size_t Size)
{
    Allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(Size ? Size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* P) noexcept
{
    std::free(P);
}

void operator delete(void* P, std::size_t) noexcept
{
    std::free(P);
}

namespace {

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
        Spektro.show();
        QApplication::processEvents();
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

// AddLine alone: the row into the image and the rows on screen moved up by one.
// Guards the figures against measuring a control that never got its size.
bool Sized(benchmark::State& State, const TSpektroNeu& Spektro)
{
    if (Spektro.WaveImage().size() == QSize(WaveWidth, WaveHeight))
        return true;
    State.SkipWithError("the waterfall did not get the main window's size");
    return false;
}

void BM_AddLine(benchmark::State& State)
{
    MainWindowWaterfall w(true);
    if (!Sized(State, w.Spektro))
        return;
    std::size_t l = 0;
    const long long before = Allocations.load();
    for (auto _ : State) {
        w.Spektro.AddLine(w.Lines[l]);
        l = (l + 1) % w.Lines.size();
    }
    State.counters["allocs_per_line"] =
        double(Allocations.load() - before) / double(State.iterations());
    QApplication::processEvents();
}
BENCHMARK(BM_AddLine);

// Only the control's own work: with the control hidden Qt neither scrolls nor paints.
void BM_AddLineImagesOnly(benchmark::State& State)
{
    MainWindowWaterfall w(true, false);
    if (!Sized(State, w.Spektro))
        return;
    std::size_t l = 0;
    const long long before = Allocations.load();
    for (auto _ : State) {
        w.Spektro.AddLine(w.Lines[l]);
        l = (l + 1) % w.Lines.size();
    }
    State.counters["allocs_per_line"] =
        double(Allocations.load() - before) / double(State.iterations());
}
BENCHMARK(BM_AddLineImagesOnly);

// One line as the user sees it: added, then painted into the window surface by the event
// loop, the way an acquisition tick ends. Argument 1: NoFlicker on (the main window's
// setting); 0: off, where every line repaints the whole area from the image.
void BM_AddLineToScreen(benchmark::State& State)
{
    MainWindowWaterfall w(State.range(0) != 0);
    if (!Sized(State, w.Spektro))
        return;
    std::size_t l = 0;
    const long long before = Allocations.load();
    for (auto _ : State) {
        w.Spektro.AddLine(w.Lines[l]);
        QApplication::processEvents();
        l = (l + 1) % w.Lines.size();
    }
    State.counters["allocs_per_line"] =
        double(Allocations.load() - before) / double(State.iterations());
}
BENCHMARK(BM_AddLineToScreen)->Arg(1)->Arg(0);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
