hx_fuzz(web_scripts ${CMAKE_CURRENT_LIST_DIR}/web_scripts_fuzz.cpp LIBS hx_web)
