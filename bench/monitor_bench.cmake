# The monitor's work per frame beyond the transform, with allocations counted, and the program
# itself on the simulated receiver (its share of a core and its memory).
quillex_benchmark(monitor_bench qx_monitor qx_bench_alloc)
target_compile_definitions(monitor_bench PRIVATE QX_MONITOR="$<TARGET_FILE:quillex-monitor>")
add_dependencies(monitor_bench quillex-monitor perseususb)
