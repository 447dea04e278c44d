#include "ExportMeasures.h"

#include "ExportError.h"
#include "LimitEventLog.h"
#include "StampText.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillex {

namespace {

// How far from a peak the noise around it is judged (PeakSearch: bins 3..18 away).
constexpr int NoiseReachBins = 18;
// A row's result: the number of peaks found, then the peaks.
constexpr size_t PeakCountBytes = sizeof(int64_t);

void PutText(std::FILE* Out, const std::string& Name, const std::string& Text)
{
    if (std::fwrite(Text.data(), 1, Text.size(), Out) != Text.size())
        throw TExportError(TExitCode::OutputFile,
                           "Cannot write " + Name + ": " + std::strerror(errno));
}

} // namespace

int TPeakTable::MarginBins()
{
    return std::max(TPeakRules{}.ExcursionBins, NoiseReachBins);
}

TPeakTable::TPeakTable(const std::string& Target, const TSettings& Settings, TFrameTimes& Times)
    : FSettings(Settings), FTimes(Times), FFile(Target)
{
    const TSpan& span = Settings.Span;
    FFirst = Settings.Inverted ? span.N - span.StartBin - span.Length : span.StartBin;
    FLast = FFirst + span.Length - 1;
    FMinMagnitude = MagnitudeFromLevel(Settings.MinDbm);
    for (int t = 0; t < std::max(1, Settings.Threads); ++t) {
        auto thread = std::make_unique<TThread>();
        thread->Spectrum.assign(size_t(span.N), 0.0f);
        thread->Peaks.resize(size_t(Settings.Count));
        FThreads.push_back(std::move(thread));
    }
    FPeaks.resize(size_t(Settings.Count));
    Put("time,stamped,frame,rank,MHz,dBm\n");
}

size_t TPeakTable::ResultBytes() const
{
    return PeakCountBytes + size_t(FSettings.Count) * sizeof(TPeak);
}

void TPeakTable::Measure(int Thread, const TOutputRow& Row, std::byte* Result)
{
    TThread& t = *FThreads[size_t(Thread)];
    std::copy_n(Row.Magnitudes, Row.MagnitudeBins, t.Spectrum.begin() + Row.MagnitudeFirstBin);
    const int64_t found =
        t.Search.Strongest(t.Spectrum.data(), FSettings.Span.N, FSettings.Window, FFirst, FLast,
                           FMinMagnitude, FSettings.Count, t.Peaks.data());
    std::memcpy(Result, &found, sizeof found);
    std::memcpy(Result + PeakCountBytes, t.Peaks.data(), size_t(found) * sizeof(TPeak));
}

void TPeakTable::Add(const TOutputRow& Row)
{
    int64_t count = 0;
    std::memcpy(&count, Row.Result, sizeof count);
    if (count == 0)
        return;
    std::memcpy(FPeaks.data(), Row.Result + PeakCountBytes, size_t(count) * sizeof(TPeak));
    std::string start;
    if (const auto time = FTimes.TimeOf(Row.FirstFrame))
        start = IsoStampText(*time);
    start += FTimes.Stamped(Row.FirstFrame) ? ",1," : ",0,";
    start += std::to_string(Row.FirstFrame);
    const int n = FSettings.Span.N;
    FLine.clear();
    for (int64_t r = 0; r < count; ++r) {
        const TPeak& p = FPeaks[size_t(r)];
        const double displayed = FSettings.Inverted ? n - 1 - p.Bin : p.Bin;
        FLine += start;
        FLine += ',' + std::to_string(r + 1) + ',';
        AppendFixed(FLine, FSettings.FreqOffsetMHz + displayed * 40.0 / n, 6);
        FLine += ',';
        AppendFixed(FLine, LevelFromMagnitude(p.Magnitude), 2);
        FLine += '\n';
    }
    Put(FLine);
}

void TPeakTable::Put(const std::string& Text)
{
    PutText(FFile.Stream(), FFile.Target(), Text);
}

TLimitEvents::TLimitEvents(const std::string& Target, const TSettings& Settings, TFrameTimes& Times)
    : FSettings(Settings), FTimes(Times), FFile(Target),
      FChecks(size_t(std::max(1, Settings.Threads)))
{
    for (TLimitCheck& check : FChecks)
        check.Set(Settings.Limits, Settings.Grid);
    FEpisodes.SetWindow(Settings.Window);
    FEpisodes.SetHoldOffSeconds(Settings.HoldOffSeconds);
    Put(LimitLogHeader());
}

void TLimitEvents::Measure(int Thread, const float* Magnitudes, std::byte* Result)
{
    TLimitCheck& check = FChecks[size_t(Thread)];
    const TLimitFrame& frame = check.Check(Magnitudes);
    TLimitFrameSummary summary;
    if (frame.AnyBeyond())
        summary = SummarizeLimitFrame(check, frame, Magnitudes, FSettings.Window);
    std::memcpy(Result, &summary, sizeof summary);
}

// Every frame has a time exactly when the recording has two stamps: then the first frame
// and any other have one.
bool TLimitEvents::FramesHaveTimes(int64_t Frame)
{
    if (!FTimes.TimeOf(Frame))
        return false;
    if (FSettings.RecordingFirst == FSettings.RecordingLast)
        return true;
    return FTimes.TimeOf(Frame < FSettings.RecordingLast ? Frame + 1 : Frame - 1).has_value();
}

void TLimitEvents::Frames(int64_t First, int Count, const std::byte* Results)
{
    if (FTimed < 0) {
        FTimed = FramesHaveTimes(First) ? 1 : 0;
        if (!FTimed && FSettings.HoldOffSeconds > 0)
            throw TExportError(
                TExitCode::InputFormat,
                FSettings.Input +
                    " has fewer than two stamped frames, so its frames have no times to "
                    "measure the hold-off by (--hold-off-s 0 lists the episodes without it)");
    }
    TLimitFrameSummary summary;
    for (int f = 0; f < Count; ++f) {
        std::memcpy(&summary, Results + size_t(f) * sizeof summary, sizeof summary);
        const int64_t frame = First + f;
        // Without times every frame counts as at the same moment, which no log line shows.
        const double time = FTimed ? FTimes.TimeOf(frame).value_or(0.0) : 0.0;
        Write(FEpisodes.Frame(summary, frame, time));
    }
}

void TLimitEvents::Finish()
{
    Write(FEpisodes.Finish());
}

void TLimitEvents::Write(const TLimitStep& Step)
{
    for (int e = 0; e < Step.EndedCount; ++e)
        Put(LimitLogLine(Step.Ended[size_t(e)]));
}

void TLimitEvents::Put(const std::string& Text)
{
    PutText(FFile.Stream(), FFile.Target(), Text);
}

} // namespace quillex
