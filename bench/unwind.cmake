# Frames unwound per second by the DWARF reader against libunwind (its cache on and off) over the
# same 50-frame stack built without frame pointers.
pkg_check_modules(HX_UNWIND_BENCH_LIBUNWIND QUIET IMPORTED_TARGET libunwind)
if(HX_UNWIND_BENCH_LIBUNWIND_FOUND)
  hx_bench(unwind
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/unwind_bench.cpp ${CMAKE_SOURCE_DIR}/tests/unwind/fixtures/no_fp_chain.c
    LIBS hx_crashreporter hx_kernel PkgConfig::HX_UNWIND_BENCH_LIBUNWIND)
  if(TARGET bench_unwind)
    set_source_files_properties(${CMAKE_SOURCE_DIR}/tests/unwind/fixtures/no_fp_chain.c TARGET_DIRECTORY bench_unwind
      PROPERTIES COMPILE_OPTIONS "-O2;-fomit-frame-pointer;-fno-optimize-sibling-calls;-fasynchronous-unwind-tables")
  endif()
endif()
