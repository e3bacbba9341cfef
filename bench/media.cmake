# A voicemail reply of 40 and 200 MB into the caches folder beside plain libcurl to a file: peak memory.
hx_bench(media SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_heap.cpp
  LIBS hx_app hx_service hx_emulator CURL::libcurl)
