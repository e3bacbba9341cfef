// The conversation operations (service/conversation_operations.h): the action codes a
// conversation offers with their titles and symbol images, and the changes of read state, spam,
// block, archive and delete (the e-mail is in service/conversation_email.cpp).
#include <filesystem>

#include "model/account.h"
#include "model/phone_extensions.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/store/managed_object.h"
#include "service/application_web_client.h"
#include "service/conversation_operations.h"
#include "service/conversation_store.h"
#include "service/request_machinery.h"
#include "service/source_helpers.h"

using namespace hxservice;

namespace {

struct Action {
    const char* title;
    const char* image;
};

constexpr Action kActions[] = {
    {"Delete", "trash"},
    {"Call", "phone"},
    {"Send SMS", "message"},
    {"Archive", "archivebox"},
    {"Move to Inbox", "tray"},
    {"Mark as read", "eye"},
    {"Mark as unread", "eye.slash"},
    {"Add Note", "square.and.pencil"},
    {"Delete Note", "delete.left"},
    {"Forward as Email", "envelope"},
    {"Block Contact", "hand.raised"},
    {"Unblock Contact", "hand.raised.slash"},
    {"Remove from Spam", "hand.thumbsup"},
    {"Mark as Spam", "hand.thumbsdown"},
};

bool signedIn(const HXApplicationWebClient& app) { return app.account() && app.account()->authV2().has_value(); }

namespace CS = HXConversationStore;

}  // namespace

std::shared_ptr<HXConversationOperations>
HXConversationOperations::of(const std::shared_ptr<HXApplicationWebClient>& app) {
    return HXOperationsOf(app, &HXWebClient::conversationOperations);
}

std::optional<std::string> HXConversationOperationsRole::titleForConversationAction(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(kActions))) return std::nullopt;
    return PhoneExtensions::localizedString(kActions[code].title);
}

std::optional<std::string> HXConversationOperationsRole::imageForConversationAction(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(kActions))) return std::nullopt;
    return std::string(kActions[code].image);
}

std::vector<int>
HXConversationOperations::messageOptionsForConversation(const std::shared_ptr<store::ManagedObject>& c) {
    std::vector<int> codes;
    codes.reserve(7);
    auto app = this->app();
    if (!c || !app) return codes;
    const int64_t type = c->value("type").int64Value();
    const bool text = CS::isTextType(type);
    const bool history = CS::isHistoryType(type);
    const bool party =
        c->value("phoneNumber").asString() != "Unknown" && c->value("sender").asString() != "Group Message";
    const bool isSignedIn = signedIn(*app);
    if (party) {
        codes.push_back(1);
        if (!text) codes.push_back(2);
    }
    if (!history) codes.push_back(c->value("isArchived").boolValue() ? 4 : 3);
    if (app->messageListIsShowing()) {
        if (!history) {
            codes.push_back(c->value("isRead").boolValue() ? 6 : 5);
            if (app->canSendMail()) codes.push_back(9);
        }
    } else {
        codes.push_back(c->value("note").asString().empty() ? 7 : 8);
        if (!history && app->canSendMail()) codes.push_back(9);
    }
    if (party) {
        // Signed out, the spam flag stands in for the blocked one.
        const bool blocked = isSignedIn ? c->value("isSenderBlocked").boolValue() : c->value("isSpam").boolValue();
        codes.push_back(blocked ? 11 : 10);
    }
    if (isSignedIn) {
        codes.push_back(c->value("isSpam").boolValue() ? 12 : 13);
        codes.push_back(0);
    }
    return codes;
}

std::vector<int> HXConversationOperations::messageOptionsForConversationWithID(const std::string& conversationID) {
    auto app = this->app();
    auto c = app ? app->getConversationWithID(conversationID) : nullptr;
    return c ? messageOptionsForConversation(c) : std::vector<int>();
}

void HXConversationOperations::sendChange(HXApplicationWebClient& app, const std::string& endpoint,
                                          const std::string& body, const std::string& tag) {
    foundation::Dictionary description;
    description.set("url", api(endpoint));
    description.set("contentType", "application/json+protobuf");
    description.set("body", body);
    if (auto request = app.apiRequestWithDict(description)) app.startAsyncLoadWithRequest(std::move(*request), tag);
}

// ---- read, spam, block

std::optional<std::string> HXConversationOperations::markConversation(const std::string& conversationID, bool read) {
    auto app = this->app();
    if (!app || conversationID.empty() || !signedIn(*app)) return std::nullopt;
    auto conversation = app->getConversationWithID(conversationID);
    const bool text = conversation && CS::isTextType(conversation->value("type").int64Value());
    const std::string id = app->JSONStringFromString(conversationID);
    const std::string tag = HXWebClientOf(*app).endpoints.servicePageBase() + "inbox/mark/" +
                            foundation::format("_%@_%d_%@", text ? "SMS" : "VM", read ? 1 : 0, conversationID);
    sendChange(*app, "thread/updateattributes?alt=json",
               foundation::format("[[\"%@\",null,null,%@,[]],[null,null,null,true],1]", id, read ? "true" : "false"),
               tag);
    if (!app->requestInFlight(tag)) return std::nullopt;
    // The service's unread counts hold the conversation as it was: its reply moves them.
    const int64_t type = conversation ? conversation->value("type").int64Value() : -1;
    const int view = text ? 1 : type >= 0 && type < 63 && ((int64_t{1} << type) & CS::kVoicemailMask) ? 2 : 0;
    if (view && conversation->value("isRead").boolValue() != read) {
        auto& web = HXWebClientOf(*app);
        web.readChanges[tag] = {view, read ? -1 : 1, web.serviceUnreadReplies};
    }
    return tag;
}

void HXConversationOperations::changeReadStatusForConversationWithID(const std::string& conversationID) {
    auto app = this->app();
    if (auto c = app ? app->getConversationWithID(conversationID) : nullptr)
        (void)markConversation(c->value("conversationID").asString(), !c->value("isRead").boolValue());
}

void HXConversationOperations::markMessageAsSpam(const std::string& conversationID, bool spam) {
    auto app = this->app();
    if (!app || conversationID.empty() || !signedIn(*app)) return;
    auto conversation = app->getConversationWithID(conversationID);
    const bool text = conversation && CS::isTextType(conversation->value("type").int64Value());
    sendChange(*app, "thread/updateattributes?alt=json",
               foundation::format("[[\"%@\",null,%@,null,[]],[null,null,true],1]",
                                  app->JSONStringFromString(conversationID), spam ? "true" : "false"),
               foundation::format("%@_%@_%d_%@", "markSpamStatus", text ? "SMS" : "VM", spam ? 1 : 0, conversationID));
}

void HXConversationOperations::changeSpamStatusForConversationWithID(const std::string& conversationID) {
    auto app = this->app();
    if (auto c = app ? app->getConversationWithID(conversationID) : nullptr)
        markMessageAsSpam(c->value("conversationID").asString(), !c->value("isSpam").boolValue());
}

void HXConversationOperations::blockContact(bool block, const std::string& conversationID) {
    auto app = this->app();
    if (!app) return;
    sendChange(*app, "thread/updateattributes?alt=json",
               foundation::format("[[\"%@\",%@,null,null,[]],[null,true],1]", app->JSONStringFromString(conversationID),
                                  block ? "true" : "false"),
               HXWebClientOf(*app).endpoints.servicePageBase() + "inbox/block/_" + conversationID);
}

// ---- archive and delete: the store changes at once, the reply confirms or undoes it

void HXConversationOperations::changeArchiveStateForConversationWithID(const std::string& conversationID) {
    auto app = this->app();
    auto conversation = app ? app->getConversationWithID(conversationID) : nullptr;
    if (!conversation || !signedIn(*app)) return;
    const bool archived = conversation->value("isArchived").boolValue();
    const std::string id = conversation->value("conversationID").asString();
    foundation::Dictionary description;
    description.set("url", api("thread/updateattributes?alt=json"));
    description.set("contentType", "application/json+protobuf");
    description.set(
        "body", foundation::format(archived ? "[[\"%@\",null,null,null,[],false],[null,null,null,null,null,true],1]"
                                            : "[[\"%@\",null,false,null,[],true],[null,null,true,null,null,true],1]",
                                   app->JSONStringFromString(id)));
    auto request = app->apiRequestWithDict(description);
    // Only a change the service is asked for shows here: without a request nothing would ever
    // confirm or undo it.
    if (!request) return;
    app->startAsyncLoadWithRequest(std::move(*request),
                                   HXWebClientOf(*app).endpoints.servicePageBase() + "inbox/archiveMessages/_" + id);
    (void)conversation->setValue("isArchived", !archived);
}

void HXConversationOperations::deleteConversationWithID(const std::string& conversationID) {
    auto app = this->app();
    if (!app || conversationID.empty() || !signedIn(*app)) return;
    auto conversation = app->getConversationWithID(conversationID);
    if (!conversation || conversation->objects("Messages").empty()) return;
    foundation::Dictionary description;
    description.set("url", api("thread/delete?alt=json"));
    description.set("contentType", "application/json+protobuf");
    description.set("body", foundation::format("[\"%@\"]", app->JSONStringFromString(conversationID)));
    auto request = app->apiRequestWithDict(description);
    // A conversation is put in the trash only while its deletion is asked for.
    if (!request) return;
    (void)conversation->setValue("isTrash", true);
    app->startAsyncLoadWithRequest(std::move(*request), HXWebClientOf(*app).endpoints.servicePageBase() +
                                                            "inbox/deleteForeverMessages/_" + conversationID);
    const int64_t type = conversation->value("type").int64Value();
    if (type == 2 || type == 4) {
        std::error_code ec;
        std::filesystem::remove(app->localURLForMedia(conversationID, "audio/"), ec);
    }
}
