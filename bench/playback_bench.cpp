#include "BenchWindow.h"
#include "Clock.h"
#include "SpkFile.h"
#include "Unit1Markers.h"

#include <QCheckBox>
#include <QDir>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int FileFrames = 1000;

// A recording of an antenna-like signal: noise plus a few carriers.
void WriteRecording(const std::string& Path)
{
    quillex::TSpkWriter writer;
    writer.Create(Path);
    writer.AppendHeader(0.0, 0.0, false, '.');
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 60.0f);
    std::vector<int16_t> block(quillex::SampleBlockSamples);
    for (int f = 0; f < FileFrames; ++f) {
        for (int i = 0; i < quillex::SampleBlockSamples; ++i) {
            const double carriers = 900.0 * std::sin(0.37 * i) + 400.0 * std::sin(2.11 * i + f);
            block[i] = static_cast<int16_t>(std::lround(carriers + noise(rng)));
        }
        writer.AppendRecord(f % 100 == 0 ? 46000.0 + f / 86400.0 : 0.0, block.data());
    }
    writer.Close();
}

struct TRecordingFile
{
    QTemporaryDir Dir;
    std::string Path = Dir.filePath(QStringLiteral("bench.spk")).toStdString();
    TRecordingFile() { WriteRecording(Path); }
};

TRecordingFile& Recording()
{
    static TRecordingFile file;
    return file;
}

void BM_HarddiskSyncPlayback(benchmark::State& state)
{
    TRecordingFile& file = Recording();
    // A fresh folder, so that no settings file changes the defaults.
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(file.Dir.path());
    quillex::bench::TBenchPrompts prompts;
    TSystemClock clock;
    TForm1 form(prompts, clock, {QStringLiteral("DEBUG")});
    quillex::bench::StartWindow(form);
    form.BtnPlayback->click();
    prompts.File = QString::fromStdString(file.Path);
    form.BtnLoadFile->click();
    form.RBSync->setChecked(true);
    // With max hold: the hold takes every frame and shows as a second curve.
    form.Measure->CBMaxHold->setChecked(state.range(0) != 0);
    int64_t frames = 0;
    form.OnFrameProcessed = [&frames] { ++frames; };
    if (!form.BtnStartStop->isEnabled() || form.Recipe.N() != 4096) {
        state.SkipWithError("the recording did not load");
        QDir::setCurrent(oldDir);
        return;
    }

    for (auto _ : state)
        form.BtnStartStop->click(); // plays records 1 .. end, then stops by itself

    if (!prompts.Errors.isEmpty())
        state.SkipWithError(prompts.Errors.constFirst().toStdString().c_str());
    state.counters["frames_per_second"] =
        benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["frames"] = double(frames);
    form.hide();
    QDir::setCurrent(oldDir);
}
BENCHMARK(BM_HarddiskSyncPlayback)
    ->ArgName("max_hold")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The reading alone: the share of a playback frame that goes to the file.
void BM_ReadRecordsSequentially(benchmark::State& state)
{
    quillex::TSpkReader reader;
    reader.Open(Recording().Path);
    std::vector<int16_t> block(quillex::SampleBlockSamples);
    double stamp = 0.0;
    for (auto _ : state) {
        if (reader.ReadRecord(stamp, block.data()) != quillex::TSpkReadResult::Full)
            reader.Seek(1);
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t{quillex::FrameRecordSize});
}
BENCHMARK(BM_ReadRecordsSequentially);

} // namespace
