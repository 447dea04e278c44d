#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>

// The time of every frame of a recording. Only some frames carry a stamp (the window
// stamps the frames that get a time label, about one a second); the others get theirs
// from the stamps around them. No Qt, so the window and the exporter share it.
namespace quillex {

// A frame stamp marks a frame that carried a time label when it is positive, as in the
// window's playback, and a date before the year 10000; 0 (and NaN) means none.
bool IsFrameStamp(double Stamp);

// What the program writes as a stamp: 0 or a date from 1990 to 2100. Anything else
// suggests that the file is no recording.
bool IsPlausibleStamp(double Stamp);

// What the window and the exporter say, once, of a file without a header whose record
// Record carries such a stamp: "<File> is probably no recording: ...".
std::string ImplausibleStampWarning(const std::string& File, int64_t Record, double Stamp);

// The stamp in a record's first 8 bytes (little-endian).
double RecordStamp(const uint8_t* Record);

// Times of the frames First .. Last of a recording. A stamped frame has its stamp; between
// two stamped frames the time runs linearly with the frame index; before the first and
// after the last stamp it goes on at the pace of the nearest two stamps. With a single
// stamp only that frame has a time; with none, no frame has.
//
// Stamps are read only as they are needed: every record's stamp lies in a page of its
// own, so reading all of a recording's stamps costs a system call or a page fault per
// frame, about a quarter of what transforming the frame costs. A reader that reads the
// records anyway hands their stamps in with Note, in frame order; then only the few frames
// up to the next stamp beyond them are read here. Memory is the stamps of the frames
// known and not forgotten.
class TFrameTimes
{
public:
    using TStampReader = std::function<double(int64_t Frame)>;

    // ReadStamp reads one frame's stamp; it may throw, and its exception passes through.
    TFrameTimes(int64_t First, int64_t Last, TStampReader ReadStamp);

    // The stamps of Count frames from Frame on, as the caller read them.
    void Note(int64_t Frame, const double* Stamps, int64_t Count);
    // For callers going through the frames in order: what is known of frames before Frame
    // may go, except what the times of later frames need.
    void Forget(int64_t Frame);

    // Whether Frame (First .. Last) carries a stamp; its time, or none (see above).
    bool Stamped(int64_t Frame);
    std::optional<double> TimeOf(int64_t Frame);

    // Stamps read through ReadStamp so far (not handed in with Note).
    int64_t StampsRead() const { return FRead; }

private:
    using TStamp = std::pair<int64_t, double>; // frame, stamp

    void Cover(int64_t Frame);
    void ReadForward();
    void ReadBackward();
    std::optional<TStamp> NextFrom(int64_t Frame);
    std::optional<TStamp> PreviousTo(int64_t Frame);

    int64_t FFirst, FLast;
    TStampReader FReadStamp;
    // Every stamp of the frames FLo .. FHi-1 is known; those that mark a frame are here,
    // in frame order.
    int64_t FLo = 0, FHi = 0;
    std::deque<TStamp> FStamps;
    int64_t FRead = 0;
};

// Reads single stamps of a ".spk" file with its own descriptor: 8 bytes of a 16 KB record
// each, where a mapping would take in whole pages of samples. Throws ESpkReadError.
class TSpkStampReader
{
public:
    explicit TSpkStampReader(const std::string& FileName);
    ~TSpkStampReader();
    TSpkStampReader(const TSpkStampReader&) = delete;
    TSpkStampReader& operator=(const TSpkStampReader&) = delete;

    double operator()(int64_t Record) const;

private:
    int FFd = -1;
    std::string FFileName;
};

} // namespace quillex
