hx_bench(compose SOURCES ${CMAKE_CURRENT_LIST_DIR}/compose_bench.cpp LIBS hx_ui_compose hx_toolkit_testing)
