// The window's markers, hold traces and limits per frame at N = 4096: what they add to a processed
// frame (FFT, levels, plot repaint, waterfall line), and their own work alone with its allocations.

#include "AllocCounter.h"
#include "BenchWindow.h"
#include "Clock.h"
#include "Unit1Limits.h"
#include "Unit1Markers.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QSpinBox>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <random>

namespace {

TSystemClock Clock;
quillex::bench::TBenchPrompts Prompts;

// One window for all benchmarks, at its designed size with N = 4096 and a 10 MHz span; its
// block holds 40 carriers 10 to 70 dB over receiver-like noise.
TForm1& Window()
{
    static QTemporaryDir dir;
    static std::unique_ptr<TForm1> form;
    if (!form) {
        QDir::setCurrent(dir.path());
        form = std::make_unique<TForm1>(Prompts, Clock, QStringList{QStringLiteral("DEBUG")});
        quillex::bench::StartWindow(*form);
        form->RGBW->setItemIndex(1);
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0.0, 20.0);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::vector<double> mhz(40), amplitude(40);
        for (int t = 0; t < 40; ++t) {
            mhz[t] = 0.5 + 39.0 * u(rng);
            amplitude[t] = 20.0 * std::pow(10.0, (10 + 60 * u(rng)) / 20) / 40;
        }
        for (int n = 0; n < TForm1::BlockSamples; ++n) {
            double v = noise(rng);
            for (int t = 0; t < 40; ++t)
                v += amplitude[t] * std::cos(std::numbers::pi * mhz[t] * n / 40.0);
            form->SampleBlock[size_t(n)] = int16_t(std::clamp(std::lround(v), -32768L, 32767L));
        }
        form->ProcessFrame();
        quillex::bench::AtBenchmarksEnd([] { form.reset(); });
    }
    return *form;
}

// Tools 0: none; 1: max hold, min hold and the mean of 100 frames; 2: those and two markers;
// 3: those and an upper and a lower limit from the trace, checked every frame.
void SetTools(TForm1& Form, int Tools)
{
    TMeasureTools& m = *Form.Measure;
    Form.Limits->ClearLimitsClick();
    m.ActMarkersOff->trigger();
    m.SEAverageFrames->setValue(100);
    for (QCheckBox* box : {m.CBMaxHold, m.CBMinHold, m.CBAverage})
        box->setChecked(Tools >= 1);
    if (Tools >= 2) {
        m.ActPeak->trigger();
        m.ActPeak2->trigger();
        m.ActNextPeakRight2->trigger();
    }
    if (Tools >= 3) {
        Form.Limits->FromTraceClick(quillex::TLimitKind::Upper);
        Form.Limits->FromTraceClick(quillex::TLimitKind::Lower);
    }
}

void BM_ProcessFrame(benchmark::State& State)
{
    TForm1& form = Window();
    SetTools(form, int(State.range(0)));
    const long long before = quillex::bench::AllocationCount();
    for (auto _ : State)
        form.ProcessFrame();
    State.counters["allocs"] = benchmark::Counter(
        double(quillex::bench::AllocationCount() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ProcessFrame)->ArgName("tools")->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// The tools' own per-frame work: the holds take the frame, the markers follow their peaks,
// the shown part of the holds becomes levels and the read-out its texts.
void BM_MeasureFrame(benchmark::State& State)
{
    TForm1& form = Window();
    SetTools(form, int(State.range(0)));
    form.ProcessFrame(); // the holds have a frame to show
    const long long before = quillex::bench::AllocationCount();
    for (auto _ : State)
        form.Measure->FrameProcessed();
    State.counters["allocs"] = benchmark::Counter(
        double(quillex::bench::AllocationCount() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_MeasureFrame)->ArgName("tools")->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// The window's frame recipe alone (transform, averages, levels, holds, markers, limit check),
// which must not allocate whatever the tools.
void BM_RecipeFrame(benchmark::State& State)
{
    TForm1& form = Window();
    SetTools(form, int(State.range(0)));
    int64_t index = 0;
    const long long before = quillex::bench::AllocationCount();
    for (auto _ : State)
        form.Recipe.Process(form.SampleBlock.data(), index++, {});
    State.counters["allocs"] = benchmark::Counter(
        double(quillex::bench::AllocationCount() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RecipeFrame)->ArgName("tools")->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

} // namespace
