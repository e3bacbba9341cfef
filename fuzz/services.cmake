hx_fuzz(vcard ${CMAKE_CURRENT_LIST_DIR}/services/vcard_fuzz.cpp LIBS hx_services)
