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
constexpr int RowsPerTask = 4;
// Longest rows a task takes whole: the transforming threads then finish them, and the
// calling thread only hands them on.
constexpr int MaxRowFrames = 32;
// Rows measured on their frames before the averaging are taken whole up to this length (a
// batch holds at least eight), so that each frame is measured while it is in the cache; where
// that leaves their levels as they are: a maximum is the same in any order, a mean's rounding
// is not.
constexpr int MaxMeasuredRowFrames = 128;
constexpr size_t RecordSamples = FrameRecordSize / 2;

// How a run's work is cut, fixed for the run.
struct TShape
{
    int Length = 0; // columns of a row: the span's bins
    // The bins averaged: physical bins AvgFirst .. AvgFirst + AvgLength - 1. Those folded, or
    // the whole spectrum when every frame is measured.
    int AvgFirst = 0;
    int AvgLength = 0;
    // The bins folded: FoldLength of the averaged from FoldOffset on, the span and its
    // margins; the span's begin SpanOffset bins into them (the last column, mirrored).
    int FoldOffset = 0;
    int FoldLength = 0;
    int SpanOffset = 0;
    bool Rows = false;          // rows are wanted at all
    bool RowMagnitudes = false; // and keep their folded magnitudes
    bool MeasuresFrames = false;
    bool MeasuresRows = false;
    size_t FrameResult = 0; // bytes of a frame's measurement
    size_t RowResult = 0;   // bytes of a row's measurement
    // Rows measured on their frames before the averaging: bins of such a frame (0: none),
    // whether the calling thread follows them, and the bytes of a row's result.
    int Unaveraged = 0;
    bool UnaveragedInOrder = false;
    bool UnaveragedKept = false; // the averaged runs' magnitudes serve, not averaged in place
    size_t FramesResult = 0;
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

TShape ShapeOf(const TPipelineSettings& Settings, const TPipelineOutput& Output)
{
    const TSpan span = SpanOf(Settings.Spectrum);
    TShape s;
    s.Length = span.Length;
    s.Inverted = Settings.Spectrum.Inverted;
    // Mirrored, column k comes from bin N-1-(StartBin+k).
    const int spanFirst = s.Inverted ? span.N - span.StartBin - span.Length : span.StartBin;
    const int margin = std::clamp(Settings.MarginBins, 0, span.N);
    const int foldFirst = std::max(0, spanFirst - margin);
    s.FoldLength = std::min(span.N, spanFirst + span.Length + margin) - foldFirst;
    s.SpanOffset = spanFirst - foldFirst;
    const bool frames = bool(Output.MeasureFrame);
    const bool unaveraged = Output.Row && Output.AddFrame && Output.EndRow;
    // Averaged runs keep their frames' magnitudes until they average them: all N bins where
    // the frames are measured, or followed as they are.
    const bool allBins = frames || (unaveraged && Settings.Spectrum.Average > 1);
    s.AvgFirst = allBins ? 0 : foldFirst;
    s.AvgLength = allBins ? span.N : s.FoldLength;
    s.FoldOffset = foldFirst - s.AvgFirst;
    s.Rows = bool(Output.Row);
    s.RowMagnitudes = s.Rows && Settings.RowMagnitudes;
    s.MeasuresFrames = frames;
    s.MeasuresRows = s.Rows && Output.MeasureRow;
    s.FrameResult = frames ? Output.FrameResultBytes : 0;
    s.RowResult = s.MeasuresRows ? Output.RowResultBytes : 0;
    s.Unaveraged = unaveraged ? span.N : 0;
    s.FramesResult = unaveraged ? Output.FramesResultBytes : 0;
    s.Mode = Settings.FoldMode;
    s.Fold = std::max<int64_t>(1, Settings.Fold);
    s.Independent = Settings.Spectrum.Average <= 1;
    const bool longer = unaveraged && Settings.FoldMode == TFoldMode::Max;
    s.WholeRows = s.Independent && s.Fold <= (longer ? MaxMeasuredRowFrames : MaxRowFrames);
    s.UnaveragedInOrder = unaveraged && !s.WholeRows;
    s.UnaveragedKept = s.UnaveragedInOrder && !s.Independent && !frames;
    s.TaskFrames =
        s.WholeRows ? std::max(1, FramesPerTask / int(s.Fold)) * int(s.Fold) : FramesPerTask;
    const int64_t longest = std::min<int64_t>(IndependentBatchFrames, BatchRows * s.Fold);
    s.BatchFrames = s.WholeRows ? std::max(1, int(longest) / s.TaskFrames) * s.TaskFrames
                                : (s.Independent ? IndependentBatchFrames : BatchFrames);
    // A short export takes batches no longer than its frames, whose buffers are made whole.
    const int64_t exported = std::max<int64_t>(1, Settings.Last - Settings.First + 1);
    s.BatchFrames = int(std::min<int64_t>(s.BatchFrames, (exported + s.TaskFrames - 1) /
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

// One batch of frames on its way: per frame its stamp and measurement (and its magnitudes
// before the averaging, where the calling thread follows them); per task its part of a row
// (frames that stand alone, rows longer than a task) or per frame its magnitudes (averaged
// runs); the rows it completes, with their levels, magnitudes and measurements.
struct TBatch
{
    int64_t First = 0;
    int Count = 0;
    std::vector<TChunk> Chunks;
    std::vector<double> Stamps;
    std::vector<float> Magnitudes;
    std::vector<float> Unaveraged;
    std::vector<float> Partials;
    int Completed = 0;
    std::vector<TOutputRow> RowInfo; // the rows it completes
    std::vector<int> RowOfFrame;     // the row a frame completes, or -1
    std::vector<float> Rows;         // their levels
    std::vector<float> RowMagnitudes;
    std::vector<std::byte> FrameResults;
    std::vector<std::byte> RowResults;
    std::vector<std::byte> FramesResults;
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
    TPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings,
              const TPipelineOutput& Output);
    void Run();

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
    void TakeUnaveraged(TBatch& B, const TChunk& C, int Frame, int Thread, const TThreadState& S);
    // Combining rows.
    void CloseRows(TBatch& B);
    void CombineRows(TBatch& B);
    void CombineParts(TBatch& B);
    void AverageAndFold(TBatch& B, int Task);
    void FinishRow(TBatch& B, int Slot, float* Acc, int64_t Frames, int Begin, int End) const;
    // Measuring, on the team's threads.
    void MeasureFrames(TBatch& B, int Task, int Thread);
    void MeasureRows(TBatch& B);
    void FollowUnaveraged(TBatch& B);
    TOutputRow RowOf(const TBatch& B, int Slot) const;
    // Handing on.
    void HandOn(const TBatch& B) const;

    const TSpkRecordFile& FFile;
    const TPipelineSettings FSettings;
    const TPipelineOutput& FOutput;
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

TPipeline::TPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings,
                     const TPipelineOutput& Output)
    : FFile(File), FSettings(Settings), FOutput(Output), FShape(ShapeOf(Settings, Output)),
      FAverages(size_t(FShape.AvgLength), 0.0f), FFolded(size_t(FShape.FoldLength), 0.0f),
      FTransform([this](int Task, int Thread) { Transform(*FTransforming, Task, Thread); }),
      FWorkers(Settings.Threads)
{
    const int n = SpanOf(Settings.Spectrum).N;
    const size_t length = size_t(FShape.Length);
    const size_t averaged = size_t(FShape.AvgLength);
    const size_t folded = size_t(FShape.FoldLength);
    for (int t = 0; t < FWorkers.Threads(); ++t) {
        auto state = std::make_unique<TThreadState>();
        state->FFT.setExponent(Settings.Spectrum.Exponent);
        state->FFT.setLeakFunction(Settings.Spectrum.Window);
        state->Input = state->FFT.CreateVector(2 * n);
        state->Output = state->FFT.CreateComplexVector(n);
        state->Records.resize(size_t(FShape.TaskFrames) * RecordSamples);
        state->Block.resize(SampleBlockSamples);
        state->Average.resize(averaged);
        state->Fold.resize(folded);
        FThreads.push_back(std::move(state));
    }
    const size_t frames = size_t(FShape.BatchFrames);
    for (TBatch& b : FBatches) {
        b.Chunks.reserve(FShape.ChunkCapacity);
        b.Stamps.resize(frames);
        b.Magnitudes.resize(FShape.Independent ? 0 : frames * averaged);
        b.Unaveraged.resize(FShape.UnaveragedInOrder && !FShape.UnaveragedKept
                                ? frames * size_t(FShape.Unaveraged)
                                : 0);
        b.Partials.resize(FShape.Independent && !FShape.WholeRows ? FShape.ChunkCapacity * folded
                                                                  : 0);
        b.RowInfo.resize(frames);
        b.RowOfFrame.resize(frames);
        b.Rows.resize(FShape.RowCapacity * length);
        b.RowMagnitudes.resize(FShape.RowMagnitudes ? FShape.RowCapacity * folded : 0);
        b.FrameResults.resize(frames * FShape.FrameResult);
        b.RowResults.resize(FShape.RowCapacity * FShape.RowResult);
        b.FramesResults.resize(FShape.RowCapacity * FShape.FramesResult);
    }
    FPending.FirstFrame = Settings.First;
}

void TPipeline::Run()
{
    TBatch* current = &FBatches[0];
    Plan(*current, FSettings.First);
    StartTransform(*current);
    FinishTransform(*current);
    for (;;) {
        CloseRows(*current);
        CombineRows(*current);
        MeasureRows(*current);
        TBatch* next = current == &FBatches[0] ? &FBatches[1] : &FBatches[0];
        const int64_t end = current->First + current->Count;
        const bool more = end <= FSettings.Last;
        if (more) {
            Plan(*next, end);
            StartTransform(*next);
        }
        FollowUnaveraged(*current);
        HandOn(*current);
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
    const int averaged = FShape.AvgLength;
    const int folded = FShape.FoldLength;
    const int16_t* records = RecordsOf(B.First + c.First, c.Frames, s);
    for (int f = 0; f < c.Frames; ++f) {
        const int frame = c.First + f;
        const float* m =
            TransformRecord(records + size_t(f) * RecordSamples, B.Stamps[size_t(frame)], s);
        if (FShape.Unaveraged > 0)
            TakeUnaveraged(B, c, f, Thread, s);
        if (!FShape.Independent) {
            std::copy_n(m, averaged, B.Magnitudes.begin() + ptrdiff_t(frame) * averaged);
            continue;
        }
        AverageMagnitudes(m, s.Average.data(), averaged, 1);
        if (FShape.MeasuresFrames)
            FOutput.MeasureFrame(Thread, B.First + frame, s.Average.data(),
                                 B.FrameResults.data() + size_t(frame) * FShape.FrameResult);
        if (!FShape.Rows)
            continue;
        if (c.WholeRows)
            FoldWholeRows(B, c, f, s);
        else
            FoldInto(B.Partials.data() + size_t(Task) * folded,
                     s.Average.data() + FShape.FoldOffset, folded, FShape.Mode, f == 0);
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
    return S.Output->Real->Values + FShape.AvgFirst;
}

// Frame (of the task's frames) into the row the task folds, which it finishes itself.
void TPipeline::FoldWholeRows(TBatch& B, const TChunk& C, int Frame, TThreadState& S)
{
    const int fold = int(FShape.Fold);
    const int inRow = Frame % fold;
    FoldInto(S.Fold.data(), S.Average.data() + FShape.FoldOffset, FShape.FoldLength, FShape.Mode,
             inRow == 0);
    if (inRow == fold - 1 || Frame == C.Frames - 1)
        FinishRow(B, C.FirstSlot + Frame / fold, S.Fold.data(), inRow + 1, 0, FShape.FoldLength);
}

// Frame (of the task's frames) before the averaging: measured here while it is in the cache
// where the task takes whole rows, each ended with its last frame; kept for the calling
// thread otherwise.
void TPipeline::TakeUnaveraged(TBatch& B, const TChunk& C, int Frame, int Thread,
                               const TThreadState& S)
{
    const float* magnitudes = S.Output->Real->Values;
    if (!C.WholeRows) {
        if (!FShape.UnaveragedKept)
            std::copy_n(magnitudes, FShape.Unaveraged,
                        B.Unaveraged.begin() + ptrdiff_t(C.First + Frame) * FShape.Unaveraged);
        return;
    }
    FOutput.AddFrame(Thread, magnitudes);
    const int fold = int(FShape.Fold);
    if (Frame % fold == fold - 1 || Frame == C.Frames - 1)
        FOutput.EndRow(Thread, B.FramesResults.data() +
                                   size_t(C.FirstSlot + Frame / fold) * FShape.FramesResult);
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
// frames are averaged and folded by the team, a range of bins each, and then measured,
// a run of frames each.
void TPipeline::CombineRows(TBatch& B)
{
    if (!FShape.Independent) {
        const int tasks = (FShape.AvgLength + BinsPerTask - 1) / BinsPerTask;
        FWorkers.Run(tasks, [&](int Task, int) { AverageAndFold(B, Task); });
        if (FShape.MeasuresFrames)
            FWorkers.Run((B.Count + FramesPerTask - 1) / FramesPerTask,
                         [&](int Task, int Thread) { MeasureFrames(B, Task, Thread); });
    } else if (!FShape.WholeRows && FShape.Rows) {
        CombineParts(B);
    }
}

// Parts of rows, combined in frame order.
void TPipeline::CombineParts(TBatch& B)
{
    const int length = FShape.FoldLength;
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
// over one range of bins. Frames to be measured get their averages back in place of their
// magnitudes.
void TPipeline::AverageAndFold(TBatch& B, int Task)
{
    const int a = Task * BinsPerTask;
    const int e = std::min(FShape.AvgLength, a + BinsPerTask);
    // The folded part of these bins, Begin .. End-1 of the folded.
    const int begin = std::clamp(a - FShape.FoldOffset, 0, FShape.FoldLength);
    const int end = std::clamp(e - FShape.FoldOffset, 0, FShape.FoldLength);
    const bool folds = FShape.Rows && begin < end;
    const bool keep = FShape.MeasuresFrames;
    float* avg = FAverages.data() + a;
    const float* fromAvg = avg + (begin + FShape.FoldOffset - a);
    float* acc = FFolded.data() + begin;
    int64_t inRow = (B.First - FSettings.First) % FShape.Fold;
    for (int f = 0; f < B.Count; ++f) {
        float* m = B.Magnitudes.data() + size_t(f) * FShape.AvgLength + a;
        AverageMagnitudes(m, avg, e - a, FSettings.Spectrum.Average);
        if (keep)
            std::copy_n(avg, e - a, m);
        if (folds)
            FoldInto(acc, fromAvg, end - begin, FShape.Mode, inRow == 0);
        ++inRow;
        const int slot = B.RowOfFrame[size_t(f)];
        if (slot < 0)
            continue;
        if (folds)
            FinishRow(B, slot, acc, inRow, begin, end);
        inRow = 0;
    }
}

// The fold of row Slot over the folded bins Begin .. End-1 (Acc) of Frames frames: a mean
// fold divides by its frames; the magnitudes are kept where wanted, and the span's part
// goes to levels. Mirrored, span bins From .. To-1 land on columns Length-To ..
// Length-From-1.
void TPipeline::FinishRow(TBatch& B, int Slot, float* Acc, int64_t Frames, int Begin, int End) const
{
    if (FShape.Mode == TFoldMode::Mean && Frames > 1) {
        const float share = 1.0f / static_cast<float>(Frames);
        for (int k = 0; k < End - Begin; ++k)
            Acc[k] *= share;
    }
    if (FShape.RowMagnitudes)
        std::copy(Acc, Acc + (End - Begin),
                  B.RowMagnitudes.begin() + ptrdiff_t(size_t(Slot) * FShape.FoldLength + Begin));
    const int from = std::max(Begin, FShape.SpanOffset) - FShape.SpanOffset;
    const int to = std::min(End, FShape.SpanOffset + FShape.Length) - FShape.SpanOffset;
    if (from >= to)
        return;
    float* row = B.Rows.data() + size_t(Slot) * FShape.Length +
                 (FShape.Inverted ? FShape.Length - to : from);
    LevelsFromAverages(Acc + (from + FShape.SpanOffset - Begin), row, to - from, FShape.Inverted);
}

void TPipeline::MeasureFrames(TBatch& B, int Task, int Thread)
{
    const int first = Task * FramesPerTask;
    const int end = std::min(B.Count, first + FramesPerTask);
    for (int f = first; f < end; ++f)
        FOutput.MeasureFrame(Thread, B.First + f,
                             B.Magnitudes.data() + size_t(f) * FShape.AvgLength,
                             B.FrameResults.data() + size_t(f) * FShape.FrameResult);
}

// The batch's rows are complete here, whichever path made them: the team measures them,
// a few rows a task.
void TPipeline::MeasureRows(TBatch& B)
{
    if (!FShape.MeasuresRows || B.Completed == 0)
        return;
    FWorkers.Run((B.Completed + RowsPerTask - 1) / RowsPerTask, [&](int Task, int Thread) {
        const int end = std::min(B.Completed, (Task + 1) * RowsPerTask);
        for (int r = Task * RowsPerTask; r < end; ++r)
            FOutput.MeasureRow(Thread, RowOf(B, r),
                               B.RowResults.data() + size_t(r) * FShape.RowResult);
    });
}

// The frames the transforming tasks kept, followed in order with the calling thread's
// accumulator while the team transforms the next batch.
void TPipeline::FollowUnaveraged(TBatch& B)
{
    if (!FShape.UnaveragedInOrder)
        return;
    const int accumulator = FWorkers.Threads();
    const float* frames = FShape.UnaveragedKept ? B.Magnitudes.data() : B.Unaveraged.data();
    for (int f = 0; f < B.Count; ++f) {
        FOutput.AddFrame(accumulator, frames + size_t(f) * FShape.Unaveraged);
        if (const int slot = B.RowOfFrame[size_t(f)]; slot >= 0)
            FOutput.EndRow(accumulator,
                           B.FramesResults.data() + size_t(slot) * FShape.FramesResult);
    }
}

TOutputRow TPipeline::RowOf(const TBatch& B, int Slot) const
{
    TOutputRow row = B.RowInfo[size_t(Slot)];
    row.Levels = B.Rows.data() + size_t(Slot) * FShape.Length;
    if (FShape.RowMagnitudes) {
        row.Magnitudes = B.RowMagnitudes.data() + size_t(Slot) * FShape.FoldLength;
        row.MagnitudeFirstBin = FShape.AvgFirst + FShape.FoldOffset;
        row.MagnitudeBins = FShape.FoldLength;
    }
    if (FShape.MeasuresRows)
        row.Result = B.RowResults.data() + size_t(Slot) * FShape.RowResult;
    if (FShape.Unaveraged > 0)
        row.FramesResult = B.FramesResults.data() + size_t(Slot) * FShape.FramesResult;
    return row;
}

void TPipeline::HandOn(const TBatch& B) const
{
    if (FOutput.Frames)
        FOutput.Frames(B.First, B.Count, B.Stamps.data());
    if (FShape.MeasuresFrames && FOutput.FramesMeasured)
        FOutput.FramesMeasured(B.First, B.Count, B.FrameResults.data());
    if (FShape.Rows)
        for (int r = 0; r < B.Completed; ++r)
            FOutput.Row(RowOf(B, r));
    if (FOutput.Progress)
        FOutput.Progress(B.First + B.Count - FSettings.First);
}

} // namespace

void RunPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings,
                 const TPipelineOutput& Output)
{
    TPipeline(File, Settings, Output).Run();
}

} // namespace quillex
