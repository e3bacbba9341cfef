# The crash capture's live report (20 threads parked 50 frames deep) and its stack walk, beside
# libunwind's and the C library's walks of the same frames.
pkg_check_modules(HX_LIBUNWIND QUIET IMPORTED_TARGET libunwind)
if(HX_LIBUNWIND_FOUND)
  hx_bench(crashreporter
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/crashreporter_bench.cpp
    LIBS hx_crashreporter hx_kernel hx_crash_fixtures PkgConfig::HX_LIBUNWIND)
  if(TARGET bench_crashreporter)
    target_compile_options(bench_crashreporter PRIVATE -fno-omit-frame-pointer)
  endif()
endif()
