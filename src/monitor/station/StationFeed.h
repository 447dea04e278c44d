#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// The frames' way from the acquisition thread to the server: two buffers, one written by the
// feed (max-folded frames and the latest frame), one read by the server. The server swaps them
// under the mutex and reads its buffer without it; the feed never waits for the server.
namespace quillex::station {

class TFrameFeed
{
public:
    static constexpr int MaxBins = 8192;

    TFrameFeed();
    // From the acquisition thread. False when the mutex stayed held (the frame is refused).
    bool Publish(const float* Magnitudes, int N, double Time);

    // What the feed gathered since the last Take. Server thread only; valid until its next Take.
    struct TFold
    {
        int N = 0;
        int Frames = 0;
        double Time = 0; // the last frame's
        const float* Max = nullptr;
        const float* Latest = nullptr;
    };
    TFold Take();

    int64_t Taken() const { return FTaken.load(std::memory_order_relaxed); }
    int64_t Refused() const { return FRefused.load(std::memory_order_relaxed); }

private:
    struct TBuffer
    {
        std::vector<float> Max, Latest;
        int N = 0;
        int Frames = 0;
        double Time = 0;
    };
    TBuffer FBuffers[2];
    int FCurrent = 0; // the feed's buffer; the other is the server's
    std::mutex FLock;
    std::atomic<int64_t> FTaken{0}, FRefused{0};
};

} // namespace quillex::station
