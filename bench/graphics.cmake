hx_bench(graphics SOURCES ${CMAKE_CURRENT_LIST_DIR}/graphics_bench.cpp LIBS hx_graphics PkgConfig::GIF)
