# The keychain's file as the disk holds it.
hx_fuzz(keychain_file ${CMAKE_CURRENT_LIST_DIR}/security/keychain_file_fuzz.cpp LIBS hx_security)
