# Per-frame cost of the spectrum plot: RefreshData on the main window's plot.
quillex_benchmark(plot_bench qx_bench_plot qx_bench_qt qx_bench_alloc)
