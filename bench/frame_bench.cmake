# Per-frame spectrum arithmetic: averaging plus the level conversion over 4096 bins,
# with std::log10 as the yardstick for the vectorised logarithm.
quillex_benchmark(frame_bench qx_core)
