# Peak search, marker tracking and hold traces over 4096 bins, with allocations counted.
quillex_benchmark(peak_bench qx_core qx_bench_alloc)

# The accuracy table of the interpolated peaks: a plain program, run by hand.
add_executable(peak_accuracy ${CMAKE_CURRENT_SOURCE_DIR}/peak_accuracy.cpp)
target_link_libraries(peak_accuracy PRIVATE qx_core)
quillex_warnings(peak_accuracy)
