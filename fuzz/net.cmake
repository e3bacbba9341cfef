hx_fuzz(set_cookie ${CMAKE_CURRENT_SOURCE_DIR}/set_cookie_fuzz.cpp LIBS hx_service hx_net)
hx_fuzz(reply_scanners ${CMAKE_CURRENT_SOURCE_DIR}/reply_scanners_fuzz.cpp LIBS hx_service)
# Response heads and encoded bodies as servers send them.
hx_fuzz(content_decoding ${CMAKE_CURRENT_LIST_DIR}/net/content_decoding_fuzz.cpp LIBS hx_net)
hx_fuzz(response_head ${CMAKE_CURRENT_LIST_DIR}/net/response_head_fuzz.cpp LIBS hx_net)
# Bodies as a session's data task collects them; routing-socket datagrams.
hx_fuzz(url_session_bodies ${CMAKE_CURRENT_LIST_DIR}/net/url_session_body_fuzz.cpp LIBS hx_net)
hx_fuzz(netlink ${CMAKE_CURRENT_LIST_DIR}/net/netlink_fuzz.cpp LIBS hx_net)
