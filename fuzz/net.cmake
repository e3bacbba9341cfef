hx_fuzz(set_cookie ${CMAKE_CURRENT_SOURCE_DIR}/set_cookie_fuzz.cpp LIBS hx_service hx_net)
hx_fuzz(reply_scanners ${CMAKE_CURRENT_SOURCE_DIR}/reply_scanners_fuzz.cpp LIBS hx_service)
