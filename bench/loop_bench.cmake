# The whole acquisition loop of the main window, offscreen, against the simulated receiver:
# read, FFT, levels, plot repaint, waterfall line and status text per frame.
add_executable(loop_bench ${CMAKE_CURRENT_LIST_DIR}/loop_bench.cpp)
target_link_libraries(loop_bench PRIVATE qx_app benchmark::benchmark)
if(TARGET perseususb)
  add_dependencies(loop_bench perseususb)
endif()
quillex_warnings(loop_bench)
