hx_fuzz(vcard ${CMAKE_CURRENT_LIST_DIR}/services/vcard_fuzz.cpp LIBS hx_services)
hx_fuzz(media_tracks ${CMAKE_CURRENT_LIST_DIR}/services/media_tracks_fuzz.cpp LIBS hx_services)
hx_fuzz(mp3_probe ${CMAKE_CURRENT_LIST_DIR}/services/mp3_probe_fuzz.cpp LIBS hx_services)
