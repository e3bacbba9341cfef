hx_bench(toolkit SOURCES ${CMAKE_CURRENT_LIST_DIR}/toolkit_bench.cpp LIBS hx_toolkit)
