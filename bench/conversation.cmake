# The conversation screen over a 1,000-message thread: opening it beside measuring its texts in a
# plain loop, scrolling it beside a plain text table, and typing into its reply bar beside a bare
# expanding text view.
hx_bench(conversation SOURCES ${CMAKE_CURRENT_LIST_DIR}/conversation_bench.cpp
  LIBS hx_ui_conversation hx_ui_shell hx_ui_widgets hx_app hx_service hx_toolkit_testing)
