# The waterfall's per-frame cost: one AddLine of 4096 levels, with and without the repaint;
# and one step of a resize drag.
quillex_benchmark(waterfall_bench qx_waterfall qx_bench_qt qx_bench_alloc)
