hx_fuzz(phone_format ${CMAKE_CURRENT_LIST_DIR}/model/phone_format_fuzz.cpp LIBS hx_model)
hx_fuzz(entities ${CMAKE_CURRENT_LIST_DIR}/model/entities_fuzz.cpp LIBS hx_model)
# The contacts cache file read into the contact list, and the lookups over it.
hx_fuzz(contacts_cache ${CMAKE_CURRENT_LIST_DIR}/model/contacts_cache_fuzz.cpp LIBS hx_model)
# Archives read back from preferences and caches: account, quick settings, cached objects, cookies.
hx_fuzz(model_archives ${CMAKE_CURRENT_LIST_DIR}/model/model_archives_fuzz.cpp LIBS hx_model hx_service)
