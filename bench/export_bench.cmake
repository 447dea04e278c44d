# A recording of the simulated receiver for the export benchmark (bench/export_bench.py)
# and the README's example image.
add_executable(make_recording ${CMAKE_CURRENT_SOURCE_DIR}/make_recording.cpp)
target_link_libraries(make_recording PRIVATE qx_core)
quillex_warnings(make_recording)
if(TARGET perseususb)
  add_dependencies(make_recording perseususb)
endif()
