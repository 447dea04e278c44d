#pragma once

#include <chrono>

// Hands out blocks on a steady schedule, as a receiver streaming at a fixed
// rate would: a caller that is a little late gets its block at once and the
// average rate holds, but a caller back from a long pause gets no burst of
// overdue blocks.
class BlockPacer
{
public:
    // Blocks until the next block is due; a rate of 0 or less means no pacing.
    void Wait(double BlocksPerSecond);

private:
    std::chrono::steady_clock::time_point Due{};
    bool Running = false;
};
