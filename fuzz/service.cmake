# Replies of the sign-in and settings hosts: account settings, token replies, unread counts.
hx_fuzz(account_replies ${CMAKE_CURRENT_LIST_DIR}/service/account_replies_fuzz.cpp LIBS hx_app)
# Service pages read during a sign-in: the form reader and the session-token scan.
hx_fuzz(sign_in_pages ${CMAKE_CURRENT_LIST_DIR}/service/sign_in_pages_fuzz.cpp LIBS hx_service)
