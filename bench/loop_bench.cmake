# The whole acquisition loop of the main window, offscreen, against the simulated receiver:
# read, FFT, levels, plot repaint, waterfall line and status text per frame.
quillex_window_benchmark(loop_bench)
