#include "SpektroNeuRows.h"

#include <algorithm>
#include <cstring>

void TSpektroRows::Reserve(int Width, int Height)
{
    Width = std::max(Width, 0);
    Height = std::max(Height, 0);
    if (Height == Capacity && Width <= Stride)
        return;
    const int keep = std::min(Count, Height);
    int stride = Width;
    for (int age = 0; age < keep; ++age)
        stride = std::max(stride, int(Newest(age).size()));
    std::vector<std::uint32_t> pixels(std::size_t(stride) * std::size_t(Height), 0);
    std::vector<int> widths(static_cast<std::size_t>(Height), 0);
    // The kept rows move to slots 0 .. keep - 1, oldest first.
    for (int age = 0; age < keep; ++age) {
        const std::span<const std::uint32_t> row = Newest(age);
        const int slot = keep - 1 - age;
        std::memcpy(pixels.data() + std::size_t(slot) * std::size_t(stride), row.data(),
                    row.size_bytes());
        widths[std::size_t(slot)] = int(row.size());
    }
    Pixels = std::move(pixels);
    Widths = std::move(widths);
    Stride = stride;
    Capacity = Height;
    First = 0;
    Count = keep;
}

void TSpektroRows::Push(std::span<const std::uint32_t> Row)
{
    if (Capacity == 0)
        return;
    const std::size_t width = std::min(Row.size(), std::size_t(Stride));
    int slot;
    if (Count < Capacity) {
        slot = (First + Count) % Capacity;
        ++Count;
    } else {
        slot = First;
        First = (First + 1) % Capacity;
    }
    std::memcpy(Pixels.data() + std::size_t(slot) * std::size_t(Stride), Row.data(), width * 4);
    Widths[std::size_t(slot)] = int(width);
}

std::span<const std::uint32_t> TSpektroRows::Newest(int Age) const
{
    const int slot = (First + Count - 1 - Age) % Capacity;
    return {Pixels.data() + std::size_t(slot) * std::size_t(Stride),
            std::size_t(Widths[std::size_t(slot)])};
}
