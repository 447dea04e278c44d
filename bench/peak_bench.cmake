# Peak search, marker tracking and hold traces over 4096 bins, with allocations counted.
quillex_benchmark(peak_bench qx_core qx_bench_alloc)
