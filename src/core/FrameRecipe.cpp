#include "FrameRecipe.h"

#include "FrameProcessor.h"
#include "FrameSpectrum.h"

#include <algorithm>
#include <cmath>

namespace quillex {

namespace {
constexpr double SecondsPerDay = 86400.0;
} // namespace

TFrameRecipe::TFrameRecipe() : FFFT(std::make_unique<TDXFFT>())
{
    FAverages.assign(Capacity, 0.0f);
    FLevels.assign(Capacity, 0.0f);
    FSettings.Exponent = 0; // so that the first Configure builds everything
    Configure({});
}

TFrameRecipe::~TFrameRecipe() = default;

void TFrameRecipe::Configure(const TFrameSettings& Settings)
{
    if (Settings == FSettings)
        return;
    const int oldN = FN;
    if (Settings.Exponent != FSettings.Exponent) {
        FFFT->setExponent(Settings.Exponent);
        FN = int(FFFT->Size());
        FFFT->FreeVector(FInput);
        FFFT->FreeComplexVector(FOutput);
        FInput = FFFT->CreateVector(2 * int64_t(FN));
        FOutput = FFFT->CreateComplexVector(FN);
    }
    FFFT->setLeakFunction(Settings.Window);
    FSettings = Settings;
    // A marker keeps its frequency through a change of the FFT size.
    if (oldN > 0 && FN != oldN)
        for (TFrameMarker& m : FMarkers)
            m.Bin = std::clamp(m.Bin * FN / oldN, 0.0, double(FN - 1));
    ConfigureHolds();
    ConfigureBands();
    FCheck.Set(FCheck.Limits(),
               {FN, Settings.FreqOffsetMHz, Settings.LevelOffsetDb, Settings.Inverted});
    FEpisodes.SetWindow(Settings.Window);
}

void TFrameRecipe::ConfigureHolds()
{
    FHolds.Configure(FHoldSwitches.Any() ? FN : 0, FHoldSwitches.Depth);
}

void TFrameRecipe::SetHolds(const THoldSwitches& Holds)
{
    const bool depthOnly = Holds.Any() == FHoldSwitches.Any() && FHolds.Bins() == FN;
    FHoldSwitches = Holds;
    // Another depth keeps what the holds gathered; switching them all off forgets it.
    if (depthOnly && Holds.Any())
        FHolds.SetDepth(Holds.Depth);
    else if (!depthOnly)
        ConfigureHolds();
}

void TFrameRecipe::ClearHolds()
{
    if (FHolds.Bins() > 0)
        FHolds.Clear();
}

const float* TFrameRecipe::TraceMagnitudes() const
{
    if (FHolds.Bins() != FN || FHolds.Frames() == 0)
        return FAverages.data();
    switch (FMarkerTrace) {
    case TMarkerTrace::Max:
        return FHoldSwitches.Max ? FHolds.Max() : FAverages.data();
    case TMarkerTrace::Min:
        return FHoldSwitches.Min ? FHolds.Min() : FAverages.data();
    case TMarkerTrace::Average:
        return FHoldSwitches.Average ? FHolds.Average() : FAverages.data();
    default:
        return FAverages.data();
    }
}

void TFrameRecipe::SetMarkerTrace(TMarkerTrace Trace)
{
    FMarkerTrace = Trace;
    FollowMarkers();
}

void TFrameRecipe::FollowMarkers()
{
    const float* trace = TraceMagnitudes();
    for (TFrameMarker& m : FMarkers)
        if (m.Placed)
            Follow(m, trace);
}

void TFrameRecipe::PlaceMarker(int Number, const TPeak& Peak)
{
    if (Number < 1 || Number > MarkerCount)
        return;
    FMarkers[size_t(Number - 1)] = {true, Peak.Bin, Peak.Magnitude};
}

void TFrameRecipe::RemoveMarker(int Number)
{
    if (Number >= 1 && Number <= MarkerCount)
        FMarkers[size_t(Number - 1)].Placed = false;
}

void TFrameRecipe::RemoveMarkers()
{
    for (TFrameMarker& m : FMarkers)
        m.Placed = false;
}

const TFrameMarker& TFrameRecipe::Marker(int Number) const
{
    static const TFrameMarker none;
    return Number >= 1 && Number <= MarkerCount ? FMarkers[size_t(Number - 1)] : none;
}

void TFrameRecipe::Follow(TFrameMarker& Marker, const float* Magnitudes) const
{
    TPeak peak;
    if (TrackPeak(Magnitudes, FN, FSettings.Window, Marker.Bin, peak)) {
        Marker.Bin = peak.Bin;
        Marker.Magnitude = peak.Magnitude;
        return;
    }
    // No peak by the search's rules near it (a weak carrier, or one that has gone): the marker
    // stays and reads what is there, the tone's level where its bin is still a local maximum.
    const int k = std::clamp(int(std::lround(Marker.Bin)), 0, FN - 1);
    const bool localMaximum = k >= 1 && k <= FN - 2 && Magnitudes[k] > Magnitudes[k - 1] &&
                              Magnitudes[k] >= Magnitudes[k + 1];
    Marker.Magnitude = localMaximum ? InterpolatePeak(Magnitudes, FN, k, FSettings.Window).Magnitude
                                    : double(Magnitudes[k]);
}

void TFrameRecipe::SetBands(std::vector<TBand> Bands, double OccupancyDb)
{
    FBands = std::move(Bands);
    FBandStats.OccupancyThresholdDb = OccupancyDb;
    ConfigureBands();
}

void TFrameRecipe::ConfigureBands()
{
    TBandSpectrum spectrum;
    spectrum.N = FN;
    spectrum.Window = FSettings.Window;
    spectrum.NoiseBandwidthBins = NoiseBandwidthBins(*FFFT);
    spectrum.FreqOffsetMHz = FSettings.FreqOffsetMHz;
    spectrum.Inverted = FSettings.Inverted;
    FBandStats.Configure(spectrum, FBands);
}

std::span<const TBandResult> TFrameRecipe::TakeBands()
{
    const std::span<const TBandResult> results = FBandStats.Compute();
    FBandStats.Clear();
    return results;
}

void TFrameRecipe::SetLimits(const TLimits& Limits)
{
    FCheck.Set(Limits, FCheck.Grid());
}

const float* TFrameRecipe::Magnitudes() const
{
    return FOutput != nullptr && FOutput->Real != nullptr ? FOutput->Real->Values : nullptr;
}

bool TFrameRecipe::Process(const int16_t* Block, int64_t Index, const TFrameTime& Time)
{
    // The vectors always follow the FFT size; a frame that would see them disagree is
    // dropped rather than read past their ends.
    if (!TransformBlock(Block, *FFFT, FInput, FOutput))
        return false;
    const float* magnitudes = FOutput->Real->Values;
    if (!FBands.empty())
        FBandStats.Add({magnitudes, size_t(FN)});
    AverageMagnitudes(magnitudes, FAverages.data(), FN, FSettings.Averaging);
    if (FLevelsWanted)
        LevelsFromAverages(FAverages.data(), FLevels.data(), FN, FSettings.Inverted);
    if (FHolds.Bins() == FN)
        FHolds.Add(FAverages.data());
    FollowMarkers();
    CheckLimits(Index, Time);
    return true;
}

bool TFrameRecipe::WatchesLimits() const
{
    return FCheck.Covers(TLimitKind::Upper) || FCheck.Covers(TLimitKind::Lower) ||
           FEpisodes.IsOpen(TLimitKind::Upper) || FEpisodes.IsOpen(TLimitKind::Lower);
}

void TFrameRecipe::CheckLimits(int64_t Index, const TFrameTime& Time)
{
    FStep = {};
    FLimitChecked = WatchesLimits();
    if (!FLimitChecked)
        return;
    // The episodes' times are the wall clock's; their hold-off runs on the steady time.
    FLimitFrame = FCheck.Check(FAverages.data());
    FStep = FEpisodes.Frame(FCheck, FLimitFrame, FAverages.data(), Index, Time.Wall, Time.Steady);
}

// --- TFrameRecording ---

void TFrameRecording::Fail(TRecordingOutput Output, const std::string& Message)
{
    if (OnFailure)
        OnFailure(Output, Message);
}

void TFrameRecording::OpenEventLog(const std::string& File)
{
    // Kept even when it cannot be opened now: RetryEventLog tries it again.
    FLogFile = File;
    FPending.clear();
    FLog.Open(File);
}

void TFrameRecording::CloseEventLog()
{
    FLog.Close();
    FLogFile.clear();
    FPending.clear();
}

void TFrameRecording::Keep(const TLimitEpisode& Episode)
{
    if (FPending.size() >= MaxPendingEpisodes)
        FPending.erase(FPending.begin());
    FPending.push_back(Episode);
}

void TFrameRecording::RetryEventLog()
{
    if (!FLog.IsOpen())
        FLog.Open(FLogFile);
    size_t written = 0;
    try {
        for (; written < FPending.size(); ++written)
            FLog.Append(FPending[written]);
    } catch (const ELimitLogError&) {
        FPending.erase(FPending.begin(), FPending.begin() + ptrdiff_t(written));
        FLog.Close();
        throw;
    }
    FPending.clear();
}

void TFrameRecording::LogEpisodes(const TLimitStep& Step)
{
    for (int e = 0; e < Step.EndedCount; ++e) {
        const TLimitEpisode& episode = Step.Ended[size_t(e)];
        if (!FLog.IsOpen()) {
            // A log that failed keeps its episodes until it is retried or closed.
            if (!FLogFile.empty())
                Keep(episode);
            continue;
        }
        try {
            FLog.Append(episode);
        } catch (const ELimitLogError& error) {
            FLog.Close();
            Keep(episode);
            Fail(TRecordingOutput::EventLog, error.what());
        }
    }
}

void TFrameRecording::StartAlarms(const TAlarmRecordingSettings& Settings)
{
    FAlarmSettings = Settings;
    FRecorder.Start(Settings);
}

void TFrameRecording::StopAlarms()
{
    FRecorder.Stop();
}

void TFrameRecording::StartContinuous(const std::string& File, const TRecordingHeader& Header)
{
    FContinuous.Create(File);
    try {
        AppendContinuousHeader(Header);
    } catch (const ESpkError&) {
        FContinuous.Close();
        throw;
    }
}

void TFrameRecording::StartContinuous(const std::string& File)
{
    FContinuous.Create(File);
}

void TFrameRecording::AppendContinuousHeader(const TRecordingHeader& Header)
{
    FContinuous.AppendHeader(Header.FreqOffset, Header.LevelOffset, Header.Inverted,
                             Header.DecimalSeparator);
}

void TFrameRecording::StopContinuous()
{
    FContinuous.Close();
}

void TFrameRecording::KeepRingLength(double Time)
{
    // The frames' pace over a second or more: a receiver that delivers in bursts (catching up
    // after a delay) would otherwise make it waver, and a longer ring drops what it holds.
    if (FLastTime <= 0 || Time < FLastTime) {
        FPaceStart = Time;
        FPaceFrames = 0;
    }
    FLastTime = Time;
    ++FPaceFrames;
    const double elapsed = (Time - FPaceStart) * SecondsPerDay;
    if (elapsed > 0 && (elapsed >= 1.0 || (FFramePeriod <= 0 && FPaceFrames >= 16))) {
        FFramePeriod = elapsed / (FPaceFrames - 1);
        FPaceStart = Time;
        FPaceFrames = 1;
    }
    if (FRecorder.Recording())
        return;
    // Whole steps, grown at once and shrunk only to half: a frame rate that wavers does not
    // reallocate the ring (which drops what it holds). Until the pace is known, one step: an
    // alarm in a run's first second has the frames before it too.
    const double frames =
        FFramePeriod > 0 ? std::ceil(FAlarmSettings.PreSeconds / FFramePeriod) + 2 : 0;
    const int steps = (int(std::min(frames, 1e6)) + RingStep - 1) / RingStep;
    const int wanted = std::min(MaxRingFrames, std::max(1, steps) * RingStep);
    TFrameRing& ring = FRecorder.Ring();
    if (wanted > ring.Length() || 2 * wanted < ring.Length()) {
        try {
            ring.SetLength(wanted);
        } catch (const std::bad_alloc&) {
            // The ring keeps its length: fewer seconds before an alarm, nothing else lost.
        }
    }
}

void TFrameRecording::Frame(const TRecordedFrame& Frame)
{
    if (FRecorder.Active()) {
        KeepRingLength(Frame.Time.Steady);
        try {
            FRecorder.Frame(Frame.Stamp, Frame.Time.Wall, Frame.Block, Frame.Beyond,
                            Frame.Time.Steady);
        } catch (const EAlarmRecordError& e) {
            Fail(TRecordingOutput::Alarms, e.what());
        }
    }
    if (FContinuous.IsOpen()) {
        try {
            FContinuous.AppendRecord(Frame.Stamp, Frame.Block);
        } catch (const ESpkError& e) {
            FContinuous.Close();
            Fail(TRecordingOutput::Continuous, std::string("Recording stopped: ") + e.what());
        }
    }
}

void TFrameRecording::RunEnded(const TLimitStep& Finished)
{
    LogEpisodes(Finished);
    try {
        FRecorder.Finish();
    } catch (const EAlarmRecordError& e) {
        Fail(TRecordingOutput::Alarms, e.what());
    }
    FLastTime = 0;
}

} // namespace quillex
