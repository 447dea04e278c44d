# RealFFT against FFTW (and ScaleSamples from the core for the frame as the program had it)'s single-precision real transform; FFTW is used nowhere else.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFTW3F REQUIRED IMPORTED_TARGET fftw3f)
quillex_benchmark(fft_bench qx_core PkgConfig::FFTW3F qx_bench_alloc)
# Same flag as qx_dsp, so both magnitude loops vectorise alike.
target_compile_options(fft_bench PRIVATE -fno-math-errno)
