# The web client's readers of the service's replies: thread lists.
hx_fuzz(thread_list ${CMAKE_CURRENT_LIST_DIR}/thread_list_fuzz.cpp LIBS hx_service)
# The protobuf replies: access-number reservations and message sends.
hx_fuzz(protobuf_replies ${CMAKE_CURRENT_LIST_DIR}/protobuf_replies_fuzz.cpp LIBS hx_service)
