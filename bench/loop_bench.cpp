#include "BenchWindow.h"
#include "Clock.h"
#include "SpektroNeu.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

TSystemClock Clock;
quillex::bench::TBenchPrompts Prompts;

// One window for all benchmarks, started in an empty folder at its designed size with
// N = 4096. It is destroyed before the QApplication, which its widgets need.
TForm1& Window()
{
    static QTemporaryDir dir;
    static std::unique_ptr<TForm1> form;
    if (!form) {
        QDir::setCurrent(dir.path());
        form = std::make_unique<TForm1>(Prompts, Clock, QStringList{});
        quillex::bench::StartWindow(*form);
        quillex::bench::AtBenchmarksEnd([] { form.reset(); });
    }
    return *form;
}

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Sync pacing with the receiver unpaced: frames back to back through the real loop; each
// iteration runs 200 frames.
void BM_SyncLoop(benchmark::State& State)
{
    setenv("QUILLEX_SIM_BLOCK_RATE", "0", 1);
    TForm1& form = Window();
    form.RBSync->setChecked(true);
    int64_t frames = 0;
    int64_t stopAt = 0;
    form.OnFrameProcessed = [&] {
        if (++frames >= stopAt)
            form.BtnStartStop->setChecked(false); // the loop ends after this frame
    };
    for (auto _ : State) {
        stopAt = frames + 200;
        form.BtnStartStop->click();
    }
    form.OnFrameProcessed = nullptr;
    State.SetItemsProcessed(frames);
    State.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SyncLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

// What every waterfall row costs the window for the marks where the picture jumps: the row's
// state read from the controls and compared with the last row's. Nothing changes between the
// calls, as in a steady run: no mark may come of it.
void BM_RowJumpCheck(benchmark::State& State)
{
    TForm1& form = Window();
    form.RBFast->setChecked(true);
    // A mark asked for shows with the next row.
    const std::vector<float> row(64, -100.0f);
    form.MarkWaterfallJump();
    form.Spektro->AddLine(row);
    const std::size_t marks = form.Spektro->Marks().size();
    for (auto _ : State)
        form.MarkWaterfallJump();
    form.Spektro->AddLine(row);
    if (form.Spektro->Marks().size() != marks)
        State.SkipWithError("a steady run got a mark");
}
BENCHMARK(BM_RowJumpCheck);

// Fast scan at 100 frames per second with the receiver at its normal block rate: each
// iteration runs the event loop for one second; cpu_percent is the share of one core.
void BM_FastScan100(benchmark::State& State)
{
    unsetenv("QUILLEX_SIM_BLOCK_RATE");
    TForm1& form = Window();
    form.RBFast->setChecked(true);
    form.SESpeed->setValue(100);
    int64_t frames = 0;
    form.OnFrameProcessed = [&] { ++frames; };
    form.BtnStartStop->click();
    double cpu = 0.0;
    double wall = 0.0;
    for (auto _ : State) {
        const double cpu0 = ProcessCpuSeconds();
        QElapsedTimer elapsed;
        elapsed.start();
        QEventLoop loop;
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
        wall += elapsed.nsecsElapsed() * 1e-9;
        cpu += ProcessCpuSeconds() - cpu0;
    }
    form.BtnStartStop->click();
    form.OnFrameProcessed = nullptr;
    State.counters["cpu_percent"] = 100.0 * cpu / wall;
    State.counters["frames_per_s"] = static_cast<double>(frames) / wall;
}
BENCHMARK(BM_FastScan100)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// Sync pacing at the simulated receiver's default pace (150 blocks a second), as the monitor
// runs by default: each iteration runs the loop for one second; cpu_percent is the share of
// one core, to set beside monitor_bench's BM_MonitorProgram.
void BM_SyncDefaultPace(benchmark::State& State)
{
    unsetenv("QUILLEX_SIM_BLOCK_RATE");
    TForm1& form = Window();
    form.RBSync->setChecked(true);
    int64_t frames = 0;
    QElapsedTimer elapsed;
    form.OnFrameProcessed = [&] {
        ++frames;
        if (elapsed.elapsed() >= 1000)
            form.BtnStartStop->setChecked(false);
    };
    double cpu = 0.0;
    double wall = 0.0;
    for (auto _ : State) {
        const double cpu0 = ProcessCpuSeconds();
        elapsed.start();
        form.BtnStartStop->click();
        wall += elapsed.nsecsElapsed() * 1e-9;
        cpu += ProcessCpuSeconds() - cpu0;
    }
    form.OnFrameProcessed = nullptr;
    State.counters["cpu_percent"] = 100.0 * cpu / wall;
    State.counters["frames_per_s"] = static_cast<double>(frames) / wall;
}
BENCHMARK(BM_SyncDefaultPace)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace
