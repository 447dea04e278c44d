#pragma once

#include "AlarmRecorder.h"
#include "BandStats.h"
#include "HoldTraces.h"
#include "LimitCheck.h"
#include "LimitEpisodes.h"
#include "LimitEventLog.h"
#include "PeakSearch.h"
#include "SpkFile.h"
#include "dxFFT.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// One frame's way from raw samples to everything measured of it, the same for the window and
// the monitor (and for the exporter where its pipeline fits), so that a fix to a frame's
// processing lands once. Driven frame by frame by its caller; a frame allocates nothing.
//
// TFrameRecipe owns what the arithmetic needs: the FFT with its vectors, the unaveraged
// magnitudes' way into the band statistics, the display's running average (AvgSpectrum, never
// reset, as the window has it) and the levels in dBm (LevelSpectrum), the hold traces, the
// markers that follow their peaks, the limit check and its episodes. TFrameRecording owns what
// goes to disk: the event log, the ring of frames before an alarm with the recordings on alarm,
// and a continuous recording. The two meet only in what a frame hands on (TRecordedFrame and
// the episodes' steps), so the monitor runs the recording on its writer thread and the window
// runs both in its loop.
//
// The caller keeps the sample block and where it comes from, the clock, the pacing, when a
// statistics interval ends, which peak a marker command chooses, and everything shown: plot,
// waterfall, marks, texts, dialogs and messages.
namespace quillex {

// What a frame's arithmetic depends on. A change of any of them starts the hold traces anew.
struct TFrameSettings
{
    int Exponent = 11; // N = 2^Exponent bins
    TDXLeakType Window = wnHanning;
    int Averaging = 1; // frames in the running average, 1 .. 64
    bool Inverted = false;
    double FreqOffsetMHz = 0;
    double LevelOffsetDb = 0;
    bool operator==(const TFrameSettings&) const = default;
};

// A frame's time, days since 1899-12-30: Wall as the clock reads (written into logs and alarm
// file names), Steady a time that never steps (what the hold-off and the seconds around an
// alarm are measured on). A recording played back, whose frames have one time, gives the same
// for both.
struct TFrameTime
{
    double Wall = 0;
    double Steady = 0;
};

struct THoldSwitches
{
    bool Max = false, Min = false, Average = false;
    int Depth = 10; // frames in the average
    bool Any() const { return Max || Min || Average; }
    bool operator==(const THoldSwitches&) const = default;
};

enum class TMarkerTrace : uint8_t { Live, Max, Min, Average };

struct TFrameMarker
{
    bool Placed = false;
    double Bin = 0;       // physical, fractional
    double Magnitude = 0; // on the averaged-magnitude scale
};

class TFrameRecipe
{
public:
    static constexpr int Capacity = 8192; // bins the spectra hold, whatever N
    static constexpr int MarkerCount = 6; // the window's; the monitor places none

    TFrameRecipe();
    ~TFrameRecipe();
    TFrameRecipe(const TFrameRecipe&) = delete;
    TFrameRecipe& operator=(const TFrameRecipe&) = delete;

    // --- between frames ---
    // New settings: the FFT resized or its window changed, the holds started anew, the limits
    // resampled, the markers kept at their frequencies through a change of N.
    void Configure(const TFrameSettings& Settings);
    const TFrameSettings& Settings() const { return FSettings; }
    int N() const { return FN; }
    const TDXFFT& FFT() const { return *FFFT; }
    // Levels of all N bins every frame (the window draws them); the monitor does without.
    void SetLevelsWanted(bool On) { FLevelsWanted = On; }

    void SetHolds(const THoldSwitches& Holds);
    const THoldSwitches& HoldSwitches() const { return FHoldSwitches; }
    void ClearHolds();
    const THoldTraces& Holds() const { return FHolds; }

    // The markers move onto the new trace at once.
    void SetMarkerTrace(TMarkerTrace Trace);
    TMarkerTrace MarkerTrace() const { return FMarkerTrace; }
    // What the markers sit on: the chosen hold while it has frames, else the averages.
    const float* TraceMagnitudes() const;
    // Marker Number (1 .. MarkerCount) on a peak the caller chose; it follows it from here on.
    void PlaceMarker(int Number, const TPeak& Peak);
    void RemoveMarker(int Number);
    void RemoveMarkers();
    const TFrameMarker& Marker(int Number) const;

    // Bands as displayed (the offsets and the mirroring of Configure apply). Statistics gather
    // from the next frame on.
    void SetBands(std::vector<TBand> Bands, double OccupancyDb);
    size_t BandCount() const { return FBands.size(); }
    int64_t BandFrames() const { return FBandStats.Frames(); }
    // The group of frames since the last call, one result per band; a new group starts.
    std::span<const TBandResult> TakeBands();

    void SetLimits(const TLimits& Limits);
    const TLimitCheck& LimitCheck() const { return FCheck; }
    // False, keeping the old one, unless 0 <= Seconds.
    bool SetHoldOffSeconds(double Seconds) { return FEpisodes.SetHoldOffSeconds(Seconds); }
    const TLimitEpisodes& Episodes() const { return FEpisodes; }
    // The wall-clock time of the open episode's first frame.
    double EpisodeStart(TLimitKind Kind) const { return FEpisodes.Current(Kind).Start; }
    // Limits in force, or an episode open: the next frame goes through the check (and needs
    // its time).
    bool WatchesLimits() const;
    // The end of a run: the open episodes end.
    const TLimitStep& FinishEpisodes() { return FEpisodes.Finish(); }

    // --- one frame ---
    // Block's first 2N samples through the transform; the magnitudes into the band statistics;
    // the running average; the levels; the holds; the markers follow; the limit check and the
    // episodes (Index numbers the frame). False, nothing changed, when the FFT cannot take it.
    bool Process(const int16_t* Block, int64_t Index, const TFrameTime& Time);

    const float* Magnitudes() const; // the last frame's, before the average, physical order
    const float* Averages() const { return FAverages.data(); }
    const float* Levels() const { return FLevels.data(); } // displayed order
    // The same for the plot, which keeps a pointer to the levels and only reads them.
    float* Levels() { return FLevels.data(); }
    // The last frame went through the limit check (limits in force, or an episode open).
    bool LimitChecked() const { return FLimitChecked; }
    const TLimitFrame& LimitFrame() const { return FLimitFrame; }
    // What the last frame did to the episodes, times as the wall clock had them.
    const TLimitStep& LimitStep() const { return FStep; }
    bool Beyond() const { return FLimitChecked && FLimitFrame.AnyBeyond(); }

private:
    void ConfigureHolds();
    void ConfigureBands();
    void FollowMarkers();
    void Follow(TFrameMarker& Marker, const float* Magnitudes) const;
    void CheckLimits(int64_t Index, const TFrameTime& Time);

    TFrameSettings FSettings;
    int FN = 0;
    std::unique_ptr<TDXFFT> FFFT;
    TDXVector* FInput = nullptr;
    TDXComplexVector* FOutput = nullptr;
    std::vector<float> FAverages, FLevels;
    bool FLevelsWanted = true;

    THoldSwitches FHoldSwitches;
    THoldTraces FHolds;
    TMarkerTrace FMarkerTrace = TMarkerTrace::Live;
    std::array<TFrameMarker, MarkerCount> FMarkers;

    std::vector<TBand> FBands;
    TBandStats FBandStats;

    TLimitCheck FCheck;
    TLimitEpisodes FEpisodes;
    bool FLimitChecked = false;
    TLimitFrame FLimitFrame;
    TLimitStep FStep;
};

// A frame as the recordings take it.
struct TRecordedFrame
{
    double Stamp = 0; // what its record carries (0 for frames without a time mark)
    TFrameTime Time;
    const int16_t* Block = nullptr;
    bool Beyond = false; // beyond a limit
};

enum class TRecordingOutput : uint8_t { EventLog, Alarms, Continuous };

// The offsets header of a recording, as the window's recordings write it.
struct TRecordingHeader
{
    double FreqOffset = 0;
    double LevelOffset = 0;
    bool Inverted = false;
    char DecimalSeparator = '.';
};

class TFrameRecording
{
public:
    // 64 MB of frames at most before an alarm; the ring's length in steps of RingStep frames.
    static constexpr int MaxRingFrames = 4096, RingStep = 16;
    // Episodes kept for a log that failed, until it takes them again.
    static constexpr size_t MaxPendingEpisodes = 1000;

    // An output failed and is off now: the log closed (its episodes kept for RetryEventLog),
    // recording on alarm or the continuous recording stopped, whole records kept. Once per
    // failure; Message says what and why.
    std::function<void(TRecordingOutput Output, const std::string& Message)> OnFailure;

    // --- the event log ---
    // Throws ELimitLogError; the file is kept for RetryEventLog all the same.
    void OpenEventLog(const std::string& File);
    void CloseEventLog(); // and forgets the file and the episodes not written
    bool EventLogOpen() const { return FLog.IsOpen(); }
    // Opens the log of the last OpenEventLog again and writes the episodes it kept; throws
    // ELimitLogError, keeping them, when it still cannot.
    void RetryEventLog();
    size_t PendingEpisodes() const { return FPending.size(); }
    // Appends the episodes that ended (wall-clock times, as TFrameRecipe gives them).
    void LogEpisodes(const TLimitStep& Step);

    // --- recording on alarm ---
    void StartAlarms(const TAlarmRecordingSettings& Settings);
    void StopAlarms(); // throws EAlarmRecordError when closing fails
    const TAlarmRecorder& Alarms() const { return FRecorder; }
    // Frames in the ring, which an alarm's recording writes at once when it opens.
    int RingFrames() { return FRecorder.Ring().Count(); }

    // --- the continuous recording ---
    // The file with its offsets header (closed again when the header cannot be written), or
    // without one, which AppendContinuousHeader may write before the first frame. ESpkError.
    void StartContinuous(const std::string& File, const TRecordingHeader& Header);
    void StartContinuous(const std::string& File);
    void AppendContinuousHeader(const TRecordingHeader& Header); // ESpkError, the file kept
    void StopContinuous();                                       // ESpkError
    const TSpkWriter& Continuous() const { return FContinuous; }

    // Every processed frame: into the ring before an alarm (its length follows PreSeconds at
    // the frames' pace, RingStep frames until the pace is known), the alarm's recording (named
    // by the wall clock, its seconds on the steady time), the continuous recording.
    void Frame(const TRecordedFrame& Frame);
    // The end of a run: the episodes it ended logged, the alarm's recording closed, the ring
    // emptied (the next frame does not follow on from the last).
    void RunEnded(const TLimitStep& Finished);

private:
    void KeepRingLength(double Time);
    void Fail(TRecordingOutput Output, const std::string& Message);
    void Keep(const TLimitEpisode& Episode);

    TLimitEventLog FLog;
    std::string FLogFile;
    std::vector<TLimitEpisode> FPending;
    TAlarmRecorder FRecorder;
    TAlarmRecordingSettings FAlarmSettings;
    // Seconds between frames, measured over FPaceFrames frames from FPaceStart (days).
    double FFramePeriod = 0, FLastTime = 0, FPaceStart = 0;
    int64_t FPaceFrames = 0;
    TSpkWriter FContinuous;
};

} // namespace quillex
