# The station view: the acquisition thread's cost of a frame (allocations counted), a viewer's
# row and a scrape; and the whole server under 16 viewers (station_load, a plain program that
# drives the test host, viewers, scrapes and headless Chromium).
quillex_benchmark(station_bench qx_station qx_bench_alloc)
add_executable(station_load ${CMAKE_CURRENT_SOURCE_DIR}/station_load.cpp)
target_link_libraries(station_load PRIVATE qx_station_client)
target_compile_definitions(station_load PRIVATE QUILLEX_STATION_HOST="$<TARGET_FILE:station_host>")
add_dependencies(station_load station_host)
quillex_warnings(station_load)
