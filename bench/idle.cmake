hx_bench(idle SOURCES ${CMAKE_CURRENT_LIST_DIR}/idle_bench.cpp LIBS hx_emulator PkgConfig::SDL2)
if(TARGET bench_idle)
  # The bench starts the app's program as `./hx run` does.
  add_dependencies(bench_idle hx_connect)
  target_compile_definitions(bench_idle PRIVATE HX_CONNECT_PROGRAM="$<TARGET_FILE:hx_connect>")
endif()
