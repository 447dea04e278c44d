#pragma once

// Linking AllocCounter.cpp replaces the program's global operator new and delete with
// counting ones, so a benchmark can show that its per-frame work allocates nothing.
namespace quillex::bench {

// Heap allocations made by the whole program (all threads) since it started.
long long AllocationCount();

} // namespace quillex::bench
