#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The waterfall rows as they were painted, each at the width it was painted with. A resize
// scales every row once from these pixels: scaling the already scaled image again on each
// step of a drag would move the rows further off the frequency axis with every step.
class TSpektroRows
{
public:
    // Room for Height rows of up to Width pixels; keeps the newest rows that fit. Allocates
    // only when the height or the width grows beyond the room so far.
    void Reserve(int Width, int Height);
    // Stores a row (at most the reserved width), dropping the oldest when full.
    void Push(std::span<const std::uint32_t> Row);
    void Clear() { Count = 0; }

    int Size() const { return Count; }
    // Age 0 is the newest row; its pixels have the width it was painted with.
    std::span<const std::uint32_t> Newest(int Age) const;

private:
    std::vector<std::uint32_t> Pixels;
    std::vector<int> Widths;
    int Stride = 0;
    int Slots = 0;
    int Limit = 0; // rows kept, at most Slots
    int First = 0; // slot of the oldest row
    int Count = 0;
};
