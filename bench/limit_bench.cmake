# The per-frame limit check, the episode tracking behind it and the ring of raw frames for
# recording on alarm, with their allocations counted.
quillex_benchmark(limit_bench qx_core qx_bench_alloc)
