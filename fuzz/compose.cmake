# The recipient field under edit sequences, and text pasted into the new message.
hx_fuzz(token_field_edits ${CMAKE_CURRENT_LIST_DIR}/compose/token_field_edits_fuzz.cpp LIBS hx_ui_widgets hx_toolkit_testing)
hx_fuzz(pasted_text ${CMAKE_CURRENT_LIST_DIR}/compose/pasted_text_fuzz.cpp LIBS hx_ui_compose hx_toolkit_testing)
