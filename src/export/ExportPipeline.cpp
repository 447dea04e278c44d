#include "ExportPipeline.h"

#include "FrameProcessor.h"
#include "FrameSpectrum.h"
#include "SpkFile.h"
#include "SpkRecordFile.h"
#include "Workers.h"
#include "dxFFT.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace quillex {

namespace {

// Frames per batch and per task: a batch's magnitudes stay in the caches' reach, and a
// task of a few frames costs far more than handing it out.
constexpr int BatchFrames = 256;
constexpr int FramesPerTask = 8;
constexpr int BinsPerTask = 512;
// Years 1 .. 9999 as days since 1899-12-30.
constexpr double FirstDay = -693593.0;
constexpr double LastDay = 2958466.0;

// What one thread transforms with: its own FFT and vectors, and a read buffer.
struct TThreadState
{
    TDXFFT FFT;
    TDXVector* Input = nullptr;
    TDXComplexVector* Output = nullptr;
    std::vector<uint8_t> Records;
    std::vector<int16_t> Block;
};

} // namespace

bool IsFrameStamp(double Stamp)
{
    return Stamp != 0.0 && Stamp >= FirstDay && Stamp < LastDay;
}

int64_t OutputRowCount(int64_t First, int64_t Last, int64_t Fold)
{
    if (Last < First || Fold < 1)
        return 0;
    const int64_t frames = Last - First + 1;
    return frames / Fold + (frames % Fold != 0 ? 1 : 0);
}

void RunPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings,
                 const std::function<void(const TOutputRow&)>& Row,
                 const std::function<void(int64_t)>& Progress)
{
    const TSpan span = SpanOf(Settings.Spectrum);
    const int n = span.N;
    const int length = span.Length;
    const bool inverted = Settings.Spectrum.Inverted;
    // Bins of the averages that feed the span: mirrored, level k comes from bin N-1-k.
    const int lo = inverted ? n - span.StartBin - length : span.StartBin;
    const int64_t fold = std::max<int64_t>(1, Settings.Fold);

    TWorkers workers(Settings.Threads);
    std::vector<std::unique_ptr<TThreadState>> threads;
    for (int t = 0; t < workers.Threads(); ++t) {
        auto state = std::make_unique<TThreadState>();
        state->FFT.setExponent(Settings.Spectrum.Exponent);
        state->FFT.setLeakFunction(Settings.Spectrum.Window);
        state->Input = state->FFT.CreateVector(2 * n);
        state->Output = state->FFT.CreateComplexVector(n);
        state->Records.resize(size_t(FramesPerTask) * FrameRecordSize);
        state->Block.resize(SampleBlockSamples);
        threads.push_back(std::move(state));
    }

    std::vector<float> magnitudes(size_t(BatchFrames) * length);
    std::vector<double> stamps(BatchFrames);
    std::vector<float> averages(length, 0.0f); // the window's averages start at zeros
    std::vector<float> folded(length, 0.0f);
    // Rows completed within a batch; at most one per frame.
    std::vector<float> rows(size_t(BatchFrames) * length);
    std::vector<TOutputRow> rowInfo(BatchFrames);
    std::vector<int> rowOfFrame(BatchFrames);

    TOutputRow pending;
    pending.FirstFrame = Settings.First;
    for (int64_t batchFirst = Settings.First; batchFirst <= Settings.Last;
         batchFirst += BatchFrames) {
        const int count =
            static_cast<int>(std::min<int64_t>(BatchFrames, Settings.Last - batchFirst + 1));

        // Transforms: frames are independent up to the averaging.
        const int frameTasks = (count + FramesPerTask - 1) / FramesPerTask;
        workers.Run(frameTasks, [&](int Task, int Thread) {
            TThreadState& s = *threads[size_t(Thread)];
            const int first = Task * FramesPerTask;
            const int frames = std::min(FramesPerTask, count - first);
            File.ReadRecords(batchFirst + first, frames, s.Records.data());
            for (int f = 0; f < frames; ++f) {
                DecodeDataRecord(s.Records.data() + size_t(f) * FrameRecordSize,
                                 stamps[size_t(first + f)], s.Block.data());
                TransformBlock(s.Block.data(), s.FFT, s.Input, s.Output);
                std::copy_n(s.Output->Real->Values + lo, length,
                            magnitudes.begin() + ptrdiff_t(first + f) * length);
            }
        });

        // Row bookkeeping, in frame order.
        int completed = 0;
        std::fill(rowOfFrame.begin(), rowOfFrame.end(), -1);
        for (int f = 0; f < count; ++f) {
            const int64_t frame = batchFirst + f;
            if (pending.Frames == 0) {
                pending.FirstFrame = frame;
                pending.Stamp = 0;
            }
            ++pending.Frames;
            if (pending.Stamp == 0 && IsFrameStamp(stamps[size_t(f)]))
                pending.Stamp = stamps[size_t(f)];
            if (pending.Frames == fold || frame == Settings.Last) {
                rowInfo[size_t(completed)] = pending;
                rowOfFrame[size_t(f)] = completed++;
                ++pending.Index;
                pending.Frames = 0;
            }
        }

        // Averaging runs along the frames, so it is split by bins instead; so are the
        // folding and the levels.
        const int binTasks = (length + BinsPerTask - 1) / BinsPerTask;
        workers.Run(binTasks, [&](int Task, int) {
            const int a = Task * BinsPerTask;
            const int b = std::min(length, a + BinsPerTask);
            float* avg = averages.data() + a;
            float* acc = folded.data() + a;
            int64_t inRow = (batchFirst - Settings.First) % fold;
            for (int f = 0; f < count; ++f) {
                AverageMagnitudes(magnitudes.data() + size_t(f) * length + a, avg, b - a,
                                  Settings.Spectrum.Average);
                if (inRow == 0) {
                    std::copy(avg, avg + (b - a), acc);
                } else if (Settings.FoldMode == TFoldMode::Max) {
                    for (int k = 0; k < b - a; ++k)
                        acc[k] = std::max(acc[k], avg[k]);
                } else {
                    for (int k = 0; k < b - a; ++k)
                        acc[k] += avg[k];
                }
                ++inRow;
                const int slot = rowOfFrame[size_t(f)];
                if (slot < 0)
                    continue;
                if (Settings.FoldMode == TFoldMode::Mean && inRow > 1) {
                    const float share = 1.0f / static_cast<float>(inRow);
                    for (int k = 0; k < b - a; ++k)
                        acc[k] *= share;
                }
                // The mirrored range of bins lands on the mirrored range of columns.
                float* row = rows.data() + size_t(slot) * length + (inverted ? length - b : a);
                LevelsFromAverages(acc, row, b - a, inverted);
                inRow = 0;
            }
        });

        for (int r = 0; r < completed; ++r) {
            TOutputRow row = rowInfo[size_t(r)];
            row.Levels = rows.data() + size_t(r) * length;
            Row(row);
        }
        if (Progress)
            Progress(batchFirst + count - Settings.First);
    }
}

} // namespace quillex
