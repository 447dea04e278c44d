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

// Frames per batch and per task: a batch's magnitudes (averaged runs) stay in the caches'
// reach; frames that stand alone leave only their rows, of which a batch holds at most
// BatchRows, and longer batches leave the threads less often waiting for the last task
// of one. A task of a few frames costs far more than handing it out.
constexpr int BatchFrames = 256;
constexpr int IndependentBatchFrames = 1024;
constexpr int BatchRows = 256;
constexpr int FramesPerTask = 8;
constexpr int BinsPerTask = 512;
// Longest rows a task takes whole: the transforming threads then finish them, and the
// calling thread only hands them on.
constexpr int MaxRowFrames = 32;
constexpr size_t RecordSamples = FrameRecordSize / 2;

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

namespace {

// What one batch leaves for the calling thread: per frame its stamp; per task its part
// of a row (frames that stand alone, rows longer than a task) or per frame its
// magnitudes (averaged runs); the levels of the rows it completes.
struct TBatch
{
    int64_t First = 0;
    int Count = 0;
    std::vector<TChunk> Chunks;
    std::vector<double> Stamps;
    std::vector<float> Magnitudes;
    std::vector<float> Partials;
    std::vector<float> Rows;
};

} // namespace

void RunPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings,
                 const std::function<void(const TOutputRow&)>& Row,
                 const std::function<void(int64_t)>& Progress, const TFrameStamps& Frames)
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
    const bool wholeRows = independent && fold <= MaxRowFrames;
    // A task's frames: whole rows where it takes them.
    const int taskFrames =
        wholeRows ? std::max(1, FramesPerTask / int(fold)) * int(fold) : FramesPerTask;
    const int64_t longest = std::min<int64_t>(IndependentBatchFrames, BatchRows * fold);
    const int batchFrames = wholeRows ? std::max(1, int(longest) / taskFrames) * taskFrames
                                      : (independent ? IndependentBatchFrames : BatchFrames);
    // Rows a batch completes: one per Fold frames, one more where it starts inside a row
    // and one where the last row is short.
    const size_t rowCapacity = size_t(std::min<int64_t>(batchFrames, batchFrames / fold + 2));
    // Tasks of a batch in parts of rows: a row boundary may cut one more.
    const size_t chunkCapacity = size_t(batchFrames / FramesPerTask) + rowCapacity;

    TWorkers workers(Settings.Threads);
    std::vector<std::unique_ptr<TThreadState>> threads;
    for (int t = 0; t < workers.Threads(); ++t) {
        auto state = std::make_unique<TThreadState>();
        state->FFT.setExponent(Settings.Spectrum.Exponent);
        state->FFT.setLeakFunction(Settings.Spectrum.Window);
        state->Input = state->FFT.CreateVector(2 * n);
        state->Output = state->FFT.CreateComplexVector(n);
        state->Records.resize(size_t(taskFrames) * RecordSamples);
        state->Block.resize(SampleBlockSamples);
        state->Average.resize(size_t(length));
        state->Fold.resize(size_t(length));
        threads.push_back(std::move(state));
    }

    // Two batches: the threads transform the next while the calling thread hands on the
    // rows of the last, so neither waits for the other.
    TBatch batches[2];
    for (TBatch& b : batches) {
        b.Chunks.reserve(chunkCapacity);
        b.Stamps.resize(size_t(batchFrames));
        b.Magnitudes.resize(independent ? 0 : size_t(batchFrames) * length);
        b.Partials.resize(independent && !wholeRows ? chunkCapacity * length : 0);
        b.Rows.resize(rowCapacity * length);
    }
    std::vector<TOutputRow> rowInfo(static_cast<size_t>(batchFrames));
    std::vector<int> rowOfFrame(static_cast<size_t>(batchFrames));
    // Carried from batch to batch: the window's averages (from zeros) and the open fold.
    std::vector<float> averages(length, 0.0f);
    std::vector<float> folded(length, 0.0f);

    // Splits the batch from First into tasks.
    const auto plan = [&](TBatch& B, int64_t First) {
        B.First = First;
        B.Count = static_cast<int>(std::min<int64_t>(batchFrames, Settings.Last - First + 1));
        const int64_t intoRow = (First - Settings.First) % fold;
        B.Chunks.clear();
        for (int f = 0; f < B.Count;) {
            TChunk c;
            c.First = f;
            if (wholeRows) {
                c.Frames = std::min(B.Count - f, taskFrames);
                c.WholeRows = true;
                c.FirstSlot = f / int(fold);
            } else {
                const int64_t toBoundary = fold - (intoRow + f) % fold;
                c.Frames = int(std::min<int64_t>({FramesPerTask, B.Count - f, toBoundary}));
            }
            B.Chunks.push_back(c);
            f += c.Frames;
        }
    };

    TBatch* batch = nullptr; // the batch the tasks below work on
    const std::function<void(int, int)> transform = [&](int Task, int Thread) {
        TBatch& b = *batch;
        TThreadState& s = *threads[size_t(Thread)];
        const TChunk& c = b.Chunks[size_t(Task)];
        // Records are transformed where the mapped file holds them; read otherwise.
        const uint8_t* records = File.MappedRecords(b.First + c.First, c.Frames);
        if (records == nullptr) {
            File.ReadRecords(b.First + c.First, c.Frames,
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
                std::memcpy(&b.Stamps[size_t(frame)], record, sizeof(double));
            } else {
                DecodeDataRecord(reinterpret_cast<const uint8_t*>(record), b.Stamps[size_t(frame)],
                                 s.Block.data());
                block = s.Block.data();
            }
            TransformBlock(block, s.FFT, s.Input, s.Output);
            const float* m = s.Output->Real->Values + lo;
            if (!independent) {
                std::copy_n(m, length, b.Magnitudes.begin() + ptrdiff_t(frame) * length);
                continue;
            }
            AverageMagnitudes(m, s.Average.data(), length, 1);
            if (!c.WholeRows) {
                FoldInto(b.Partials.data() + size_t(Task) * length, s.Average.data(), length, mode,
                         f == 0);
                continue;
            }
            const int inRow = f % int(fold);
            FoldInto(s.Fold.data(), s.Average.data(), length, mode, inRow == 0);
            if (inRow == int(fold) - 1 || f == c.Frames - 1)
                FinishFold(s.Fold.data(), inRow + 1, length, mode, inverted,
                           b.Rows.data() + size_t(c.FirstSlot + f / int(fold)) * length);
        }
    };

    TOutputRow pending;
    pending.FirstFrame = Settings.First;
    plan(batches[0], Settings.First);
    batch = &batches[0];
    workers.Run(int(batches[0].Chunks.size()), transform);
    // A transformed batch's mapped pages are done with (its stamps are kept): the process
    // holds the batch in work, never the whole file. Given back a batch at a time, since
    // every give-back interrupts the other threads to drop the pages from their view.
    File.Release(batches[0].First, batches[0].First + batches[0].Count);
    for (int current = 0;; current ^= 1) {
        TBatch& b = batches[current];
        const int64_t intoRow = (b.First - Settings.First) % fold;

        // Row bookkeeping, in frame order.
        int completed = 0;
        std::fill(rowOfFrame.begin(), rowOfFrame.end(), -1);
        for (int f = 0; f < b.Count; ++f) {
            const int64_t frame = b.First + f;
            if (pending.Frames == 0) {
                pending.FirstFrame = frame;
                pending.Stamp = 0;
            }
            ++pending.Frames;
            if (pending.Stamp == 0 && IsFrameStamp(b.Stamps[size_t(f)]))
                pending.Stamp = b.Stamps[size_t(f)];
            if (pending.Frames == fold || frame == Settings.Last) {
                rowInfo[size_t(completed)] = pending;
                rowOfFrame[size_t(f)] = completed++;
                ++pending.Index;
                pending.Frames = 0;
            }
        }

        if (independent && !wholeRows) {
            // Parts of rows, combined in frame order.
            for (size_t c = 0; c < b.Chunks.size(); ++c) {
                const TChunk& chunk = b.Chunks[c];
                const int64_t inRow = (intoRow + chunk.First) % fold;
                FoldInto(folded.data(), b.Partials.data() + c * length, length, mode, inRow == 0);
                const int slot = rowOfFrame[size_t(chunk.First + chunk.Frames - 1)];
                if (slot >= 0)
                    FinishFold(folded.data(), rowInfo[size_t(slot)].Frames, length, mode, inverted,
                               b.Rows.data() + size_t(slot) * length);
            }
        } else if (!independent) {
            const int binTasks = (length + BinsPerTask - 1) / BinsPerTask;
            workers.Run(binTasks, [&](int Task, int) {
                const int a = Task * BinsPerTask;
                const int e = std::min(length, a + BinsPerTask);
                float* avg = averages.data() + a;
                float* acc = folded.data() + a;
                int64_t inRow = intoRow;
                for (int f = 0; f < b.Count; ++f) {
                    AverageMagnitudes(b.Magnitudes.data() + size_t(f) * length + a, avg, e - a,
                                      Settings.Spectrum.Average);
                    FoldInto(acc, avg, e - a, mode, inRow == 0);
                    ++inRow;
                    const int slot = rowOfFrame[size_t(f)];
                    if (slot < 0)
                        continue;
                    FinishFold(acc, inRow, e - a, mode, inverted,
                               b.Rows.data() + size_t(slot) * length + (inverted ? length - e : a));
                    inRow = 0;
                }
            });
        }

        const int64_t next = b.First + b.Count;
        const bool more = next <= Settings.Last;
        if (more) {
            plan(batches[current ^ 1], next);
            batch = &batches[current ^ 1];
            workers.Start(int(batch->Chunks.size()), transform);
        }
        try {
            if (Frames)
                Frames(b.First, b.Count, b.Stamps.data());
            for (int r = 0; r < completed; ++r) {
                TOutputRow row = rowInfo[size_t(r)];
                row.Levels = b.Rows.data() + size_t(r) * length;
                Row(row);
            }
            if (Progress)
                Progress(next - Settings.First);
        } catch (...) {
            // The threads still work on the next batch, which reads this function's state.
            if (more)
                try {
                    workers.Finish();
                } catch (...) { // the first failure is the one to report
                }
            throw;
        }
        if (!more)
            break;
        workers.Finish();
        File.Release(batch->First, batch->First + batch->Count);
    }
}

} // namespace quillex
