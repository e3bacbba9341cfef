hx_fuzz(phone_format ${CMAKE_CURRENT_LIST_DIR}/model/phone_format_fuzz.cpp LIBS hx_model)
hx_fuzz(entities ${CMAKE_CURRENT_LIST_DIR}/model/entities_fuzz.cpp LIBS hx_model)
