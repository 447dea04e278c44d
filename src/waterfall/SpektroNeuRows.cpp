#include "SpektroNeuRows.h"

#include <algorithm>
#include <cstring>

namespace {

// Room to spare when growing, so that a drag of the window edge does not reallocate and copy
// every row on each step.
int WithRoomToGrow(int Size)
{
    return Size + Size / 4;
}

} // namespace

void TSpektroRows::Reserve(int Width, int Height)
{
    Width = std::max(Width, 0);
    Height = std::max(Height, 0);
    Limit = Height;
    for (; Count > Limit; --Count)
        First = (First + 1) % Slots;
    if (Height <= Slots && Width <= Stride)
        return;
    const int slots = std::max(Slots, WithRoomToGrow(Height));
    const int stride = std::max(Stride, WithRoomToGrow(Width));
    std::vector<std::uint32_t> pixels(std::size_t(stride) * std::size_t(slots), 0);
    std::vector<int> widths(static_cast<std::size_t>(slots), 0);
    // The kept rows move to slots 0 .. Count - 1, oldest first.
    for (int age = 0; age < Count; ++age) {
        const std::span<const std::uint32_t> row = Newest(age);
        const int slot = Count - 1 - age;
        std::memcpy(pixels.data() + std::size_t(slot) * std::size_t(stride), row.data(),
                    row.size_bytes());
        widths[std::size_t(slot)] = int(row.size());
    }
    Pixels = std::move(pixels);
    Widths = std::move(widths);
    Stride = stride;
    Slots = slots;
    First = 0;
}

void TSpektroRows::Push(std::span<const std::uint32_t> Row)
{
    if (Limit == 0)
        return;
    if (Count == Limit) {
        First = (First + 1) % Slots;
        --Count;
    }
    const int slot = (First + Count) % Slots;
    ++Count;
    const std::size_t width = std::min(Row.size(), std::size_t(Stride));
    std::memcpy(Pixels.data() + std::size_t(slot) * std::size_t(Stride), Row.data(), width * 4);
    Widths[std::size_t(slot)] = int(width);
}

std::span<const std::uint32_t> TSpektroRows::Newest(int Age) const
{
    const int slot = (First + Count - 1 - Age) % Slots;
    return {Pixels.data() + std::size_t(slot) * std::size_t(Stride),
            std::size_t(Widths[std::size_t(slot)])};
}
