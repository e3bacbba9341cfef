hx_bench(settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_bench.cpp LIBS hx_ui_settings hx_toolkit_testing hx_model PkgConfig::CAIRO)
