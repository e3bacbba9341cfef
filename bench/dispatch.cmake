hx_bench(dispatch SOURCES ${CMAKE_CURRENT_LIST_DIR}/dispatch_bench.cpp LIBS hx_dispatch)
