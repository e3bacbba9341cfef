#include "service/conversation_requests.h"

#include "model/cache.h"
#include "model/message_store.h"
#include "platform/foundation/format.h"
#include "platform/foundation/json.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/image.h"
#include "platform/store/predicate.h"
#include "service/custom_cookie_jar.h"
#include "service/endpoints.h"
#include "service/request_machinery.h"

namespace {

std::string deletePath() { return std::string(kHXApiPath) + "threaditem/delete?alt=json"; }

}  // namespace

std::string HXMessageDeleteBody(const std::string& messageID) {
    // Ids come from the service's JSON, so they are valid UTF-8 and always serialise.
    auto text = foundation::toJSON(foundation::Value(foundation::Array{foundation::Value(messageID)}));
    return text.ok() ? text.value() : std::string("[\"\"]");
}

std::string HXMessageDeleteTag(const std::string& conversationID, const std::string& messageID) {
    return deletePath() + foundation::format("_%@_%@", conversationID, messageID);
}

bool HXDeleteMessage(HXApplicationWebClient& client, const std::string& conversationID, const std::string& messageID) {
    const foundation::Dictionary description{
        {"url", deletePath()}, {"contentType", "application/json+protobuf"}, {"body", HXMessageDeleteBody(messageID)}};
    auto request = client.apiRequestWithDict(description);
    if (!request) return false;
    client.startAsyncLoadWithRequest(std::move(*request), HXMessageDeleteTag(conversationID, messageID));
    return true;
}

std::string HXThumbnailTag(HXApplicationWebClient& client, const std::string& mediaID) {
    return foundation::format("%@_%@", client.endpoints().mediaBase() + "i/", mediaID);
}

net::URLSessionConfiguration HXMediaSessionConfiguration(HXApplicationWebClient& client) {
    return HXMediaSessionConfiguration(client.endpoints(), client.cookieJar());
}

net::URLSessionConfiguration HXMediaSessionConfiguration(const HXEndpoints& endpoints,
                                                         const std::shared_ptr<CustomCookieJar>& jar) {
    std::optional<std::string> cookie;
    if (jar) {
        std::lock_guard lock(jar->lock());
        if (auto cookies = jar->cookiesForURL(endpoints.servicePageBase() + "inbox/recent/unread/"))
            cookie = net::Cookie::requestHeaderValue(*cookies);
    }
    net::URLSessionConfiguration configuration = net::URLSessionConfiguration::defaultSessionConfiguration();
    configuration.httpAdditionalHeaders.set("Referer", endpoints.webClient);
    configuration.httpAdditionalHeaders.set("Accept-Encoding", "gzip, deflate");
    if (cookie) configuration.httpAdditionalHeaders.set("Cookie", *cookie);
    return configuration;
}

std::shared_ptr<HXStoreRows> HXConversationMessageRows(HXApplicationWebClient& client,
                                                       const std::string& conversationID,
                                                       std::weak_ptr<HXRowsObserver> observer) {
    auto context = client.managedObjectContext();
    if (!context) return nullptr;
    store::FetchRequest request(HXMessageStore::kMessageEntity);
    auto predicate = store::Predicate::parse("Conversation.conversationID==%@", {foundation::Value(conversationID)});
    if (!predicate.ok()) return nullptr;
    request.predicate = std::move(predicate).value();
    request.fetchBatchSize = 20;
    request.propertiesToFetch = {"number", "attachments", "date", "from", "message", "senderName", "senderNumber"};
    request.sortDescriptors = {store::SortDescriptor{"number", true}};
    auto rows = HXStoreRows::make(std::move(request), std::move(context), std::nullopt, std::move(observer));
    // A fetch that fails leaves no rows; the screen then shows none.
    (void)rows->controller()->performFetch();
    return rows;
}
