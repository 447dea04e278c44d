#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The monitor's own recordings under its output folder, recognised by their names only:
// recordings/YYYY-MM-DD_HH.spk (and _2, _3, ... for further parts of the hour) and
// alarms/limit_YYYY-MM-DD_HH-NN-SS.ZZZ.spk (and _2, ...). Nothing else there is ever touched.
namespace quillex::monitor {

struct TRecordingFile
{
    std::string Path;
    std::string Order; // sorts oldest first: the time in the name, then the part
    int64_t Bytes = 0;
};

// The order key of a recording's file name in Folder ("recordings" or "alarms"), empty when
// the name is not one the monitor writes there.
std::string RecordingOrder(const std::string& Folder, const std::string& Name);

// The monitor's recordings under Out, oldest first.
std::vector<TRecordingFile> ListRecordings(const std::string& Out);

// Deletes recordings, oldest first, until Files' total plus Reserve is at most Budget
// bytes, never a file named in Keep (those being written). Removes the deleted from Files
// and returns how many were deleted; their names go to Deleted.
int KeepWithinBudget(std::vector<TRecordingFile>& Files, int64_t Budget, int64_t Reserve,
                     const std::vector<std::string>& Keep, std::vector<std::string>& Deleted);

int64_t TotalBytes(const std::vector<TRecordingFile>& Files);

} // namespace quillex::monitor
