#pragma once

#include <cstdint>
#include <string>

// Whether the waterfall's picture jumps between two rows, and why: the rows no longer follow
// each other in time (the acquisition paused, a seek in a file, another source) or show another
// frequency mapping (span, centre, FFT size, window, offsets, mirroring). No Qt here.
namespace quillex {

enum class TRowSource { Live, File };

// What a row of the waterfall shows and when it was taken.
struct TRowState
{
    TRowSource Source = TRowSource::Live;
    // Live rows: when the frame was taken, in seconds (any fixed origin), and the time between
    // frames of the pacing in force.
    double Time = 0;
    double FramePeriod = 0;
    // File rows: which loaded file (a new number for every load) and the frame's record index.
    std::int64_t FileId = 0;
    std::int64_t Record = 0;
    // The frequency mapping.
    double SpanKHz = 0;
    double CentreKHz = 0;
    int FftSize = 0;
    int Window = 0;
    int Averaging = 1;
    double FreqOffset = 0;
    double LevelOffset = 0;
    bool Inverted = false;
};

// Reasons, in the order a label names them.
enum TJumpReason : unsigned {
    JumpGap = 1u << 0,   // live rows further apart than max(three frame periods, 0.5 s)
    JumpClock = 1u << 1, // live rows whose times run backwards (the clock was set back)
    JumpLive = 1u << 2,  // back to live rows after rows from a file
    JumpFile = 1u << 3,  // rows from a file after live rows or from another file
    JumpSeek = 1u << 4,  // file rows that are not the next record
    JumpSpan = 1u << 5,
    JumpCentre = 1u << 6,
    JumpFft = 1u << 7,
    JumpWindow = 1u << 8,
    JumpOffset = 1u << 9,    // frequency or level offset
    JumpMirror = 1u << 10,   // the spectrum's inversion switched
    JumpAveraging = 1u << 11 // frames averaged
};

struct TJump
{
    unsigned Reasons = 0;
    double GapSeconds = 0; // for JumpGap and JumpClock: After's time less Before's
    explicit operator bool() const { return Reasons != 0; }
};

// The jump from row Before to the next row After. Gaps count between live rows only: a file
// plays on where it stopped. The smaller of the two frame periods counts, so that a change of
// pacing does not hide a pause; below half a second apart nothing counts (scheduling hiccups
// of a fast pacing, or a period not yet measured).
TJump FindJump(const TRowState& Before, const TRowState& After);

// A short label for the margin: the reasons' words joined by ", ", e.g. "gap 10 s",
// "span, FFT", "gap 2.5 s, FFT". Empty when there is no reason.
std::string JumpLabel(const TJump& Jump);

// The gap's length in a few characters: "250 ms", "2.5 s", "10 s", "5 min", "3 h".
std::string GapText(double Seconds);

// Follows the rows one by one: the first row, and the first after Reset, jumps from nothing.
class TJumpTracker
{
public:
    TJump Next(const TRowState& Row)
    {
        const TJump jump = FHasLast ? FindJump(FLast, Row) : TJump{};
        FLast = Row;
        FHasLast = true;
        return jump;
    }
    void Reset() { FHasLast = false; }

private:
    TRowState FLast;
    bool FHasLast = false;
};

} // namespace quillex
