// The operations of the application object that change one conversation on the service (read,
// spam, archive, delete, block, a contact name) or only here (its note), and the replies that
// apply those changes to the store in private child contexts.
#include <filesystem>

#include "model/account.h"
#include "model/message_store.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/services/search_index.h"
#include "service/application_web_client.h"
#include "service/check_response.h"
#include "service/conversation_store.h"
#include "service/request_machinery.h"
#include "service/source_helpers.h"

using namespace hxservice;

namespace {

namespace CS = HXConversationStore;
using foundation::Value;

// The rest of a tag after a prefix and `skip` more characters ("" when the tag is shorter).
std::string tagRest(const std::string& tag, size_t prefixLength, size_t skip) {
    return tag.size() > prefixLength + skip ? tag.substr(prefixLength + skip) : std::string();
}

// A stored deletion changes the lists and their unread badges.
void deletionSaved(const std::weak_ptr<HXApplicationWebClient>& weak, bool signedIn) {
    if (!signedIn) return;
    post("kMessageReloadingCompleteNotification");
    if (auto self = weak.lock()) self->updateUnreadCounts();
}

}  // namespace

store::ManagedObjectPtr HXApplicationWebClient::getConversationWithID(const std::string& conversationID) {
    if (conversationID.empty()) return nullptr;
    // The main context on the main thread; elsewhere the child context whose work is running.
    store::ContextPtr context =
        dispatch::isMainThread() ? managedObjectContext() : HXMessageStore::currentThreadContext();
    return context ? CS::conversationWithID(context, conversationID) : nullptr;
}

std::vector<store::ManagedObjectPtr>
HXApplicationWebClient::sortedMessagesForConversation(const store::ManagedObjectPtr& conversation) {
    return conversation ? CS::sortedMessages(conversation) : std::vector<store::ManagedObjectPtr>();
}

void HXApplicationWebClient::updateLastMessagePropertiesForConversation(const store::ManagedObjectPtr& conversation) {
    CS::updateLastMessageProperties(conversation, account() && account()->authV2().has_value());
}

bool HXApplicationWebClient::checkResponse(std::string_view text) { return HXCheckResponse(*this, text); }

bool HXApplicationWebClient::isSignedIn() const { return account() && account()->authV2().has_value(); }

void HXApplicationWebClient::inChildContext(std::function<void(const store::ContextPtr&)> work,
                                            std::function<void()> completion) {
    auto child = newChildContext();
    if (!child) return;
    std::weak_ptr<HXApplicationWebClient> weak = weakWebClient();
    HXMessageStore::performWithThreadContext(child, [weak, child, work = std::move(work), completion]() mutable {
        work(child);
        if (auto self = weak.lock())
            self->saveMOC2Parent(child, std::move(completion));
        else
            child->rollback();
    });
}

void HXApplicationWebClient::removeMediaOfMessage(const store::ManagedObjectPtr& message) {
    auto attachments = message->value("attachments");
    if (!attachments.isArray()) return;
    for (const Value& a : attachments.asArray()) {
        std::string mime = a["mimeType"].asString();
        if (mime.empty()) mime = a["mime_type"].asString();
        removeMediaForAttachment(a["id"].asString(), mime);
    }
}

void HXApplicationWebClient::setNote(const std::optional<std::string>& note, const std::string& conversationID) {
    inChildContext(
        [note, conversationID](const store::ContextPtr& child) {
            if (auto c = CS::conversationWithID(child, conversationID)) (void)c->setValue("note", note.value_or(""));
        },
        {});
}

// ---- the new-message screen

void HXApplicationWebClient::newMessageToNumber(const std::string& numbers, const std::string& text,
                                                const std::string& conversationID) {
    std::vector<std::string> recipients;
    if (!numbers.empty()) {
        auto parts = foundation::split(numbers, ",");
        if (parts.size() < 2)
            recipients.push_back(numbers);
        else
            recipients = std::move(parts);
    }
    presentNewMessage(recipients, conversationID, text);
}

// ---- contacts

void HXApplicationWebClient::addContact(const std::string& name, const std::string& number, const std::string& type) {
    if (!isSignedIn()) return;
    auto authorization = retrieveOAuth();
    if (!authorization) return;
    auto& web = webClient();
    const std::string contacts = web.endpoints.contacts;
    std::string url = contacts + "/v2/people?get_people_request.extension_set.extension_names=chat_phone_data";
    for (const char* path : {"person.metadata", "person.name", "person.phone", "person.photo"})
        url += std::string("&get_people_request.request_mask.include_field.paths=") + path;
    for (const char* container : {"CONTACT", "PROFILE", "DOMAIN_CONTACT", "DOMAIN_PROFILE", "PLACE"})
        url += std::string("&get_people_request.request_mask.include_container=") + container;
    url += "&get_people_request.context.migration_options.use_new_request_mask_behavior=true&alt=json";
    web.addContactURL = url;
    std::string lowerType = type;
    for (auto& c : lowerType) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Typed by the user: escaped for the JSON string it goes into.
    std::string body =
        foundation::format(R"({"name":{"display_name":"%@"},"phone":{"value":"%@","type":"%@"}})",
                           JSONStringFromString(name), JSONStringFromString(number), JSONStringFromString(lowerType));
    net::URLRequest request(url);
    request.setHTTPMethod("POST");
    request.setValue(*authorization, "Authorization");
    request.setValue(web.endpoints.webClient, "X-Origin");
    request.setValue(web.endpoints.webClient, "X-Referer");
    request.setValue(contacts, "Origin");
    request.setValue(contacts + "/", "Referer");
    request.setValue("application/json", "Content-Type");
    request.setValue("XMLHttpRequest", "X-Requested-With");
    request.setValue("hx-api-javascript-client/1.1.0", "x-javascript-user-agent");
    request.setValue(kUserAgent, "User-Agent");
    std::string details = std::string("appVersion=5.0 ") + kUserAgent;
    for (size_t at = details.find(' '); at != std::string::npos; at = details.find(' ', at + 3))
        details.replace(at, 1, "%20");
    request.setValue(details, "x-clientdetails");
    request.setHTTPBody(std::string_view(body));
    request.setValue(std::to_string(body.size()), "Content-Length");
    startAsyncLoadWithRequest(std::move(request), url + "_" + number + "_" + name);
}

// ---- replies (the router's rows 16 to 22)

void HXApplicationWebClient::conversationReply(HXReplyRow row, const HXRoutedReply& reply) {
    auto& web = webClient();
    const std::string page = web.endpoints.servicePageBase();
    const auto parsed = parseObjectFromApiResponse(reply.text).value_or(Value());
    const std::string user = currentUsername();
    const bool signedInNow = isSignedIn();
    const std::string tag = reply.tag;
    const std::string text = reply.text;
    std::weak_ptr<HXApplicationWebClient> weak = weakWebClient();
    auto runCompletionHandler = [weak, tag] {
        dispatch::Queue::main()->async([weak, tag] {
            auto self = weak.lock();
            if (!self) return;
            if (auto handler = self->takeCompletionHandler(tag)) handler();
        });
    };
    auto removeConversation = [this, user](const store::ContextPtr& child, const store::ManagedObjectPtr& c) {
        for (const auto& m : c->objects("Messages")) removeMediaOfMessage(m);
        services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithDomainIdentifiers(
            {foundation::format("%@.%@", HXMessageStore::searchDomainOfUser(user),
                                c->value("conversationID").asString())});
        child->deleteObject(c);
    };
    const bool emptyDictionary = parsed.isDictionary() && parsed.asDictionary().empty();
    switch (row) {
        case HXReplyRow::Mark: {
            std::optional<HXWebClient::ReadChange> change;
            if (auto sent = web.readChanges.extract(tag)) change = sent.mapped();
            if (!signedInNow) {
                runCompletionHandler();
                return;
            }
            const Value& read = parsed["attributes"]["read"];
            if (!read.ifBool()) {
                checkResponse(text);
                runCompletionHandler();
                return;
            }
            const std::string prefix = page + "inbox/mark/";
            const bool sms = tag.find("_SMS_") != std::string::npos;
            const std::string id = tagRest(tag, prefix.size(), sms ? 7 : 6);
            const bool value = *read.ifBool();
            inChildContext(
                [id, value](const store::ContextPtr& child) {
                    if (auto c = CS::conversationWithID(child, id)) (void)c->setValue("isRead", value);
                },
                [sms, runCompletionHandler, weak, change, value] {
                    if (auto self = weak.lock(); self && change) HXCountConfirmedReadChange(*self, *change, value);
                    post(sms ? "kUnreadSMSCountChangedNotification" : "kUnreadVMCountChangedNotification");
                    runCompletionHandler();
                });
            return;
        }
        case HXReplyRow::MarkSpam: {
            const Value& spam = parsed["attributes"]["contactSpammer"];
            if (!spam.ifBool()) {
                checkResponse(text);
                return;
            }
            const bool sms = tag.find("_SMS_") != std::string::npos;
            const std::string id = tagRest(tag, std::string("markSpamStatus").size(), sms ? 7 : 6);
            const bool value = *spam.ifBool();
            inChildContext(
                [id, value](const store::ContextPtr& child) {
                    if (auto c = CS::conversationWithID(child, id)) (void)c->setValue("isSpam", value);
                },
                [] { post("kConversationPropertiesChangeNotification"); });
            return;
        }
        case HXReplyRow::Block: {
            if (!signedInNow) return;
            const Value& blocked = parsed["attributes"]["contactBlocked"];
            if (!blocked.ifBool()) {
                checkResponse(text);
                return;
            }
            const std::string id = tagRest(tag, (page + "inbox/block/").size(), 1);
            const bool value = *blocked.ifBool();
            inChildContext(
                [this, id, value](const store::ContextPtr& child) {
                    if (!isSignedIn()) return;
                    if (auto c = CS::conversationWithID(child, id)) (void)c->setValue("isSenderBlocked", value);
                },
                {});
            return;
        }
        case HXReplyRow::ArchiveMessages: {
            const std::string id = tagRest(tag, (page + "inbox/archiveMessages/").size(), 1);
            const Value archived = parsed["attributes"]["archived"];
            const bool refused = !archived.ifBool() && !checkResponse(text);
            inChildContext(
                [this, id, archived, refused](const store::ContextPtr& child) {
                    if (!isSignedIn()) return;
                    auto c = CS::conversationWithID(child, id);
                    if (!c) return;
                    if (archived.ifBool())
                        (void)c->setValue("isArchived", *archived.ifBool());
                    else if (refused)
                        (void)c->setValue("isArchived", !c->value("isArchived").boolValue());
                },
                {});
            return;
        }
        case HXReplyRow::DeleteForever: {
            const std::string id = tagRest(tag, (page + "inbox/deleteForeverMessages/").size(), 1);
            if (!emptyDictionary && signedInNow) checkResponse(text);
            inChildContext(
                [id, emptyDictionary, signedInNow, removeConversation](const store::ContextPtr& child) {
                    auto c = CS::conversationWithID(child, id);
                    if (!c || !signedInNow) return;
                    if (emptyDictionary)
                        removeConversation(child, c);
                    else
                        (void)c->setValue("isTrash", false);
                },
                [weak, signedInNow] { deletionSaved(weak, signedInNow); });
            return;
        }
        case HXReplyRow::ThreadItemDelete: {
            const std::string rest = tagRest(tag, api("threaditem/delete?alt=json").size(), 1);
            const size_t bar = rest.find('_');
            const std::string id = rest.substr(0, bar),
                              messageID = bar == std::string::npos ? "" : rest.substr(bar + 1);
            if (!emptyDictionary) checkResponse(text);
            const std::string encodedUser = foundation::percentEncode(user, foundation::CharacterSet::urlUserAllowed());
            inChildContext(
                [this, id, messageID, emptyDictionary, encodedUser,
                 removeConversation](const store::ContextPtr& child) {
                    auto c = CS::conversationWithID(child, id);
                    if (!c || !emptyDictionary) return;
                    auto messages = c->objects("Messages");
                    if (messages.size() == 1) {
                        removeConversation(child, c);
                        return;
                    }
                    for (const auto& m : messages) {
                        if (m->value("id").asString() != messageID) continue;
                        removeMediaOfMessage(m);
                        services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithIdentifiers(
                            {foundation::format("%@.%@.%@", id, m->value("number").int64Value(), encodedUser)});
                        (void)m->setObject("Conversation", nullptr);
                        (void)c->setValue("numberOfMessages",
                                          std::max<int64_t>(0, c->value("numberOfMessages").int64Value() - 1));
                        child->deleteObject(m);
                        CS::updateLastMessageProperties(c, isSignedIn());
                    }
                },
                [weak, signedInNow] { deletionSaved(weak, signedInNow); });
            return;
        }
        case HXReplyRow::AddContact: {
            if (!parsed["personResponse"]["responseStatus"].isString()) return;
            const std::string rest = tagRest(tag, web.addContactURL.size(), 1);
            // The number has no "_"; everything after it is the name, "_" and all.
            const size_t bar = rest.find('_');
            if (bar == std::string::npos) return;
            const std::string number = rest.substr(0, bar), name = rest.substr(bar + 1);
            inChildContext(
                [number, name](const store::ContextPtr& child) {
                    foundation::Dictionary vars;
                    vars.set("NUMBER", number);
                    auto request = HXMessageStore::managedObjectModel()->fetchRequestFromTemplate("cv_phone", vars);
                    if (!request.ok()) return;
                    auto rows = child->fetch(request.value());
                    if (!rows.ok()) return;
                    for (const auto& c : rows.value()) (void)c->setValue("sender", name);
                },
                {});
            return;
        }
        default:
            return;
    }
}
