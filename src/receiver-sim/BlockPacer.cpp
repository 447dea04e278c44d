#include "BlockPacer.h"

#include <algorithm>
#include <thread>

namespace {
// Keeps a mistyped rate from stalling the caller for hours.
constexpr double SlowestRate = 0.1;
// A caller this late (or one period, if longer) keeps the schedule; later than
// that it has paused, and the schedule starts afresh.
constexpr std::chrono::milliseconds Slack{5};
} // namespace

void BlockPacer::Wait(double BlocksPerSecond)
{
    using Clock = std::chrono::steady_clock;
    if (!(BlocksPerSecond > 0)) {
        Running = false;
        return;
    }
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / std::max(BlocksPerSecond, SlowestRate)));
    const auto now = Clock::now();
    if (!Running || now > Due + std::max<Clock::duration>(period, Slack)) {
        Due = now;
        Running = true;
    } else if (now < Due) {
        std::this_thread::sleep_until(Due);
    }
    Due += period;
}
