# The object store's parsers of outside input: predicate format strings (callers build them from
# search text and service data) and the stored bytes of transformable attributes.
hx_fuzz(store_predicate ${CMAKE_CURRENT_LIST_DIR}/store_predicate_fuzz.cpp LIBS hx_store)
hx_fuzz(store_value ${CMAKE_CURRENT_LIST_DIR}/store_value_fuzz.cpp LIBS hx_store)
