// What the conversation screen asks of the service beyond the list's requests: its messages as
// rows, an older page, one message's delete, and the tag and the session (with the account's
// cookies) of the media host's pictures. The bodies, tags and headers are built here; the replies
// go through the web client's router as the list's do.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/net/url_session.h"
#include "service/application_web_client.h"
#include "service/store_rows.h"

// The body of a message's delete: a JSON array holding its id as a JSON string.
std::string HXMessageDeleteBody(const std::string& messageID);
// The tag a message's delete goes under; the reply splits its rest at "_" into the two ids.
std::string HXMessageDeleteTag(const std::string& conversationID, const std::string& messageID);
// Sends the delete of one message; false when no request went out (no token yet).
bool HXDeleteMessage(HXApplicationWebClient& client, const std::string& conversationID, const std::string& messageID);

// The tag of a picture's thumbnail request (its request is the media operations',
// service/media_operations.h: one at a time under this tag).
std::string HXThumbnailTag(HXApplicationWebClient& client, const std::string& mediaID);

// A session configuration for the service's media host: "Referer", "Accept-Encoding" and the
// account's cookies of the service page as "Cookie", read under the jar's lock.
net::URLSessionConfiguration HXMediaSessionConfiguration(HXApplicationWebClient& client);
// The same from the endpoints and the cookie jar (work off the main queue takes them along).
net::URLSessionConfiguration HXMediaSessionConfiguration(const HXEndpoints& endpoints,
                                                         const std::shared_ptr<class CustomCookieJar>& jar);

// The messages of a conversation, oldest first, with their row-level changes told to observer;
// none without a store.
std::shared_ptr<HXStoreRows> HXConversationMessageRows(HXApplicationWebClient& client,
                                                       const std::string& conversationID,
                                                       std::weak_ptr<HXRowsObserver> observer);
