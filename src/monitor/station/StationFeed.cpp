#include "StationFeed.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace quillex::station {

TFrameFeed::TFrameFeed()
{
    for (TBuffer& b : FBuffers) {
        b.Max.assign(MaxBins, 0.0f);
        b.Latest.assign(MaxBins, 0.0f);
    }
}

bool TFrameFeed::Publish(const float* Magnitudes, int N, double Time)
{
    if (!Magnitudes || N <= 0 || N > MaxBins)
        return false;
    // The server holds the mutex for a swap of two integers; a few tries cover that. Anything
    // longer (the server descheduled mid-swap) costs this frame, never the acquisition's time.
    std::unique_lock lock(FLock, std::try_to_lock);
    for (int i = 0; i < 64 && !lock.owns_lock(); ++i) {
        if (i >= 8)
            std::this_thread::yield();
        lock.try_lock();
    }
    if (!lock.owns_lock()) {
        FRefused.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    TBuffer& b = FBuffers[FCurrent];
    float* max = b.Max.data();
    if (b.Frames == 0 || b.N != N) {
        std::memcpy(max, Magnitudes, sizeof(float) * size_t(N));
        b.N = N;
        b.Frames = 0;
    } else {
        // NaN never wins, so one bad frame does not blank a column until the next row.
        for (int k = 0; k < N; ++k)
            max[k] = Magnitudes[k] > max[k] ? Magnitudes[k] : max[k];
    }
    std::memcpy(b.Latest.data(), Magnitudes, sizeof(float) * size_t(N));
    ++b.Frames;
    b.Time = Time;
    FTaken.fetch_add(1, std::memory_order_relaxed);
    return true;
}

TFrameFeed::TFold TFrameFeed::Take()
{
    // The other buffer is the server's since the last Take: empty it for the feed first.
    const int other = FCurrent ^ 1;
    FBuffers[other].Frames = 0;
    {
        std::lock_guard lock(FLock);
        FCurrent = other;
    }
    const TBuffer& b = FBuffers[other ^ 1];
    return {b.N, b.Frames, b.Time, b.Max.data(), b.Latest.data()};
}

} // namespace quillex::station
