#include "service/conversation_store.h"

#include <algorithm>
#include <unordered_map>

#include "model/message_store.h"
#include "model/phone_extensions.h"
#include "platform/foundation/format.h"
#include "service/source_helpers.h"

namespace HXConversationStore {

using namespace hxservice;

namespace {

std::string mimeTypeOf(const foundation::Value& attachment) {
    if (!attachment.isDictionary()) return {};
    const auto& d = attachment.asDictionary();
    for (const char* key : {"mimeType", "mime_type"})
        if (const auto* v = d.find(key); v && v->isString()) return v->asString();
    return {};
}

const char* kindOfOne(const std::string& type) {
    if (type.starts_with("image/")) return "image";
    if (type.starts_with("audio/")) return "audio file";
    if (type.starts_with("video/")) return "video";
    if (type == "text/x-vcard") return "contact card";
    return nullptr;
}

const char* kindOfMany(const std::string& type) {
    if (type.starts_with("image")) return "images";
    if (type.starts_with("audio")) return "audio files";
    if (type.starts_with("video")) return "videos";
    if (type == "text/x-vcard") return "contact cards";
    return nullptr;
}

}  // namespace

int64_t maskForItemType(std::string_view type) {
    static const std::unordered_map<std::string_view, int64_t> table = {
        {"missed", 1},
        {"inbound", 2},
        {"voicemail", 4},
        {"recording", 16},
        {"callReturn", 128},
        {"click2call", 256},
        {"smsIn", 1024},
        {"smsOut", 2048},
        {"chatCall", 4096},
        {"managedCall", 8192},
        {"mobileDialerCallThrough", 32768},
        {"shadowNumberCall", 32768},
        {"webCall", 32768},
        {"partnerOutboundCallCarrier", 65536},
        {"sip", 131072},
        {"settings", 0},
        {"unroutable", 0},
    };
    auto it = table.find(type);
    return it == table.end() ? 0 : it->second;
}

foundation::Array typesForMask(int64_t mask) {
    foundation::Array types;
    for (int bit = 0; bit < 63; ++bit)
        if (mask & (int64_t{1} << bit)) types.emplace_back(static_cast<int64_t>(bit));
    return types;
}

int64_t typeCodeForMask(int64_t mask) {
    for (int bit = 0; bit < 63; ++bit)
        if (mask & (int64_t{1} << bit)) return bit;
    return 0;
}

bool isTextType(int64_t type) { return type == 10 || type == 11; }

bool isHistoryType(int64_t type) { return type >= 0 && type < 63 && (kHistoryTypes & (int64_t{1} << type)); }

store::ManagedObjectPtr conversationWithID(const store::ContextPtr& context, const std::string& conversationID) {
    if (!context) return nullptr;
    auto coordinator = context->persistentStoreCoordinator();
    if (!coordinator) return nullptr;
    foundation::Dictionary vars;
    vars.set("ID", conversationID);
    auto request = HXMessageStore::managedObjectModel()->fetchRequestFromTemplate("cv_ID", vars);
    if (!request.ok()) return nullptr;
    auto found = request.value();
    found.fetchLimit = 1;
    found.relationshipKeyPathsForPrefetching = {"Messages"};
    auto rows = context->fetch(found);
    if (!rows.ok() || rows.value().empty()) return nullptr;
    return rows.value().front();
}

std::vector<store::ManagedObjectPtr> sortedMessages(const store::ManagedObjectPtr& conversation) {
    auto messages = conversation->objects("Messages");
    if (messages.size() < 2) return messages;
    // Each number is read once, by its attribute's number: every read takes the context's lock.
    const int number = messages.front()->entity().attributeIndex("number");
    std::vector<std::pair<int64_t, store::ManagedObjectPtr>> byNumber;
    byNumber.reserve(messages.size());
    for (auto& m : messages) {
        const int64_t n = m->valueAt(number).int64Value();
        byNumber.emplace_back(n, std::move(m));
    }
    std::stable_sort(byNumber.begin(), byNumber.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < messages.size(); ++i) messages[i] = std::move(byNumber[i].second);
    return messages;
}

std::string attachmentSummary(const foundation::Array& attachments) {
    if (attachments.empty()) return {};
    const std::string first = mimeTypeOf(attachments[0]);
    if (attachments.size() == 1) {
        const char* kind = kindOfOne(first);
        return foundation::format(localized("Attachment: 1 %@"), kind ? localized(kind) : first);
    }
    bool mixed = std::any_of(attachments.begin(), attachments.end(),
                             [&](const foundation::Value& a) { return mimeTypeOf(a) != first; });
    const char* kind = mixed ? "mixed attachments" : kindOfMany(first);
    return foundation::format(localized("Attachment: %lu %@"), static_cast<uint64_t>(attachments.size()),
                              kind ? localized(kind) : first);
}

void updateLastMessageProperties(const store::ManagedObjectPtr& conversation, bool signedIn) {
    if (!conversation) return;
    auto messages = sortedMessages(conversation);
    if (messages.empty()) return;
    const auto& m = messages.back();
    NewestMessage newest{m->value("from").boolValue(),
                         m->value("number").int64Value(),
                         m->value("message").asString(),
                         m->value("senderName").asString(),
                         m->value("senderNumber").asString(),
                         m->value("attachments"),
                         m->value("length")};
    setLastMessageProperties(conversation, newest, messages.size(), signedIn);
}

void setLastMessageProperties(const store::ManagedObjectPtr& conversation, const NewestMessage& newest, size_t count,
                              bool signedIn) {
    if (!conversation || count == 0) return;
    static const std::string nbsp = "\u00A0";
    std::string prefix;
    if (conversation->value("sender").asString() == "Group Message") {
        if (newest.from) {
            prefix = localized("Me:") + nbsp;
        } else {
            std::string name = newest.senderName;
            if (auto cut = name.rfind(nbsp + "("); cut != std::string::npos) name.erase(cut);
            if (name.empty()) name = newest.senderNumber;
            prefix = name + ":" + nbsp;
        }
    }
    if (signedIn) (void)conversation->setValue("lastdate", foundation::Date{static_cast<double>(newest.number / 1000)});
    const auto& attachments = newest.attachments;
    if (!newest.text.empty())
        (void)conversation->setValue("lastMessageText", prefix + newest.text);
    else if (attachments.isArray() && !attachments.asArray().empty())
        (void)conversation->setValue("lastMessageText", prefix + attachmentSummary(attachments.asArray()));
    const int64_t type = conversation->value("type").int64Value();
    if (isHistoryType(type))
        (void)conversation->setValue("lastMessageLength", newest.length);
    else if (type >= 0 && type < 63 && (kVoicemailOrTextTypes & (int64_t{1} << type)))
        (void)conversation->setValue("numberOfMessages", static_cast<int64_t>(count));
}

}  // namespace HXConversationStore
