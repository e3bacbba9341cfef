hx_bench(widgets SOURCES ${CMAKE_CURRENT_LIST_DIR}/widgets_bench.cpp LIBS hx_ui_widgets hx_toolkit_testing)
