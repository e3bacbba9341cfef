# Stored crash reports turned into crash logs and summaries (the next launch's formatter).
hx_fuzz(crash_report_formatter ${CMAKE_CURRENT_LIST_DIR}/crashes/crash_report_formatter_fuzz.cpp LIBS hx_crashes)
