#include "AllocCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long long> Allocations{0};

} // namespace

long long quillex::bench::AllocationCount()
{
    return Allocations.load(std::memory_order_relaxed);
}

// The array and nothrow forms of the standard library call this one, so they count too.
void* operator new(std::size_t Size)
{
    Allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(Size ? Size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* P) noexcept
{
    std::free(P);
}

void operator delete(void* P, std::size_t) noexcept
{
    std::free(P);
}
