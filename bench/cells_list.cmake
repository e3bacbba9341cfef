# The SMS list screen of 1,000 conversations scrolled in 10-point steps beside a plain table from a
# vector, and the list's fetch beside one prepared SQLite SELECT.
hx_bench(cells_list SOURCES ${CMAKE_CURRENT_LIST_DIR}/cells_list_bench.cpp
  LIBS hx_ui_messages hx_app hx_service hx_toolkit_testing SQLite::SQLite3)
