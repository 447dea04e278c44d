#include "FrameTimes.h"

#include "DateTimeU.h"
#include "SpkFile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace quillex {

namespace {

// The end of year 9999 in days since 1899-12-30.
constexpr double LastDay = 2958466.0;

} // namespace

bool IsFrameStamp(double Stamp)
{
    return Stamp > 0.0 && Stamp < LastDay;
}

bool IsPlausibleStamp(double Stamp)
{
    static const double from = EncodeDateTime(1990, 1, 1, 0, 0, 0);
    static const double to = EncodeDateTime(2101, 1, 1, 0, 0, 0);
    return Stamp == 0.0 || (Stamp >= from && Stamp < to);
}

std::string ImplausibleStampWarning(const std::string& File, int64_t Record, double Stamp)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", Stamp);
    return File + " is probably no recording: it has no header, and the stamp of record " +
           std::to_string(Record) + " (" + text + ") is neither 0 nor a date from 1990 to 2100";
}

double RecordStamp(const uint8_t* Record)
{
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | Record[i];
    return std::bit_cast<double>(bits);
}

TFrameTimes::TFrameTimes(int64_t First, int64_t Last, TStampReader ReadStamp)
    : FFirst(First), FLast(Last), FReadStamp(std::move(ReadStamp)), FLo(First), FHi(First)
{
}

void TFrameTimes::Note(int64_t Frame, const double* Stamps, int64_t Count)
{
    // Only what continues the known frames is kept: a gap would leave frames unknown
    // in the middle. Nothing is lost: frames not kept are read when needed.
    if (FLo == FHi || Frame > FHi) {
        FStamps.clear();
        FLo = FHi = Frame;
    }
    for (int64_t i = std::max<int64_t>(0, FHi - Frame); i < Count && FHi <= FLast; ++i, ++FHi)
        if (IsFrameStamp(Stamps[i]))
            FStamps.emplace_back(FHi, Stamps[i]);
}

void TFrameTimes::Forget(int64_t Frame)
{
    // The last two stamps before Frame stay: the time of a later frame needs the one
    // before it, and after the last stamp of all the one before that too. Frames before
    // them may go; without two stamps to keep, the knowledge that there are none stays.
    size_t before = 0;
    while (before < FStamps.size() && FStamps[before].first < Frame)
        ++before;
    if (before <= 2)
        return;
    FStamps.erase(FStamps.begin(), FStamps.begin() + ptrdiff_t(before - 2));
    FLo = FStamps.front().first;
}

void TFrameTimes::ReadForward()
{
    const double stamp = FReadStamp(FHi);
    ++FRead;
    if (IsFrameStamp(stamp))
        FStamps.emplace_back(FHi, stamp);
    ++FHi;
}

void TFrameTimes::ReadBackward()
{
    const double stamp = FReadStamp(FLo - 1);
    ++FRead;
    --FLo;
    if (IsFrameStamp(stamp))
        FStamps.emplace_front(FLo, stamp);
}

void TFrameTimes::Cover(int64_t Frame)
{
    // Far from the known frames (a jump), reading the frames between would cost more
    // than reading again what may be needed there.
    if (FLo == FHi || Frame < FLo - 1 || Frame > FHi) {
        FStamps.clear();
        FLo = FHi = Frame;
    }
    if (Frame == FHi)
        ReadForward();
    else if (Frame < FLo)
        ReadBackward();
}

std::optional<TFrameTimes::TStamp> TFrameTimes::NextFrom(int64_t Frame)
{
    if (Frame > FLast)
        return std::nullopt;
    Cover(Frame);
    const auto it = std::lower_bound(FStamps.begin(), FStamps.end(), Frame,
                                     [](const TStamp& S, int64_t F) { return S.first < F; });
    if (it != FStamps.end())
        return *it;
    while (FHi <= FLast) {
        ReadForward();
        if (!FStamps.empty() && FStamps.back().first == FHi - 1)
            return FStamps.back();
    }
    return std::nullopt;
}

std::optional<TFrameTimes::TStamp> TFrameTimes::PreviousTo(int64_t Frame)
{
    if (Frame < FFirst)
        return std::nullopt;
    Cover(Frame);
    const auto it = std::upper_bound(FStamps.begin(), FStamps.end(), Frame,
                                     [](int64_t F, const TStamp& S) { return F < S.first; });
    if (it != FStamps.begin())
        return *std::prev(it);
    while (FLo > FFirst) {
        ReadBackward();
        if (!FStamps.empty() && FStamps.front().first == FLo)
            return FStamps.front();
    }
    return std::nullopt;
}

bool TFrameTimes::Stamped(int64_t Frame)
{
    const auto next = NextFrom(Frame);
    return next && next->first == Frame;
}

std::optional<double> TFrameTimes::TimeOf(int64_t Frame)
{
    if (Frame < FFirst || Frame > FLast)
        return std::nullopt;
    std::optional<TStamp> next = NextFrom(Frame);
    if (next && next->first == Frame)
        return next->second;
    std::optional<TStamp> previous = PreviousTo(Frame - 1);
    // Before the first stamp the pair after the frame gives the pace, after the last one
    // the pair before it.
    if (!previous && next)
        previous = std::exchange(next, NextFrom(next->first + 1));
    else if (previous && !next)
        next = std::exchange(previous, PreviousTo(previous->first - 1));
    if (!previous || !next)
        return std::nullopt;
    const auto [a, ta] = *previous;
    const auto [b, tb] = *next;
    return ta + (tb - ta) * double(Frame - a) / double(b - a);
}

TSpkStampReader::TSpkStampReader(const std::string& FileName) : FFileName(FileName)
{
    FFd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd < 0)
        throw ESpkReadError("Cannot open " + FileName + ": " + std::strerror(errno));
}

TSpkStampReader::~TSpkStampReader()
{
    if (FFd >= 0)
        ::close(FFd);
}

double TSpkStampReader::operator()(int64_t Record) const
{
    uint8_t bytes[8];
    size_t done = 0;
    while (done < sizeof bytes) {
        const ssize_t n = ::pread(FFd, bytes + done, sizeof bytes - done,
                                  off_t(Record * FrameRecordSize + int64_t(done)));
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            throw ESpkReadError("Cannot read " + FFileName + ": " +
                                (n < 0 ? std::strerror(errno) : "the file became shorter"));
    }
    return RecordStamp(bytes);
}

} // namespace quillex
