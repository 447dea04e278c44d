# The PNG writer's compression of a waterfall's filtered rows against zlib's deflate; only
# where the writer itself exists (with zlib's headers).
find_package(ZLIB QUIET)
if(ZLIB_FOUND)
  quillex_benchmark(deflate_bench qx_export_core qx_waterfall_mapping ZLIB::ZLIB)
endif()
