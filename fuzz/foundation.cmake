# Parsers of outside input in the foundation layer: JSON replies, property lists, keyed archives.
hx_fuzz(json ${CMAKE_CURRENT_LIST_DIR}/json_fuzz.cpp LIBS hx_foundation)
hx_fuzz(plist ${CMAKE_CURRENT_LIST_DIR}/plist_fuzz.cpp LIBS hx_foundation)
hx_fuzz(archive ${CMAKE_CURRENT_LIST_DIR}/archive_fuzz.cpp LIBS hx_foundation)
# Preferences files read through every typed accessor and written back.
hx_fuzz(user_defaults ${CMAKE_CURRENT_LIST_DIR}/foundation/user_defaults_fuzz.cpp LIBS hx_foundation)
