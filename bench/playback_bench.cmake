# "Harddisk sync" playback of a recorded file through the whole window (N = 4096,
# Hann window, offscreen), and the sequential record reading on its own.
quillex_window_benchmark(playback_bench)
