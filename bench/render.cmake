hx_bench(render SOURCES ${CMAKE_CURRENT_LIST_DIR}/render_bench.cpp LIBS hx_ui_widgets hx_web)
