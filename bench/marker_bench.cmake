# What the window's markers and hold traces add to a frame, offscreen, with allocations counted.
quillex_window_benchmark(marker_bench)
target_link_libraries(marker_bench PRIVATE qx_bench_alloc)
