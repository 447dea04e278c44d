# The waterfall's per-frame cost: one AddLine of 4096 levels, with and without the repaint.
add_executable(waterfall_bench ${CMAKE_CURRENT_LIST_DIR}/waterfall_bench.cpp)
target_link_libraries(waterfall_bench PRIVATE qx_waterfall benchmark::benchmark)
quillex_warnings(waterfall_bench)
