// The monitor's cost per frame at exponent 12 with 10 bands, a limit curve and the ring of
// frames before an alarm: the transform alone, and the monitor's whole work on a frame (the
// recipe, the interval's fold, the queue to the writer and the writer's ring), so that the
// difference is what the monitor adds beyond the FFT. And the program itself on the simulated
// receiver at its default pace: its share of a core and its resident memory.

#include "AllocCounter.h"
#include "FrameRecipe.h"
#include "FrameSpectrum.h"
#include "OutputQueue.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <random>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace quillex;
using quillex::bench::AllocationCount;

namespace {

constexpr int Exponent = 12;
constexpr int N = 1 << Exponent;
constexpr int Blocks = 16;

// Receiver noise with a carrier every few MHz; every fourth block a strong one above the limit.
std::vector<std::array<int16_t, 8192>> Samples()
{
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 30);
    std::vector<std::array<int16_t, 8192>> blocks(Blocks);
    for (int b = 0; b < Blocks; ++b)
        for (int i = 0; i < 8192; ++i) {
            double v = noise(rng);
            for (int c = 1; c < 10; ++c)
                v += 300 * std::cos(M_PI * (c * 400 + 0.3) * i / N);
            if (b % 4 == 0)
                v += 8000 * std::cos(M_PI * 1500.5 * i / N);
            blocks[size_t(b)][size_t(i)] = int16_t(std::lrint(v));
        }
    return blocks;
}

std::vector<TBand> TenBands()
{
    std::vector<TBand> bands;
    for (int b = 0; b < 10; ++b)
        bands.push_back({1.0 + 3.8 * b, 4.0 + 3.8 * b});
    return bands;
}

void BM_Transform(benchmark::State& State)
{
    const auto blocks = Samples();
    TDXFFT fft;
    fft.setExponent(Exponent);
    fft.setLeakFunction(wnHanning);
    TDXVector* input = fft.CreateVector(2 * N);
    TDXComplexVector* output = fft.CreateComplexVector(N);
    int b = 0;
    for (auto _ : State) {
        TransformBlock(blocks[size_t(b)].data(), fft, input, output);
        benchmark::DoNotOptimize(output->Real->Values);
        b = (b + 1) % Blocks;
    }
}
BENCHMARK(BM_Transform);

// What the acquisition thread and the writer do with one frame, on one thread here: the recipe
// (transform, band statistics, average, limit check and episodes), the fold of the interval's
// image row, the frame copied into the queue, taken out and pushed into the ring. The ring's
// frames are never beyond a limit here, so no file is written.
void BM_MonitorFrame(benchmark::State& State)
{
    const auto blocks = Samples();
    TFrameRecipe recipe;
    recipe.SetLevelsWanted(false);
    recipe.Configure({Exponent, wnHanning, 1, false, 0, 0});
    recipe.SetBands(TenBands(), 10);
    TLimits limits;
    limits.Upper = FlatCurve(-20);
    recipe.SetLimits(limits);
    std::vector<float> fold(N, 0.0f);
    monitor::TOutputQueue queue;
    TFrameRecording recording;
    TAlarmRecordingSettings alarms;
    alarms.Folder = "/nonexistent";
    recording.StartAlarms(alarms);
    const bool intervals = State.range(0) != 0;
    int64_t frame = 0;
    double steady = 46000;
    int beyond = 0;
    const auto one = [&] {
        const auto& block = blocks[size_t(frame % Blocks)];
        recipe.Process(block.data(), frame, {steady, steady});
        const float* averages = recipe.Averages();
        for (int k = 0; k < N; ++k)
            fold[size_t(k)] = std::max(fold[size_t(k)], averages[k]);
        beyond += recipe.Beyond();
        queue.PushFrame(0, steady, steady, recipe.Beyond(), block.data());
        const int16_t* samples = nullptr;
        const monitor::TOutMessage* m = queue.Front(0, &samples);
        recording.Frame({m->Stamp, {m->Wall, m->Steady}, samples, false});
        queue.Pop();
        // A statistics interval of a second ends every 150 frames.
        if (intervals && ++frame % 150 == 0) {
            benchmark::DoNotOptimize(recipe.TakeBands().data());
            std::fill(fold.begin(), fold.end(), 0.0f);
        } else if (!intervals) {
            ++frame;
        }
        steady += 1.0 / 150 / 86400;
    };
    // Two seconds of frames first: the ring is sized by then and the bands' peak search has
    // made its storage, once for the run.
    for (int f = 0; f < 300; ++f)
        one();
    beyond = 0;
    const long long before = AllocationCount();
    for (auto _ : State)
        one();
    const long long allocations = AllocationCount() - before;
    State.counters["allocs_per_frame"] = double(allocations) / double(State.iterations());
    State.counters["ring"] = recording.RingFrames();
    State.counters["beyond"] = double(beyond) / double(State.iterations());
}
BENCHMARK(BM_MonitorFrame)->ArgName("intervals")->Arg(0)->Arg(1);

// The program on the simulated receiver at its default pace (150 frames a second) for five
// seconds, recording on alarm with the longest ring: its share of one core and its peak
// resident memory.
void BM_MonitorProgram(benchmark::State& State)
{
    const std::string out = "/tmp/quillex_monitor_bench_" + std::to_string(::getpid());
    const std::string seconds = std::to_string(State.range(0));
    for (auto _ : State) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::unsetenv("QUILLEX_SIM_BLOCK_RATE");
            ::execl(QX_MONITOR, QX_MONITOR, "--out", out.c_str(), "--fft-exponent", "12",
                    "--frame-rate", "0", "--duration-s", seconds.c_str(), "--band", "a=1:4",
                    "--record-on-alarm", "--pre-s", "60", "--stats-interval-s", "1", nullptr);
            ::_exit(127);
        }
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
        State.counters["cpu_percent"] = 100.0 * cpu / double(State.range(0));
        State.counters["max_rss_MB"] = double(usage.ru_maxrss) / 1024.0;
    }
    std::system(("rm -rf " + out).c_str());
}
BENCHMARK(BM_MonitorProgram)->Arg(5)->Arg(35)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
