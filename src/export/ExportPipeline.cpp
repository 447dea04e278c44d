#include "ExportPipeline.h"

#include "FrameProcessor.h"
#include "FrameSpectrum.h"
#include "SpkFile.h"
#include "SpkRecordFile.h"
#include "Workers.h"
#include "dxFFT.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace quillex {

namespace {

// Frames per batch and per task: a batch's magnitudes stay in the caches' reach, and a
// task of a few frames costs far more than handing it out.
constexpr int BatchFrames = 256;
constexpr int FramesPerTask = 8;
constexpr int BinsPerTask = 512;
constexpr size_t RecordSamples = FrameRecordSize / 2;
// The end of year 9999 in days since 1899-12-30.
constexpr double LastDay = 2958466.0;

// What one thread transforms with: its own FFT and vectors, and a read buffer.
struct TThreadState
{
    TDXFFT FFT;
    TDXVector* Input = nullptr;
    TDXComplexVector* Output = nullptr;
    // Whole records as read; held as samples so that, on a little-endian machine, a
    // record's block is transformed where it lies, without a copy.
    std::vector<int16_t> Records;
    std::vector<int16_t> Block;
    std::vector<float> Average; // a frame's magnitudes, as the averaging over 1 leaves them
    std::vector<float> Fold;    // the row being folded, when a task takes whole rows
};

} // namespace

bool IsFrameStamp(double Stamp)
{
    return Stamp > 0.0 && Stamp < LastDay;
}

int64_t OutputRowCount(int64_t First, int64_t Last, int64_t Fold)
{
    if (Last < First || Fold < 1)
        return 0;
    const int64_t frames = Last - First + 1;
    return frames / Fold + (frames % Fold != 0 ? 1 : 0);
}

namespace {

// Starts (First), widens or adds to a fold of the rows' magnitudes.
void FoldInto(float* Acc, const float* Values, int Length, TFoldMode Mode, bool First)
{
    if (First)
        std::copy(Values, Values + Length, Acc);
    else if (Mode == TFoldMode::Max)
        for (int k = 0; k < Length; ++k)
            Acc[k] = std::max(Acc[k], Values[k]);
    else
        for (int k = 0; k < Length; ++k)
            Acc[k] += Values[k];
}

// A mean fold divides by its frames; then the levels, mirrored when Inverted. Acc and Row
// are the same range of bins: bins a .. b-1 of the averages land on columns a .. b-1, or,
// mirrored, on columns L-b .. L-a-1 of a row of L columns.
void FinishFold(float* Acc, int64_t Frames, int Length, TFoldMode Mode, bool Inverted, float* Row)
{
    if (Mode == TFoldMode::Mean && Frames > 1) {
        const float share = 1.0f / static_cast<float>(Frames);
        for (int k = 0; k < Length; ++k)
            Acc[k] *= share;
    }
    LevelsFromAverages(Acc, Row, Length, Inverted);
}

// A run of frames one task transforms: either whole rows (it writes their levels) or a
// part of one row (it leaves the fold of its frames for the calling thread to combine).
struct TChunk
{
    int First = 0;
    int Frames = 0;
    bool WholeRows = false;
    int FirstSlot = 0; // the first row's place among the rows the batch completes
};

} // namespace

void RunPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings,
                 const std::function<void(const TOutputRow&)>& Row,
                 const std::function<void(int64_t)>& Progress)
{
    const TSpan span = SpanOf(Settings.Spectrum);
    const int n = span.N;
    const int length = span.Length;
    const bool inverted = Settings.Spectrum.Inverted;
    const TFoldMode mode = Settings.FoldMode;
    // Bins of the averages that feed the span: mirrored, level k comes from bin N-1-k.
    const int lo = inverted ? n - span.StartBin - length : span.StartBin;
    const int64_t fold = std::max<int64_t>(1, Settings.Fold);
    // Without averaging every frame stands alone, and a task can take its frames all the
    // way to levels; averaging runs along the frames and is split by bins instead.
    const bool independent = Settings.Spectrum.Average <= 1;
    const bool wholeRows = independent && fold <= FramesPerTask;
    // Batches of whole rows, when tasks take whole rows.
    const int batchFrames = wholeRows ? BatchFrames / int(fold) * int(fold) : BatchFrames;

    TWorkers workers(Settings.Threads);
    std::vector<std::unique_ptr<TThreadState>> threads;
    for (int t = 0; t < workers.Threads(); ++t) {
        auto state = std::make_unique<TThreadState>();
        state->FFT.setExponent(Settings.Spectrum.Exponent);
        state->FFT.setLeakFunction(Settings.Spectrum.Window);
        state->Input = state->FFT.CreateVector(2 * n);
        state->Output = state->FFT.CreateComplexVector(n);
        state->Records.resize(size_t(FramesPerTask) * RecordSamples);
        state->Block.resize(SampleBlockSamples);
        state->Average.resize(size_t(length));
        state->Fold.resize(size_t(length));
        threads.push_back(std::move(state));
    }

    // Per batch: magnitudes (averaged runs) or chunk folds (independent frames), stamps,
    // and the rows it completes (at most one per frame).
    std::vector<float> magnitudes(independent ? 0 : size_t(batchFrames) * length);
    std::vector<float> partials(independent ? size_t(batchFrames) * length : 0);
    std::vector<double> stamps(static_cast<size_t>(batchFrames));
    std::vector<float> rows(size_t(batchFrames) * length);
    std::vector<TOutputRow> rowInfo(static_cast<size_t>(batchFrames));
    std::vector<int> rowOfFrame(static_cast<size_t>(batchFrames));
    std::vector<TChunk> chunks;
    chunks.reserve(static_cast<size_t>(batchFrames));
    // Carried from batch to batch: the window's averages (from zeros) and the open fold.
    std::vector<float> averages(length, 0.0f);
    std::vector<float> folded(length, 0.0f);

    TOutputRow pending;
    pending.FirstFrame = Settings.First;
    for (int64_t batchFirst = Settings.First; batchFirst <= Settings.Last;
         batchFirst += batchFrames) {
        const int count =
            static_cast<int>(std::min<int64_t>(batchFrames, Settings.Last - batchFirst + 1));
        // Frames of the batch before the first row boundary in it.
        const int64_t intoRow = (batchFirst - Settings.First) % fold;

        chunks.clear();
        for (int f = 0; f < count;) {
            TChunk c;
            c.First = f;
            if (wholeRows) {
                c.Frames = std::min(count - f, FramesPerTask / int(fold) * int(fold));
                c.WholeRows = true;
                c.FirstSlot = f / int(fold);
            } else {
                const int64_t toBoundary = fold - (intoRow + f) % fold;
                c.Frames = int(std::min<int64_t>({FramesPerTask, count - f, toBoundary}));
            }
            chunks.push_back(c);
            f += c.Frames;
        }

        workers.Run(int(chunks.size()), [&](int Task, int Thread) {
            TThreadState& s = *threads[size_t(Thread)];
            const TChunk& c = chunks[size_t(Task)];
            // Records are transformed where the mapped file holds them; read otherwise.
            const uint8_t* records = File.MappedRecords(batchFirst + c.First, c.Frames);
            if (records == nullptr) {
                File.ReadRecords(batchFirst + c.First, c.Frames,
                                 reinterpret_cast<uint8_t*>(s.Records.data()));
                records = reinterpret_cast<const uint8_t*>(s.Records.data());
            }
            for (int f = 0; f < c.Frames; ++f) {
                const int frame = c.First + f;
                // Records are 16392 bytes, so in a page-aligned map every one is 2-aligned.
                const int16_t* record =
                    reinterpret_cast<const int16_t*>(records) + size_t(f) * RecordSamples;
                const int16_t* block = record + StampBytes / 2;
                if constexpr (std::endian::native == std::endian::little) {
                    std::memcpy(&stamps[size_t(frame)], record, sizeof(double));
                } else {
                    DecodeDataRecord(reinterpret_cast<const uint8_t*>(record),
                                     stamps[size_t(frame)], s.Block.data());
                    block = s.Block.data();
                }
                TransformBlock(block, s.FFT, s.Input, s.Output);
                const float* m = s.Output->Real->Values + lo;
                if (!independent) {
                    std::copy_n(m, length, magnitudes.begin() + ptrdiff_t(frame) * length);
                    continue;
                }
                AverageMagnitudes(m, s.Average.data(), length, 1);
                if (!c.WholeRows) {
                    FoldInto(partials.data() + size_t(Task) * length, s.Average.data(), length,
                             mode, f == 0);
                    continue;
                }
                const int inRow = f % int(fold);
                FoldInto(s.Fold.data(), s.Average.data(), length, mode, inRow == 0);
                if (inRow == int(fold) - 1 || f == c.Frames - 1)
                    FinishFold(s.Fold.data(), inRow + 1, length, mode, inverted,
                               rows.data() + size_t(c.FirstSlot + f / int(fold)) * length);
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

        if (independent && !wholeRows) {
            // Parts of rows, combined in frame order.
            for (size_t c = 0; c < chunks.size(); ++c) {
                const TChunk& chunk = chunks[c];
                const int64_t inRow = (intoRow + chunk.First) % fold;
                FoldInto(folded.data(), partials.data() + c * length, length, mode, inRow == 0);
                const int slot = rowOfFrame[size_t(chunk.First + chunk.Frames - 1)];
                if (slot >= 0)
                    FinishFold(folded.data(), rowInfo[size_t(slot)].Frames, length, mode, inverted,
                               rows.data() + size_t(slot) * length);
            }
        } else if (!independent) {
            const int binTasks = (length + BinsPerTask - 1) / BinsPerTask;
            workers.Run(binTasks, [&](int Task, int) {
                const int a = Task * BinsPerTask;
                const int b = std::min(length, a + BinsPerTask);
                float* avg = averages.data() + a;
                float* acc = folded.data() + a;
                int64_t inRow = intoRow;
                for (int f = 0; f < count; ++f) {
                    AverageMagnitudes(magnitudes.data() + size_t(f) * length + a, avg, b - a,
                                      Settings.Spectrum.Average);
                    FoldInto(acc, avg, b - a, mode, inRow == 0);
                    ++inRow;
                    const int slot = rowOfFrame[size_t(f)];
                    if (slot < 0)
                        continue;
                    FinishFold(acc, inRow, b - a, mode, inverted,
                               rows.data() + size_t(slot) * length + (inverted ? length - b : a));
                    inRow = 0;
                }
            });
        }

        for (int r = 0; r < completed; ++r) {
            TOutputRow row = rowInfo[size_t(r)];
            row.Levels = rows.data() + size_t(r) * length;
            Row(row);
        }
        // The batch's mapped pages are done with: the process holds a few batches of the
        // file, never all of it.
        File.ReleaseBefore(batchFirst + count);
        if (Progress)
            Progress(batchFirst + count - Settings.First);
    }
}

} // namespace quillex
