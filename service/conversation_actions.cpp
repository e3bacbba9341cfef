// The conversation action codes a conversation offers, with their titles and symbol images.
#include "model/account.h"
#include "model/phone_extensions.h"
#include "platform/store/managed_object.h"
#include "service/application_web_client.h"
#include "service/conversation_store.h"
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

}  // namespace

std::optional<std::string> HXApplicationWebClient::titleForConversationAction(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(kActions))) return std::nullopt;
    return PhoneExtensions::localizedString(kActions[code].title);
}

std::optional<std::string> HXApplicationWebClient::imageForConversationAction(int code) {
    if (code < 0 || code >= static_cast<int>(std::size(kActions))) return std::nullopt;
    return std::string(kActions[code].image);
}

std::vector<int> HXApplicationWebClient::messageOptionsForConversation(const std::shared_ptr<store::ManagedObject>& c) {
    std::vector<int> codes;
    codes.reserve(7);
    if (!c) return codes;
    const int64_t type = c->value("type").int64Value();
    const bool text = HXConversationStore::isTextType(type);
    const bool history = HXConversationStore::isHistoryType(type);
    const bool party =
        c->value("phoneNumber").asString() != "Unknown" && c->value("sender").asString() != "Group Message";
    const bool isSignedIn = account() && account()->authV2().has_value();
    if (party) {
        codes.push_back(1);
        if (!text) codes.push_back(2);
    }
    if (!history) codes.push_back(c->value("isArchived").boolValue() ? 4 : 3);
    if (messageListIsShowing()) {
        if (!history) {
            codes.push_back(c->value("isRead").boolValue() ? 6 : 5);
            if (canSendMail()) codes.push_back(9);
        }
    } else {
        codes.push_back(c->value("note").asString().empty() ? 7 : 8);
        if (!history && canSendMail()) codes.push_back(9);
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

std::vector<int> HXApplicationWebClient::messageOptionsForConversationWithID(const std::string& conversationID) {
    auto c = getConversationWithID(conversationID);
    return c ? messageOptionsForConversation(c) : std::vector<int>();
}
