# RealFFT against FFTW's single-precision real transform; FFTW is used nowhere else.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFTW3F REQUIRED IMPORTED_TARGET fftw3f)
add_executable(fft_bench ${CMAKE_CURRENT_LIST_DIR}/fft_bench.cpp)
target_link_libraries(fft_bench PRIVATE qx_dsp PkgConfig::FFTW3F benchmark::benchmark)
quillex_warnings(fft_bench)
# Same flag as qx_dsp, so both magnitude loops vectorise alike.
target_compile_options(fft_bench PRIVATE -fno-math-errno)
