# Stored telemetry archives (logs, device, session and user-id histories) decoded with the allow list.
hx_fuzz(telemetry_archive ${CMAKE_CURRENT_LIST_DIR}/telemetry_archive_fuzz.cpp LIBS hx_telemetry)
