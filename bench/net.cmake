hx_bench(net SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/net_bench.cpp LIBS hx_app hx_service hx_net hx_dispatch hx_emulator CURL::libcurl)
