# Per-frame spectrum arithmetic: averaging plus the level conversion over 4096 bins,
# with std::log10 as the yardstick for the vectorised logarithm.
add_executable(frame_bench ${CMAKE_CURRENT_LIST_DIR}/frame_bench.cpp)
target_link_libraries(frame_bench PRIVATE qx_appcore benchmark::benchmark)
quillex_warnings(frame_bench)
