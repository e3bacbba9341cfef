hx_fuzz(web_scripts ${CMAKE_CURRENT_LIST_DIR}/web_scripts_fuzz.cpp LIBS hx_web)
hx_fuzz(page_layout ${CMAKE_CURRENT_LIST_DIR}/web/page_layout_fuzz.cpp LIBS hx_web)
