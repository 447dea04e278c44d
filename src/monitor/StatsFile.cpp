#include "StatsFile.h"

#include "DateTimeU.h"
#include "StampText.h"
#include "StatsLine.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillex::monitor {

std::string StatsHeader()
{
    return StatsCsvHeader;
}

std::string StatsLines(const TIntervalOutput& Interval)
{
    std::string text;
    const std::string head =
        IsoStampText(Interval.Start) + ",1," + std::to_string(Interval.FirstFrame);
    for (const TBandLine& b : Interval.Lines) {
        text += head;
        AppendStatsFields(text, b.Band,
                          {b.LowMHz, b.HighMHz, b.PowerDbm, b.NoiseDbmHz, b.OccupancyPct, b.ObwKHz,
                           b.PeakMHz, b.PeakDbm});
        text += '\n';
    }
    return text;
}

std::string AppendWhole(const std::string& File, const std::string& Header, const std::string& Text)
{
    const int fd = ::open(File.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot open " + File + ": " + std::strerror(errno);
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return "cannot write " + File + ": " + std::strerror(error);
    }
    const std::string text = info.st_size == 0 ? Header + Text : Text;
    size_t done = 0;
    int error = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += size_t(n);
    }
    // A part written would leave half a line: the file goes back to where it was.
    if (error != 0 && done > 0 && ::ftruncate(fd, info.st_size) != 0)
        error = errno;
    ::close(fd);
    return error == 0 ? std::string() : "cannot write " + File + ": " + std::strerror(error);
}

std::string TStatsFile::Add(const TIntervalOutput& Interval)
{
    const std::string file = FFolder + "/" + FormatDateTime("yyyy-mm-dd", Interval.Start) + ".csv";
    if (FPending.empty() || FPending.back().first != file)
        FPending.emplace_back(file, std::string());
    FPending.back().second += StatsLines(Interval);
    // Lines kept from before go first, each to its day's file.
    while (!FPending.empty()) {
        const auto& [name, text] = FPending.front();
        if (std::string error = AppendWhole(name, StatsHeader(), text); !error.empty())
            return error;
        FPending.erase(FPending.begin());
    }
    return {};
}

size_t TStatsFile::PendingBytes() const
{
    size_t bytes = 0;
    for (const auto& p : FPending)
        bytes += p.second.size();
    return bytes;
}

} // namespace quillex::monitor
