# Replies of the sign-in and settings hosts: account settings, token replies, unread counts.
hx_fuzz(account_replies ${CMAKE_CURRENT_LIST_DIR}/service/account_replies_fuzz.cpp LIBS hx_app)
# Service pages read during a sign-in: the form reader and the session-token scan.
hx_fuzz(sign_in_pages ${CMAKE_CURRENT_LIST_DIR}/service/sign_in_pages_fuzz.cpp LIBS hx_service)
# The application's handling of what the service stores and answers: the queue of unsent
# messages in the preferences, the conversation operations' replies, the background fetch's
# unread replies.
hx_fuzz(sms_queue ${CMAKE_CURRENT_LIST_DIR}/service/sms_queue_fuzz.cpp LIBS hx_app)
hx_fuzz(conversation_replies ${CMAKE_CURRENT_LIST_DIR}/service/conversation_replies_fuzz.cpp LIBS hx_app)
hx_fuzz(background_fetch ${CMAKE_CURRENT_LIST_DIR}/service/background_fetch_fuzz.cpp LIBS hx_app)
# The bodies of the service-setting changes, from a greeting id and a phone's name and number.
hx_fuzz(settings_bodies ${CMAKE_CURRENT_LIST_DIR}/service/settings_bodies_fuzz.cpp LIBS hx_service)
