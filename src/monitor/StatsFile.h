#pragma once

#include "OutputQueue.h"

#include <string>
#include <utility>
#include <vector>

// The band statistics of the intervals: a CSV file per local day, stats/YYYY-MM-DD.csv, with
// the exporter's --stats columns. An interval's lines go to the file with one write, so a
// reader never sees part of a line; a write that fails is cut off again and its lines are
// written with the next interval's.
namespace quillex::monitor {

// The header line and an interval's lines, "\n" after each: time (the interval's start,
// ISO 8601 local time), stamped (1: the time was read from the clock), frame (its first),
// the band, its edges in MHz as displayed (6 decimals), power, noise density, occupancy (3
// decimals), occupied bandwidth (3), the strongest peak's MHz (6) and dBm; levels without the
// level offset, with 2 decimals; empty where there is no value.
std::string StatsHeader();
std::string StatsLines(const TIntervalOutput& Interval);

class TStatsFile
{
public:
    explicit TStatsFile(std::string Folder) : FFolder(std::move(Folder)) {}
    // Appends the interval's lines (with any kept from a failed write) to its day's file. An
    // empty text when written, else the reason; the lines are then kept for the next call.
    std::string Add(const TIntervalOutput& Interval);
    size_t PendingBytes() const;

private:
    std::string FFolder;
    // Lines not yet written, by their day's file, oldest first.
    std::vector<std::pair<std::string, std::string>> FPending;
};

// Appends Text to File with one write (the header first when the file is new or empty); a
// write cut short is taken back. An empty text when written, else the reason.
std::string AppendWhole(const std::string& File, const std::string& Header,
                        const std::string& Text);

} // namespace quillex::monitor
