#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ExportOptions.h"
#include "ExportPipeline.h"
#include "FrameTimes.h"
#include "LimitCheck.h"
#include "LimitEpisodes.h"
#include "OutputFile.h"
#include "PeakSearch.h"

// The exporter's measurements, on the arithmetic the window's markers and limit alarms use:
// the peak table of the rows and the limit episodes of the frames. Each measures on the
// pipeline's transforming threads (one search or check per thread) and writes on the calling
// thread, in order.
namespace quillex {

// The peak table: a header "time,stamped,frame,rank,MHz,dBm", then per row its Count
// strongest peaks whose local maximum lies in the span, at or above MinDbm, strongest first:
// the row's time, stamped and frame as in the level table, the rank from 1, the interpolated
// frequency as displayed (offset applied, mirroring followed) with six decimals and the
// interpolated level without the level offset with two. A row without such a peak has no
// line. The search sees what it would see on the whole spectrum: its rules look at most
// MarginBins beyond a peak, and the rows keep that many bins beyond the span.
class TPeakTable
{
public:
    struct TSettings
    {
        TSpan Span;
        bool Inverted = false;
        double FreqOffsetMHz = 0;
        TDXLeakType Window = wnHanning;
        int Count = 5;
        double MinDbm = -120;
        int Threads = 1;
    };
    // The peak rules' reach: a peak must fall by their excursion within 32 bins on each side;
    // the noise around it is taken from bins up to 18 away, its interpolation from 4.
    static int MarginBins();

    // Creates the table under a temporary name (TOutputFile) and writes its header.
    TPeakTable(const std::string& Target, const TSettings& Settings, TFrameTimes& Times);
    size_t ResultBytes() const;
    // On the transforming threads: the row's peaks into Result.
    void Measure(int Thread, const TOutputRow& Row, std::byte* Result);
    // In row order: the row's lines.
    void Add(const TOutputRow& Row);
    TOutputFile& Output() { return FFile; }

private:
    struct TThread
    {
        TPeakSearch Search;
        std::vector<float> Spectrum; // N bins, the row's magnitudes where it has them
        std::vector<TPeak> Peaks;
    };
    void Put(const std::string& Text);

    TSettings FSettings;
    int FFirst, FLast; // the span's physical bins
    double FMinMagnitude;
    TFrameTimes& FTimes;
    TOutputFile FFile;
    std::vector<std::unique_ptr<TThread>> FThreads;
    std::vector<TPeak> FPeaks;
    std::string FLine;
};

// The limit episodes of a recording, as the window's event log lists them: every frame's
// averages over the whole spectrum checked against the limits (TLimitCheck, one per thread),
// its worst points found on the thread that checked it, and the episodes followed in frame
// order (TLimitEpisodes) with the frames' times from the stamps. Episodes go to the file as
// they end; the last ones with Finish.
class TLimitEvents
{
public:
    struct TSettings
    {
        TLimits Limits;
        TLimitGrid Grid;
        TDXLeakType Window = wnHanning;
        double HoldOffSeconds = TLimitEpisodes::DefaultHoldOffSeconds;
        int Threads = 1;
        std::string Input;          // the recording's name, for messages
        int64_t RecordingFirst = 0; // its frames
        int64_t RecordingLast = 0;
    };

    TLimitEvents(const std::string& Target, const TSettings& Settings, TFrameTimes& Times);
    size_t ResultBytes() const { return sizeof(TLimitFrameSummary); }
    // On the transforming threads: the frame's check and worst points into Result.
    void Measure(int Thread, const float* Magnitudes, std::byte* Result);
    // In frame order. With fewer than two stamps in the recording no frame has a time: the
    // episodes then have none, and a hold-off other than 0 cannot be kept (TExportError).
    void Frames(int64_t First, int Count, const std::byte* Results);
    // Ends the open episodes.
    void Finish();
    TOutputFile& Output() { return FFile; }

private:
    void Write(const TLimitStep& Step);
    void Put(const std::string& Text);
    bool FramesHaveTimes(int64_t Frame);

    TSettings FSettings;
    TFrameTimes& FTimes;
    TOutputFile FFile;
    std::vector<TLimitCheck> FChecks;
    TLimitEpisodes FEpisodes;
    int FTimed = -1; // unknown yet
};

} // namespace quillex
