#pragma once

#include "LimitEpisodes.h"
#include "WholeRecordWriter.h"

#include <stdexcept>
#include <string>

// The limit event log: CSV, one line per episode,
// "start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB": the times (ISO 8601, local time,
// empty when there is none) and indexes of the episode's first and last frame beyond the
// limit, "upper" or "lower", and its worst point: MHz with six decimals, dBm as displayed and
// the excess in dB with two. Numbers use "." whatever the locale.
namespace quillex {

class ELimitLogError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The header line and an episode's line, each ending in "\n".
std::string LimitLogHeader();
std::string LimitLogLine(const TLimitEpisode& Episode);

// Appends episodes to a log file through a TWholeRecordWriter, each with one write as it
// ends, so a crash loses at most the episodes still open.
class TLimitEventLog
{
public:
    // Opens the file for appending; a new or empty file gets the header first. A file that
    // holds something else (its first line is not the header) is refused rather than
    // appended to. Throws ELimitLogError, the log closed (also when the header cannot be
    // written); closes a log still open first.
    void Open(const std::string& FileName);
    // Throws ELimitLogError, the log closed, when the line cannot be written whole (a part
    // written is cut off again, so the file keeps only whole lines) or the file was removed,
    // renamed or replaced.
    void Append(const TLimitEpisode& Episode);
    void Close();

    bool IsOpen() const { return FFile.IsOpen(); }
    const std::string& FileName() const { return FFile.FileName(); }

private:
    void Write(const std::string& Text);

    TWholeRecordWriter FFile;
};

} // namespace quillex
