# One colour drag move over the main window's plot that stays on one element.
quillex_benchmark(drag_bench qx_bench_plot qx_bench_qt qx_bench_alloc)
