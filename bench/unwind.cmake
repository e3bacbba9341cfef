# Frames unwound per second by the DWARF reader against libunwind (its cache on and off) over the
# same 50-frame stack built without frame pointers.
pkg_check_modules(HX_UNWIND_BENCH_LIBUNWIND QUIET IMPORTED_TARGET libunwind)
if(HX_UNWIND_BENCH_LIBUNWIND_FOUND)
  hx_bench(unwind
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/unwind_bench.cpp
    LIBS hx_crashreporter hx_kernel hx_unwind_foreign_code PkgConfig::HX_UNWIND_BENCH_LIBUNWIND)
endif()
