#pragma once

#include <cstdint>
#include <functional>

#include "ExportOptions.h"
#include "FrameTimes.h"

namespace quillex {

class TSpkRecordFile;

// One output row: Frames consecutive frames from FirstFrame on, folded bin by bin.
struct TOutputRow
{
    int64_t Index = 0;      // 0 for the first row
    int64_t FirstFrame = 0; // record index in the file
    int64_t Frames = 0;
    double Stamp = 0;              // the first time label among its frames, 0 when none
    const float* Levels = nullptr; // the span's levels in dBm, SpanOf().Length values
};

struct TPipelineSettings
{
    TSpectrumSettings Spectrum;
    int64_t First = 0; // record indexes, inclusive
    int64_t Last = 0;
    int64_t Fold = 1;
    TFoldMode FoldMode = TFoldMode::Max;
    int Threads = 1;
};

// Rows the frames First .. Last make with Fold frames per row (the last may hold fewer).
int64_t OutputRowCount(int64_t First, int64_t Last, int64_t Fold);

// What the pipeline hands on, on the calling thread and in frame order: the stamps of each
// batch of frames as the transforms read them, then the rows those frames complete, then
// the frames done so far.
struct TPipelineOutput
{
    std::function<void(int64_t First, int Count, const double* Stamps)> Frames;
    std::function<void(const TOutputRow&)> Row;
    std::function<void(int64_t Done)> Progress;
};

// Runs every frame First .. Last of the file through the window's arithmetic (scaling,
// windowed FFT, averaging from zeros, dBm, mirroring), folds them into rows and hands
// those on to Output. The transforms run on Settings.Threads threads, each with its own
// FFT; memory is a few hundred frames, whatever the file's size. Throws ESpkReadError on
// a read error, and passes on what Output's functions throw.
void RunPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings,
                 const TPipelineOutput& Output);

} // namespace quillex
