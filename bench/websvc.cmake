# The message list's parse of a 1,000-thread reply into the store beside JSON plus raw SQLite.
hx_bench(websvc SOURCES ${CMAKE_CURRENT_LIST_DIR}/websvc_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_heap.cpp
  LIBS hx_app hx_service hx_emulator SQLite::SQLite3)
