#include "MainWindowPlot.h"

#include "AllocCounter.h"
#include "dxHistoInt.h"

#include <random>

void quillex::bench::ConfigureMainWindowPlot(TDXHistographInt& Plot)
{
    Plot.resize(845, 248);
    Plot.setColor(clMenuBar);
    Plot.setBkColor(clBlack);
    Plot.setGapLeft(60);
    Plot.setGapRight(0);
    Plot.setGapTop(10);
    Plot.setGapBottom(20);
    Plot.setViewYMin(-140);
    Plot.setViewYMax(0.1f);
    Plot.setViewYGap(10);
    Plot.setViewYDecimals(0);
    Plot.setViewXNominalMax(40000);
    Plot.setViewXCurrentMax(40000);
    Plot.setViewXGap(5000);
    Plot.setViewXDecimals(0);
    Plot.setSeries({50688, 0, 0});
    Plot.setReduceFlicker(true);
}

std::vector<float> quillex::bench::NoisySpectrum(int Count, unsigned Seed)
{
    std::mt19937 rng(Seed);
    std::normal_distribution<float> noise(0.0f, 3.0f);
    std::vector<float> d(Count);
    for (int i = 0; i < Count; ++i)
        d[i] = -110.0f + noise(rng) + (i % 61 == 0 ? 50.0f : 0.0f);
    return d;
}

void quillex::bench::TimeRefreshData(benchmark::State& State, TDXHistographInt& Plot,
                                     std::vector<float>& A, std::vector<float>& B)
{
    bool flip = false;
    long long allocs = 0;
    for (auto _ : State) {
        flip = !flip;
        Plot.AssignSeriesData(flip ? B.data() : A.data(), int(A.size()), 1);
        const long long before = AllocationCount();
        Plot.RefreshData();
        allocs += AllocationCount() - before;
        benchmark::DoNotOptimize(Plot.Surface().constBits());
    }
    State.counters["allocs_per_call"] = double(allocs) / double(State.iterations());
}
