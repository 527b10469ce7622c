# Kivra benchmark: one HD I picture decoded and converted to RGB by Kivra and
# by libmpeg2 (a benchmark-only dependency), and the TsRead-to-draw latency.
find_package(PkgConfig)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(LIBMPEG2 IMPORTED_TARGET libmpeg2 libmpeg2convert)
endif()
add_executable(bench_kivra bench_kivra.cpp)
target_link_libraries(bench_kivra PRIVATE kivra_internal benchmark::benchmark)
target_compile_definitions(bench_kivra PRIVATE
  KIVRA_BENCH_STREAM="${PROJECT_SOURCE_DIR}/tests/data/hd_1080i_aac.ts")
if(LIBMPEG2_FOUND)
  target_link_libraries(bench_kivra PRIVATE PkgConfig::LIBMPEG2)
  target_compile_definitions(bench_kivra PRIVATE KIVRA_BENCH_LIBMPEG2)
endif()
