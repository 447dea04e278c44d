# "Harddisk sync" playback of a recorded file through the whole window (N = 4096,
# Hann window, offscreen), and the sequential record reading on its own.
if(TARGET qx_app)
  add_executable(playback_bench ${CMAKE_CURRENT_LIST_DIR}/playback_bench.cpp)
  target_link_libraries(playback_bench PRIVATE qx_app benchmark::benchmark)
  if(TARGET perseususb)
    add_dependencies(playback_bench perseususb)
  endif()
  quillex_warnings(playback_bench)
endif()
