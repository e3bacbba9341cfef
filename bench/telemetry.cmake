# The telemetry SDK's log path: enqueue and persist through a paused channel unit, against raw
# SQLite on the same file (one autocommit insert per row, and open/insert/close per row), and
# the loading of one 50-log batch.
hx_bench(telemetry SOURCES ${CMAKE_CURRENT_LIST_DIR}/telemetry_bench.cpp LIBS hx_telemetry SQLite::SQLite3)
