# The object store against hand-written SQLite on the same schema: one big save, and the SMS
# list's fetch.
hx_bench(store SOURCES ${CMAKE_CURRENT_LIST_DIR}/store_bench.cpp LIBS hx_store SQLite::SQLite3)
