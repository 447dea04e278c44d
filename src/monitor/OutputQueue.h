#pragma once

#include "LimitEpisodes.h"
#include "MonitorOptions.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The way from the acquisition thread to the writer: a bounded queue that the acquisition
// never waits on. Frames for the recordings are copied into slots made once; a full queue
// refuses a frame (the recordings miss it, and it is counted) but keeps room for the rarer
// messages (an interval's statistics, episodes, settings), which are refused only when even
// that room is taken.
namespace quillex::monitor {

// A band's line of an interval: the statistics CSV's fields. NaN where there is no value.
struct TBandLine
{
    std::string Band;
    double LowMHz = 0, HighMHz = 0; // as configured (displayed)
    double PowerDbm = 0, NoiseDbmHz = 0, OccupancyPct = 0, ObwKHz = 0, PeakMHz = 0, PeakDbm = 0;
};

// What an interval with frames leaves: a line per band and its max-folded spectrum.
struct TIntervalOutput
{
    double Start = 0; // wall clock at its first frame, days since 1899-12-30
    int64_t FirstFrame = 0;
    int64_t Frames = 0;
    std::vector<TBandLine> Lines;
    std::vector<float> Levels; // dBm without the level offset, displayed order
};

struct TOutMessage
{
    enum class TKind : uint8_t {
        Frame,    // a frame for the recordings (its samples in the slot)
        Interval, // an interval ended (Interval null: it had no frames)
        Episodes, // episodes ended (Step)
        RunEnded, // the frames stop following on (a receiver gap, the end): Step ends episodes
        Settings, // new settings
        Stop      // the last message
    };
    TKind Kind = TKind::Frame;
    double Stamp = 0, Steady = 0, Wall = 0;
    bool Beyond = false;
    TLimitStep Step;
    std::unique_ptr<TIntervalOutput> Interval;
    std::shared_ptr<const TMonitorSettings> Settings;
};

class TOutputQueue
{
public:
    static constexpr int SampleCount = 8192;
    // Room kept for messages other than frames.
    static constexpr int Reserve = 32;
    // Frames that wake the writer; other messages wake it at once.
    static constexpr int FrameBatch = 16;

    explicit TOutputQueue(int Capacity = 512);

    // From the producer; never waits. False when refused (counted).
    bool PushFrame(double Stamp, double Steady, double Wall, bool Beyond, const int16_t* Block);
    bool Push(TOutMessage&& Message);

    // The consumer's next message, waiting at most Seconds (fewer than FrameBatch frames may
    // wait that long); null when none came. It stays valid (with its samples) until Pop.
    TOutMessage* Front(double Seconds, const int16_t** Block);
    void Pop();

    int64_t RefusedFrames() const;
    int64_t RefusedMessages() const;

private:
    bool Room(int Needed) const { return FCount + Needed <= Capacity(); }
    int Capacity() const { return int(FMessages.size()); }

    mutable std::mutex FMutex;
    std::condition_variable FArrived;
    std::vector<TOutMessage> FMessages;
    std::unique_ptr<int16_t[]> FBlocks;
    int FHead = 0, FCount = 0;
    int64_t FRefusedFrames = 0, FRefusedMessages = 0;
};

} // namespace quillex::monitor
