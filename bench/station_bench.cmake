# The station view: the acquisition thread's cost of a frame (allocations counted), a viewer's
# row and a scrape; and the whole monitor's view under 16 viewers (station_load, a plain program
# that drives quillex-monitor on the simulator, viewers, scrapes and headless Chromium).
quillex_benchmark(station_bench qx_station qx_bench_alloc)
add_executable(station_load ${CMAKE_CURRENT_SOURCE_DIR}/station_load.cpp)
target_link_libraries(station_load PRIVATE qx_station_client)
target_compile_definitions(station_load PRIVATE QX_MONITOR="$<TARGET_FILE:quillex-monitor>")
add_dependencies(station_load quillex-monitor perseususb)
quillex_warnings(station_load)
