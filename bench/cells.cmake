hx_bench(cells SOURCES ${CMAKE_CURRENT_LIST_DIR}/cells_bench.cpp LIBS hx_ui_messages)
