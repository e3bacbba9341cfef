hx_fuzz(foundation_text ${CMAKE_CURRENT_SOURCE_DIR}/foundation_text.cpp LIBS hx_foundation)
