# Band statistics of frames (channel power, noise density, occupancy, occupied bandwidth, peak)
# over all 4096 bins in 10 bands, with allocations counted.
quillex_benchmark(band_bench qx_core qx_bench_alloc)
