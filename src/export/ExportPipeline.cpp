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

int64_t OutputRowCount(int64_t First, int64_t Last, int64_t Fold)
{
    if (Last < First || Fold < 1)
        return 0;
    const int64_t frames = Last - First + 1;
    return frames / Fold + (frames % Fold != 0 ? 1 : 0);
}

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

// How a run's work is cut, fixed for the run.
struct TShape
{
    int Length = 0;   // columns of a row: the span's bins
    int FirstBin = 0; // the bin of the averages behind column 0 (the last column, mirrored)
    bool Inverted = false;
    TFoldMode Mode = TFoldMode::Max;
    int64_t Fold = 1;
    // Without averaging every frame stands alone, and a task takes its frames all the
    // way to levels (whole rows) or to a part of a row; averaging runs along the frames
    // and is split by bins instead.
    bool Independent = false;
    bool WholeRows = false;
    int TaskFrames = 0;
    int BatchFrames = 0;
    size_t RowCapacity = 0;   // rows a batch completes, at most
    size_t ChunkCapacity = 0; // tasks of a batch, at most
};

TShape ShapeOf(const TPipelineSettings& Settings)
{
    const TSpan span = SpanOf(Settings.Spectrum);
    TShape s;
    s.Length = span.Length;
    s.Inverted = Settings.Spectrum.Inverted;
    // Mirrored, column k comes from bin N-1-(StartBin+k).
    s.FirstBin = s.Inverted ? span.N - span.StartBin - span.Length : span.StartBin;
    s.Mode = Settings.FoldMode;
    s.Fold = std::max<int64_t>(1, Settings.Fold);
    s.Independent = Settings.Spectrum.Average <= 1;
    s.WholeRows = s.Independent && s.Fold <= MaxRowFrames;
    s.TaskFrames =
        s.WholeRows ? std::max(1, FramesPerTask / int(s.Fold)) * int(s.Fold) : FramesPerTask;
    const int64_t longest = std::min<int64_t>(IndependentBatchFrames, BatchRows * s.Fold);
    s.BatchFrames = s.WholeRows ? std::max(1, int(longest) / s.TaskFrames) * s.TaskFrames
                                : (s.Independent ? IndependentBatchFrames : BatchFrames);
    // A short export takes batches no longer than its frames, whose buffers are made whole.
    const int64_t frames = std::max<int64_t>(1, Settings.Last - Settings.First + 1);
    s.BatchFrames = int(std::min<int64_t>(s.BatchFrames, (frames + s.TaskFrames - 1) /
                                                             s.TaskFrames * s.TaskFrames));
    // One row per Fold frames, one more where a batch starts inside a row and one where
    // the last row is short.
    s.RowCapacity = size_t(std::min<int64_t>(s.BatchFrames, s.BatchFrames / s.Fold + 2));
    // Tasks in parts of rows: a row boundary may cut one more.
    s.ChunkCapacity = size_t(s.BatchFrames / FramesPerTask) + s.RowCapacity;
    return s;
}

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

// A run of frames one task transforms: either whole rows (it writes their levels) or a
// part of one row (it leaves the fold of its frames for the calling thread to combine).
struct TChunk
{
    int First = 0;
    int Frames = 0;
    bool WholeRows = false;
    int FirstSlot = 0; // the first row's place among the rows the batch completes
};

// One batch of frames on its way: per frame its stamp; per task its part of a row
// (frames that stand alone, rows longer than a task) or per frame its magnitudes
// (averaged runs); the rows it completes, with their levels.
struct TBatch
{
    int64_t First = 0;
    int Count = 0;
    std::vector<TChunk> Chunks;
    std::vector<double> Stamps;
    std::vector<float> Magnitudes;
    std::vector<float> Partials;
    int Completed = 0;
    std::vector<TOutputRow> RowInfo; // the rows it completes
    std::vector<int> RowOfFrame;     // the row a frame completes, or -1
    std::vector<float> Rows;         // their levels
};

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

// Batches of frames go through four stages: planned (cut into tasks), transformed on the
// team's threads, combined into rows, and handed on in frame order on the calling thread.
// Two batches are under way: the team transforms the next while the calling thread hands
// on the rows of the last, so neither waits for the other.
class TPipeline
{
public:
    TPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings);
    void Run(const TPipelineOutput& Output);

private:
    // Planning.
    void Plan(TBatch& B, int64_t First) const;
    // Transforming, on the team's threads.
    void StartTransform(TBatch& B);
    void FinishTransform(const TBatch& B);
    void Transform(TBatch& B, int Task, int Thread);
    const int16_t* RecordsOf(int64_t First, int Count, TThreadState& S) const;
    const float* TransformRecord(const int16_t* Record, double& Stamp, TThreadState& S) const;
    void FoldWholeRows(TBatch& B, const TChunk& C, int Frame, TThreadState& S);
    // Combining rows.
    void CloseRows(TBatch& B);
    void CombineRows(TBatch& B);
    void CombineParts(TBatch& B);
    void AverageAndFold(TBatch& B, int Task);
    void FinishRow(TBatch& B, int Slot, float* Acc, int64_t Frames, int Begin, int End) const;
    // Handing on.
    void HandOn(const TBatch& B, const TPipelineOutput& Output) const;

    const TSpkRecordFile& FFile;
    const TPipelineSettings FSettings;
    const TShape FShape;
    std::vector<std::unique_ptr<TThreadState>> FThreads;
    TBatch FBatches[2];
    // Carried from batch to batch: the window's averages (from zeros), the open fold and
    // the row it makes.
    std::vector<float> FAverages;
    std::vector<float> FFolded;
    TOutputRow FPending;
    TBatch* FTransforming = nullptr;
    const std::function<void(int, int)> FTransform;
    // Last, so that it goes first: when a consumer throws while the team transforms the
    // next batch, the team finishes those tasks while what they work on still exists.
    TWorkers FWorkers;
};

TPipeline::TPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings)
    : FFile(File), FSettings(Settings), FShape(ShapeOf(Settings)),
      FAverages(size_t(FShape.Length), 0.0f), FFolded(size_t(FShape.Length), 0.0f),
      FTransform([this](int Task, int Thread) { Transform(*FTransforming, Task, Thread); }),
      FWorkers(Settings.Threads)
{
    const int n = SpanOf(Settings.Spectrum).N;
    const size_t length = size_t(FShape.Length);
    for (int t = 0; t < FWorkers.Threads(); ++t) {
        auto state = std::make_unique<TThreadState>();
        state->FFT.setExponent(Settings.Spectrum.Exponent);
        state->FFT.setLeakFunction(Settings.Spectrum.Window);
        state->Input = state->FFT.CreateVector(2 * n);
        state->Output = state->FFT.CreateComplexVector(n);
        state->Records.resize(size_t(FShape.TaskFrames) * RecordSamples);
        state->Block.resize(SampleBlockSamples);
        state->Average.resize(length);
        state->Fold.resize(length);
        FThreads.push_back(std::move(state));
    }
    const size_t frames = size_t(FShape.BatchFrames);
    for (TBatch& b : FBatches) {
        b.Chunks.reserve(FShape.ChunkCapacity);
        b.Stamps.resize(frames);
        b.Magnitudes.resize(FShape.Independent ? 0 : frames * length);
        b.Partials.resize(FShape.Independent && !FShape.WholeRows ? FShape.ChunkCapacity * length
                                                                  : 0);
        b.RowInfo.resize(frames);
        b.RowOfFrame.resize(frames);
        b.Rows.resize(FShape.RowCapacity * length);
    }
    FPending.FirstFrame = Settings.First;
}

void TPipeline::Run(const TPipelineOutput& Output)
{
    TBatch* current = &FBatches[0];
    Plan(*current, FSettings.First);
    StartTransform(*current);
    FinishTransform(*current);
    for (;;) {
        CloseRows(*current);
        CombineRows(*current);
        TBatch* next = current == &FBatches[0] ? &FBatches[1] : &FBatches[0];
        const int64_t end = current->First + current->Count;
        const bool more = end <= FSettings.Last;
        if (more) {
            Plan(*next, end);
            StartTransform(*next);
        }
        HandOn(*current, Output);
        if (!more)
            return;
        FinishTransform(*next);
        current = next;
    }
}

// Splits the batch from First on into tasks: whole rows where tasks take them, otherwise
// runs of frames that end where a row does.
void TPipeline::Plan(TBatch& B, int64_t First) const
{
    B.First = First;
    B.Count = static_cast<int>(std::min<int64_t>(FShape.BatchFrames, FSettings.Last - First + 1));
    const int64_t fold = FShape.Fold;
    const int64_t intoRow = (First - FSettings.First) % fold;
    B.Chunks.clear();
    for (int f = 0; f < B.Count;) {
        TChunk c;
        c.First = f;
        if (FShape.WholeRows) {
            c.Frames = std::min(B.Count - f, FShape.TaskFrames);
            c.WholeRows = true;
            c.FirstSlot = f / int(fold);
        } else {
            const int64_t toBoundary = fold - (intoRow + f) % fold;
            c.Frames = int(std::min<int64_t>({FramesPerTask, B.Count - f, toBoundary}));
        }
        B.Chunks.push_back(c);
        f += c.Frames;
    }
}

void TPipeline::StartTransform(TBatch& B)
{
    FTransforming = &B;
    FWorkers.Start(int(B.Chunks.size()), FTransform);
}

void TPipeline::FinishTransform(const TBatch& B)
{
    FWorkers.Finish();
    // A transformed batch's mapped pages are done with (its stamps are kept): the process
    // holds the batch in work, never the whole file. Given back a batch at a time, since
    // every give-back interrupts the other threads to drop the pages from their view.
    FFile.Release(B.First, B.First + B.Count);
}

void TPipeline::Transform(TBatch& B, int Task, int Thread)
{
    TThreadState& s = *FThreads[size_t(Thread)];
    const TChunk& c = B.Chunks[size_t(Task)];
    const int length = FShape.Length;
    const int16_t* records = RecordsOf(B.First + c.First, c.Frames, s);
    for (int f = 0; f < c.Frames; ++f) {
        const int frame = c.First + f;
        const float* m =
            TransformRecord(records + size_t(f) * RecordSamples, B.Stamps[size_t(frame)], s);
        if (!FShape.Independent) {
            std::copy_n(m, length, B.Magnitudes.begin() + ptrdiff_t(frame) * length);
            continue;
        }
        AverageMagnitudes(m, s.Average.data(), length, 1);
        if (c.WholeRows)
            FoldWholeRows(B, c, f, s);
        else
            FoldInto(B.Partials.data() + size_t(Task) * length, s.Average.data(), length,
                     FShape.Mode, f == 0);
    }
}

// A task's records where the mapped file holds them (transformed where they lie), or
// read into the thread's buffer.
const int16_t* TPipeline::RecordsOf(int64_t First, int Count, TThreadState& S) const
{
    const uint8_t* records = FFile.MappedRecords(First, Count);
    if (records == nullptr) {
        FFile.ReadRecords(First, Count, reinterpret_cast<uint8_t*>(S.Records.data()));
        records = reinterpret_cast<const uint8_t*>(S.Records.data());
    }
    // Records are 16392 bytes, so in a page-aligned map every one is 2-aligned.
    return reinterpret_cast<const int16_t*>(records);
}

// A record's stamp, and the magnitudes of its block from the bin behind column 0 on.
const float* TPipeline::TransformRecord(const int16_t* Record, double& Stamp, TThreadState& S) const
{
    const int16_t* block = Record + StampBytes / 2;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&Stamp, Record, sizeof(double));
    } else {
        DecodeDataRecord(reinterpret_cast<const uint8_t*>(Record), Stamp, S.Block.data());
        block = S.Block.data();
    }
    TransformBlock(block, S.FFT, S.Input, S.Output);
    return S.Output->Real->Values + FShape.FirstBin;
}

// Frame (of the task's frames) into the row the task folds, which it finishes itself.
void TPipeline::FoldWholeRows(TBatch& B, const TChunk& C, int Frame, TThreadState& S)
{
    const int fold = int(FShape.Fold);
    const int inRow = Frame % fold;
    FoldInto(S.Fold.data(), S.Average.data(), FShape.Length, FShape.Mode, inRow == 0);
    if (inRow == fold - 1 || Frame == C.Frames - 1)
        FinishRow(B, C.FirstSlot + Frame / fold, S.Fold.data(), inRow + 1, 0, FShape.Length);
}

// Row bookkeeping, in frame order: which frame completes which row, and the rows' frames
// and first stamps.
void TPipeline::CloseRows(TBatch& B)
{
    B.Completed = 0;
    std::fill(B.RowOfFrame.begin(), B.RowOfFrame.end(), -1);
    for (int f = 0; f < B.Count; ++f) {
        const int64_t frame = B.First + f;
        if (FPending.Frames == 0) {
            FPending.FirstFrame = frame;
            FPending.Stamp = 0;
        }
        ++FPending.Frames;
        if (FPending.Stamp == 0 && IsFrameStamp(B.Stamps[size_t(f)]))
            FPending.Stamp = B.Stamps[size_t(f)];
        if (FPending.Frames == FShape.Fold || frame == FSettings.Last) {
            B.RowInfo[size_t(B.Completed)] = FPending;
            B.RowOfFrame[size_t(f)] = B.Completed++;
            ++FPending.Index;
            FPending.Frames = 0;
        }
    }
}

// Rows the transforming tasks did not finish: parts of rows are combined here, averaged
// frames are averaged and folded by the team, a range of bins each.
void TPipeline::CombineRows(TBatch& B)
{
    if (!FShape.Independent) {
        const int tasks = (FShape.Length + BinsPerTask - 1) / BinsPerTask;
        FWorkers.Run(tasks, [&](int Task, int) { AverageAndFold(B, Task); });
    } else if (!FShape.WholeRows) {
        CombineParts(B);
    }
}

// Parts of rows, combined in frame order.
void TPipeline::CombineParts(TBatch& B)
{
    const int length = FShape.Length;
    const int64_t intoRow = (B.First - FSettings.First) % FShape.Fold;
    for (size_t c = 0; c < B.Chunks.size(); ++c) {
        const TChunk& chunk = B.Chunks[c];
        const int64_t inRow = (intoRow + chunk.First) % FShape.Fold;
        FoldInto(FFolded.data(), B.Partials.data() + c * length, length, FShape.Mode, inRow == 0);
        const int slot = B.RowOfFrame[size_t(chunk.First + chunk.Frames - 1)];
        if (slot >= 0)
            FinishRow(B, slot, FFolded.data(), B.RowInfo[size_t(slot)].Frames, 0, length);
    }
}

// The window's running average along the batch's frames, and the fold of its results,
// over one range of bins.
void TPipeline::AverageAndFold(TBatch& B, int Task)
{
    const int a = Task * BinsPerTask;
    const int e = std::min(FShape.Length, a + BinsPerTask);
    float* avg = FAverages.data() + a;
    float* acc = FFolded.data() + a;
    int64_t inRow = (B.First - FSettings.First) % FShape.Fold;
    for (int f = 0; f < B.Count; ++f) {
        AverageMagnitudes(B.Magnitudes.data() + size_t(f) * FShape.Length + a, avg, e - a,
                          FSettings.Spectrum.Average);
        FoldInto(acc, avg, e - a, FShape.Mode, inRow == 0);
        ++inRow;
        const int slot = B.RowOfFrame[size_t(f)];
        if (slot < 0)
            continue;
        FinishRow(B, slot, acc, inRow, a, e);
        inRow = 0;
    }
}

// The fold of row Slot over the bins Begin .. End-1 (Acc) of Frames frames, to levels: a
// mean fold divides by its frames, and mirrored, those bins land on columns
// Length-End .. Length-Begin-1.
void TPipeline::FinishRow(TBatch& B, int Slot, float* Acc, int64_t Frames, int Begin, int End) const
{
    const int length = End - Begin;
    if (FShape.Mode == TFoldMode::Mean && Frames > 1) {
        const float share = 1.0f / static_cast<float>(Frames);
        for (int k = 0; k < length; ++k)
            Acc[k] *= share;
    }
    float* row = B.Rows.data() + size_t(Slot) * FShape.Length +
                 (FShape.Inverted ? FShape.Length - End : Begin);
    LevelsFromAverages(Acc, row, length, FShape.Inverted);
}

void TPipeline::HandOn(const TBatch& B, const TPipelineOutput& Output) const
{
    if (Output.Frames)
        Output.Frames(B.First, B.Count, B.Stamps.data());
    if (Output.Row)
        for (int r = 0; r < B.Completed; ++r) {
            TOutputRow row = B.RowInfo[size_t(r)];
            row.Levels = B.Rows.data() + size_t(r) * FShape.Length;
            Output.Row(row);
        }
    if (Output.Progress)
        Output.Progress(B.First + B.Count - FSettings.First);
}

} // namespace

void RunPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings,
                 const TPipelineOutput& Output)
{
    TPipeline(File, Settings).Run(Output);
}

} // namespace quillex
