# The conversation screen's rules: an attachment of any dictionary turned into its kind, text and
# bubble size; a message text turned into its bubble's direction and the number its menu offers.
hx_fuzz(conversation_attachments ${CMAKE_CURRENT_LIST_DIR}/conversation/attachments_fuzz.cpp LIBS hx_ui_conversation)
hx_fuzz(conversation_texts ${CMAKE_CURRENT_LIST_DIR}/conversation/texts_fuzz.cpp LIBS hx_ui_conversation)
