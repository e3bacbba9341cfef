# Stored telemetry archives (logs, device, session and user-id histories) decoded with the allow list.
hx_fuzz(telemetry_archive ${CMAKE_CURRENT_LIST_DIR}/telemetry_archive_fuzz.cpp LIBS hx_telemetry)
# Rows of the log store, with the target-token decryption, as a damaged file may hold them.
hx_fuzz(log_store_rows ${CMAKE_CURRENT_LIST_DIR}/telemetry/log_store_rows_fuzz.cpp LIBS hx_telemetry)
