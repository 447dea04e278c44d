#include <QApplication>
#include <QDir>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "Clock.h"
#include "Prompts.h"
#include "SpkFile.h"
#include "Unit1.h"

namespace {

constexpr int FileFrames = 1000;

// Answers the open dialog with the recorded file; everything else is declined.
class TBenchPrompts : public TPrompts
{
public:
    QString File;
    void ShowMessage(const QString&) override {}
    void ShowError(const QString& Text) override { Errors << Text; }
    TAnswer AskYesNoCancel(const QString&) override { return TAnswer::No; }
    QString SaveFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString OpenFileName(const QString&, const QString&, const QString&) override { return File; }
    void ShowInformation(const QString&, const QString&) override {}
    QStringList Errors;
};

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
    TBenchPrompts prompts;
    TSystemClock clock;
    TForm1 form(prompts, clock, {QStringLiteral("DEBUG")});
    form.InitTimerTimer();
    form.show();
    form.SEFft->setValue(12);
    form.BtnPlayback->click();
    prompts.File = QString::fromStdString(file.Path);
    form.BtnLoadFile->click();
    form.RBSync->setChecked(true);
    int64_t frames = 0;
    form.OnFrameProcessed = [&frames] { ++frames; };
    if (!form.BtnStartStop->isEnabled() || form.FFT->Size() != 4096) {
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
BENCHMARK(BM_HarddiskSyncPlayback)->Unit(benchmark::kMillisecond)->UseRealTime();

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

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
