#pragma once

#include "FrameRing.h"
#include "SpkFile.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

// Recording on alarm: each alarm gets a recording of its own, a normal ".spk" file with an
// offsets header, holding the frames of the PreSeconds before its first frame beyond a
// limit (from the ring of recent frames), every frame from there on, and the frames up to
// PostSeconds after its last frame beyond a limit. A frame beyond a limit within those
// PostSeconds extends the same file. Independent of the window's own recording.
namespace quillex {

struct TAlarmRecordingSettings
{
    std::string Folder;
    double PreSeconds = 5;
    double PostSeconds = 5;
    // The offsets header of the recordings, as the window's own recordings write it.
    double FreqOffset = 0;
    double LevelOffset = 0;
    bool Inverted = false;
    char DecimalSeparator = '.';
};

// Recording on alarm has stopped because a file could not be created or written.
class EAlarmRecordError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TAlarmRecorder
{
public:
    // Turns recording on alarm on with these settings (after a failure too); a file still
    // open is closed first. The ring keeps its frames.
    void Start(const TAlarmRecordingSettings& Settings);
    // Turns it off, closing a file still open; throws EAlarmRecordError when closing fails.
    void Stop();
    bool Active() const { return FActive; }

    // The frames before an alarm; its length (in frames) is the caller's to choose from
    // PreSeconds and the frame rate.
    TFrameRing& Ring() { return FRing; }

    // Every processed frame while active: Beyond tells whether it is beyond any limit. Opens,
    // writes and closes files. When a file cannot be created or written, the file keeps the
    // whole records written before (a file without a frame is removed), recording on alarm
    // turns off and EAlarmRecordError is thrown, once. Time names a new file; the seconds
    // before and after run on Elapsed, in days as Time but on a clock that is never set back
    // (by default Time itself, as for a recording's frame times).
    void Frame(double Stamp, double Time, const int16_t* Block, bool Beyond,
               std::optional<double> Elapsed = std::nullopt);
    // The end of a run: closes a file still open and empties the ring, since the next frame
    // does not follow on from the last. Throws as Frame does.
    void Finish();

    bool Recording() const { return FWriter.IsOpen(); }
    // Records in the file being written (or the last one), its header included.
    int64_t RecordCount() const { return FWriter.RecordCount(); }
    // The file being written, or the last one written.
    const std::string& FileName() const { return FWriter.FileName(); }

private:
    void Open(double Time, double Elapsed);
    void Append(double Stamp, const int16_t* Block);
    void CloseFile();
    [[noreturn]] void Fail(const std::exception& Error);

    TAlarmRecordingSettings FSettings;
    bool FActive = false;
    double FLastBeyond = 0;
    TFrameRing FRing;
    TSpkWriter FWriter;
};

// The file name of a recording on alarm starting at Time, in Folder: "limit_" and the time as
// "yyyy-mm-dd_hh-nn-ss.zzz", then ".spk"; "_2", "_3", ... before ".spk" when a file of that
// name exists, so no file is ever replaced.
std::string AlarmRecordingName(const std::string& Folder, double Time);

} // namespace quillex
