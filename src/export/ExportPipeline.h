#pragma once

#include <cstddef>
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
    // With TPipelineSettings::RowMagnitudes: the fold before dB (a mean fold divided by its
    // frames) of the physical bins MagnitudeFirstBin .. MagnitudeFirstBin + MagnitudeBins - 1,
    // the span's and the margin's, in physical order.
    const float* Magnitudes = nullptr;
    int MagnitudeFirstBin = 0;
    int MagnitudeBins = 0;
    // What TPipelineOutput::MeasureRow made of the row, RowResultBytes.
    const std::byte* Result = nullptr;
    // What TPipelineOutput::EndRow made of the row's frames, FramesResultBytes.
    const std::byte* FramesResult = nullptr;
};

struct TPipelineSettings
{
    TSpectrumSettings Spectrum;
    int64_t First = 0; // record indexes, inclusive
    int64_t Last = 0;
    int64_t Fold = 1;
    TFoldMode FoldMode = TFoldMode::Max;
    int Threads = 1;
    // Bins averaged and folded beyond the span on each side (as far as the spectrum goes),
    // for measurements that look around a bin of the span.
    int MarginBins = 0;
    // Rows keep their folded magnitudes (TOutputRow::Magnitudes).
    bool RowMagnitudes = false;
};

// Rows the frames First .. Last make with Fold frames per row (the last may hold fewer).
int64_t OutputRowCount(int64_t First, int64_t Last, int64_t Fold);

// What the pipeline hands on, on the calling thread and in frame order: the stamps of each
// batch of frames as the transforms read them, what MeasureFrame made of them, then the
// rows those frames complete, then the frames done so far. Without Row no rows are made.
//
// The measurements run on the transforming threads, in any order, each thread (0 ..
// Threads-1) with its own state; they write their results, a fixed number of bytes, into
// the place given, from where they go on in frame (row) order.
struct TPipelineOutput
{
    std::function<void(int64_t First, int Count, const double* Stamps)> Frames;
    std::function<void(const TOutputRow&)> Row;
    std::function<void(int64_t Done)> Progress;

    // Every frame, with its averages (what the window's AverageMagnitudes leaves) of all N
    // bins in physical order.
    std::function<void(int Thread, int64_t Frame, const float* Magnitudes, std::byte* Result)>
        MeasureFrame;
    size_t FrameResultBytes = 0;
    std::function<void(int64_t First, int Count, const std::byte* Results)> FramesMeasured;
    // Every row, with its levels and (with RowMagnitudes) its magnitudes; the result goes
    // on as TOutputRow::Result.
    std::function<void(int Thread, const TOutputRow& Row, std::byte* Result)> MeasureRow;
    size_t RowResultBytes = 0;
    // Rows measured on their frames before the averaging (the transform's magnitudes of all N
    // bins in physical order): a row's frames go to AddFrame one by one, in order, then its
    // end to EndRow, with one accumulator (0 .. Threads), which EndRow leaves ready for the
    // next row. A task that takes whole rows feeds them with its thread's accumulator, right
    // after the transform; otherwise the calling thread follows the frames with accumulator
    // Threads. The result goes on as TOutputRow::FramesResult.
    std::function<void(int Accumulator, const float* Magnitudes)> AddFrame;
    std::function<void(int Accumulator, std::byte* Result)> EndRow;
    size_t FramesResultBytes = 0;
};

// Runs every frame First .. Last of the file through the window's arithmetic (scaling,
// windowed FFT, averaging from zeros, dBm, mirroring), folds them into rows and hands
// those on to Output. The transforms run on Settings.Threads threads, each with its own
// FFT; memory is a few hundred frames, whatever the file's size. Throws ESpkReadError on
// a read error, and passes on what Output's functions throw.
void RunPipeline(const TSpkRecordFile& File, const TPipelineSettings& Settings,
                 const TPipelineOutput& Output);

} // namespace quillex
