hx_bench(dialer SOURCES ${CMAKE_CURRENT_LIST_DIR}/dialer_bench.cpp LIBS hx_ui_dialer hx_model)
