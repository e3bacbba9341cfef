# The web client's readers of the service's replies: thread lists.
hx_fuzz(thread_list ${CMAKE_CURRENT_LIST_DIR}/thread_list_fuzz.cpp LIBS hx_service)
