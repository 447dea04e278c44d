# Plot interaction: one measure-mode mouse move, one move of a reference bend, and the per-frame
# refresh with a resting cross.
quillex_benchmark(interaction_bench qx_bench_plot qx_bench_qt qx_bench_alloc)
