#include "LimitEventLog.h"

#include "StampText.h"

#include <cmath>

#include <unistd.h>

namespace quillex {

namespace {

constexpr const char* HeaderText = "start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB";

void AppendTime(std::string& Out, double Time)
{
    if (Time != 0 && std::isfinite(Time))
        Out += IsoStampText(Time);
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

void TLimitEventLog::Open(const std::string& FileName)
{
    Close();
    if (!FFile.Open(FileName, TWholeRecordWriter::TMode::Append))
        throw ELimitLogError(FFile.Error());
    if (FFile.Size() == 0) {
        Write(LimitLogHeader());
        return;
    }
    const int fd = FFile.Descriptor();
    const std::string header(HeaderText);
    std::string first(header.size() + 2, '\0');
    const ssize_t n = ::pread(fd, first.data(), first.size(), 0);
    first.resize(n > 0 ? size_t(n) : 0);
    if (first.compare(0, header.size() + 1, header + '\n') != 0 &&
        first.compare(0, header.size() + 2, header + "\r\n") != 0) {
        FFile.Close();
        throw ELimitLogError(FileName + " is not a limit event log: its first line is not \"" +
                             header + "\"");
    }
    char last = '\n';
    if (::pread(fd, &last, 1, FFile.Size() - 1) == 1 && last != '\n')
        Write("\n");
}

void TLimitEventLog::Append(const TLimitEpisode& Episode)
{
    Write(LimitLogLine(Episode));
}

void TLimitEventLog::Write(const std::string& Text)
{
    if (!FFile.IsOpen())
        throw ELimitLogError("No limit event log is open");
    if (!FFile.Write(Text.data(), Text.size()))
        throw ELimitLogError(FFile.Error());
}

void TLimitEventLog::Close()
{
    if (!FFile.Close())
        throw ELimitLogError(FFile.Error());
}

} // namespace quillex
