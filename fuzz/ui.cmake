# The message lists' row: any conversation fields through both layouts.
hx_fuzz(list_rows ${CMAKE_CURRENT_LIST_DIR}/ui/list_rows_fuzz.cpp LIBS hx_ui_messages)
