#include "AlarmRecorder.h"

#include "DateTimeU.h"

#include <sys/stat.h>
#include <unistd.h>

namespace quillex {

namespace {

constexpr double SecondsPerDay = 86400.0;
// Frame times are days; a microsecond of slack keeps a frame exactly P or Q seconds away
// from turning on the rounding of the times.
constexpr double SlackSeconds = 1e-6;

bool Exists(const std::string& Path)
{
    struct stat info
    {
    };
    return ::lstat(Path.c_str(), &info) == 0;
}

} // namespace

std::string AlarmRecordingName(const std::string& Folder, double Time)
{
    std::string base = Folder;
    if (!base.empty() && base.back() != '/')
        base += '/';
    base += "limit_" + FormatDateTime("yyyy-mm-dd_hh-nn-ss.zzz", Time);
    std::string name = base + ".spk";
    for (int n = 2; Exists(name); ++n)
        name = base + "_" + std::to_string(n) + ".spk";
    return name;
}

void TAlarmRecorder::Start(const TAlarmRecordingSettings& Settings)
{
    if (FWriter.IsOpen())
        CloseFile();
    FSettings = Settings;
    FActive = true;
}

void TAlarmRecorder::Stop()
{
    FActive = false;
    if (FWriter.IsOpen())
        CloseFile();
}

void TAlarmRecorder::Frame(double Stamp, double Time, const int16_t* Block, bool Beyond,
                           std::optional<double> Elapsed)
{
    if (!FActive)
        return;
    const double elapsed = Elapsed.value_or(Time);
    if (Beyond) {
        if (!FWriter.IsOpen())
            Open(Time, elapsed);
        FLastBeyond = elapsed;
    } else if (FWriter.IsOpen() &&
               (elapsed - FLastBeyond) * SecondsPerDay > FSettings.PostSeconds + SlackSeconds) {
        CloseFile();
    }
    if (FWriter.IsOpen())
        Append(Stamp, Block);
    FRing.Push(Stamp, elapsed, Block);
}

void TAlarmRecorder::Finish()
{
    FRing.Clear();
    if (FWriter.IsOpen())
        CloseFile();
}

void TAlarmRecorder::Open(double Time, double Elapsed)
{
    try {
        FWriter.Create(AlarmRecordingName(FSettings.Folder, Time));
        FWriter.AppendHeader(FSettings.FreqOffset, FSettings.LevelOffset, FSettings.Inverted,
                             FSettings.DecimalSeparator);
    } catch (const ESpkError& e) {
        Fail(e);
    }
    const double earliest = Elapsed - (FSettings.PreSeconds + SlackSeconds) / SecondsPerDay;
    int first = FRing.Count();
    while (first > 0 && FRing.Time(first - 1) >= earliest)
        --first;
    for (int i = first; i < FRing.Count(); ++i)
        Append(FRing.Stamp(i), FRing.Block(i));
}

void TAlarmRecorder::Append(double Stamp, const int16_t* Block)
{
    try {
        FWriter.AppendRecord(Stamp, Block);
    } catch (const ESpkError& e) {
        Fail(e);
    }
}

void TAlarmRecorder::CloseFile()
{
    try {
        FWriter.Close();
    } catch (const ESpkError& e) {
        Fail(e);
    }
}

void TAlarmRecorder::Fail(const std::exception& Error)
{
    FActive = false;
    const bool noFrame = FWriter.RecordCount() <= 1;
    try {
        FWriter.Close();
    } catch (const ESpkError&) {
        // The first failure is the one to report.
    }
    if (noFrame && !FWriter.FileName().empty())
        ::unlink(FWriter.FileName().c_str());
    throw EAlarmRecordError(std::string("Recording on alarm stopped: ") + Error.what());
}

} // namespace quillex
