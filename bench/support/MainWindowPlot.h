#pragma once

#include <benchmark/benchmark.h>

#include <vector>

class TDXHistographInt;

namespace quillex::bench {

// Sets up the plot as the main window shows it: 845 x 248, gaps 60/0/10/20, -140 .. 0.1 dBm over
// 0 .. 40000 kHz, no decimals, one green dtData series.
void ConfigureMainWindowPlot(TDXHistographInt& Plot);

// A noisy spectrum of Count values with a carrier every 61 bins, like a live frame; the same
// Seed gives the same values.
std::vector<float> NoisySpectrum(int Count, unsigned Seed);

// Times RefreshData while the frames A and B alternate, so every call draws a different curve,
// and reports the allocations per call.
void TimeRefreshData(benchmark::State& State, TDXHistographInt& Plot, std::vector<float>& A,
                     std::vector<float>& B);

} // namespace quillex::bench
