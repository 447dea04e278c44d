#include "LimitEventLog.h"

#include "StampText.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillex {

namespace {

constexpr const char* HeaderText = "start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB";

void AppendTime(std::string& Out, double Time)
{
    if (Time != 0 && std::isfinite(Time))
        Out += IsoStampText(Time);
}

std::string Reason(int Error)
{
    return std::strerror(Error);
}

} // namespace

std::string LimitLogHeader()
{
    return std::string(HeaderText) + '\n';
}

std::string LimitLogLine(const TLimitEpisode& Episode)
{
    std::string line;
    AppendTime(line, Episode.Start);
    line += ',';
    AppendTime(line, Episode.End);
    line += ',' + std::to_string(Episode.FirstFrame) + ',' + std::to_string(Episode.LastFrame);
    line += Episode.Kind == TLimitKind::Upper ? ",upper," : ",lower,";
    AppendFixed(line, Episode.Worst.MHz, 6);
    line += ',';
    AppendFixed(line, Episode.Worst.Dbm, 2);
    line += ',';
    AppendFixed(line, Episode.Worst.ExcessDb, 2);
    line += '\n';
    return line;
}

TLimitEventLog::~TLimitEventLog()
{
    if (FFd >= 0)
        ::close(FFd);
}

void TLimitEventLog::Open(const std::string& FileName)
{
    Close();
    const int fd = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        throw ELimitLogError("Cannot open " + FileName + ": " + Reason(errno));
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw ELimitLogError("Cannot open " + FileName + ": " + Reason(error));
    }
    FFd = fd;
    FFileName = FileName;
    if (info.st_size == 0) {
        Write(LimitLogHeader());
        return;
    }
    const std::string header(HeaderText);
    std::string first(header.size() + 2, '\0');
    const ssize_t n = ::pread(fd, first.data(), first.size(), 0);
    first.resize(n > 0 ? size_t(n) : 0);
    if (first.compare(0, header.size() + 1, header + '\n') != 0 &&
        first.compare(0, header.size() + 2, header + "\r\n") != 0) {
        Close();
        throw ELimitLogError(FileName + " is not a limit event log: its first line is not \"" +
                             header + "\"");
    }
    char last = '\n';
    if (::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n')
        Write("\n");
}

void TLimitEventLog::Append(const TLimitEpisode& Episode)
{
    Write(LimitLogLine(Episode));
}

void TLimitEventLog::Write(const std::string& Text)
{
    if (FFd < 0)
        throw ELimitLogError("No limit event log is open");
    struct stat info
    {
    };
    const off_t before = ::fstat(FFd, &info) == 0 ? info.st_size : -1;
    size_t done = 0;
    while (done < Text.size()) {
        const ssize_t n = ::write(FFd, Text.data() + done, Text.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int error = n < 0 ? errno : ENOSPC;
        if (done > 0 && (before < 0 || ::ftruncate(FFd, before) != 0))
            throw ELimitLogError("Cannot write to " + FFileName + ": " + Reason(error) +
                                 " (its last line may be incomplete)");
        throw ELimitLogError("Cannot write to " + FFileName + ": " + Reason(error));
    }
}

void TLimitEventLog::Close()
{
    if (FFd < 0)
        return;
    const int result = ::close(FFd);
    const int error = errno;
    FFd = -1;
    if (result != 0 && error != EINTR)
        throw ELimitLogError("Cannot write to " + FFileName + ": " + Reason(error));
}

} // namespace quillex
