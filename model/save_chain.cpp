// The one write path into an account's store, and what its main-context saves feed: local
// notifications of new incoming items (on a background fetch) and the search index.
#include <algorithm>
#include <unordered_map>

#include "model/application_model.h"
#include "model/cache.h"
#include "model/conversation.h"
#include "model/message_store.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/format.h"
#include "platform/foundation/log.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"
#include "platform/foundation/user_defaults.h"
#include "platform/foundation/uti.h"
#include "platform/services/search_index.h"
#include "platform/services/user_notifications.h"
#include "platform/store/context.h"

namespace {

using store::ManagedObjectPtr;

constexpr const char* kNoBreakSpaceParen = "\u00A0(";

bool isMessage(const ManagedObjectPtr& o) { return o->entity().name() == HXMessageStore::kMessageEntity; }

std::string stringValue(const foundation::Value& v) { return v.isString() ? v.asString() : std::string(); }

// The contact name without the label suffix that the contacts cache appends.
std::string nameWithoutLabel(const std::string& abName) {
    auto cut = abName.rfind(kNoBreakSpaceParen);
    return cut == std::string::npos ? abName : abName.substr(0, cut);
}

std::string localized(const char* key) { return PhoneExtensions::localizedString(key); }

// The new unread items of a background fetch, without those the user already answered.
std::vector<ManagedObjectPtr> newUnreadItems(const store::Context& context) {
    std::vector<ManagedObjectPtr> items;
    for (const auto& o : context.insertedObjects()) {
        if (!isMessage(o)) continue;
        auto read = o->valueForKeyPath("Conversation.isRead");
        if (!read.isNull() && !read.boolValue()) items.push_back(o);
    }
    auto lastdate = [](const ManagedObjectPtr& o) {
        auto d = o->valueForKeyPath("Conversation.lastdate");
        return d.ifDate() ? d.ifDate()->secondsSince1970 : 0.0;
    };
    std::stable_sort(items.begin(), items.end(), [&](const ManagedObjectPtr& a, const ManagedObjectPtr& b) {
        double da = lastdate(a), db = lastdate(b);
        if (da != db) return da < db;
        return a->value("number").int64Value() < b->value("number").int64Value();
    });
    // Per conversation, the number of the user's last reply among the new items.
    std::vector<std::pair<std::string, int64_t>> replied;
    for (const auto& o : items) {
        if (!o->value("from").boolValue()) continue;
        auto id = stringValue(o->valueForKeyPath("Conversation.conversationID"));
        int64_t n = o->value("number").int64Value();
        auto it = std::find_if(replied.begin(), replied.end(), [&](const auto& r) { return r.first == id; });
        if (it == replied.end())
            replied.emplace_back(id, n);
        else
            it->second = n;
    }
    std::erase_if(items, [&](const ManagedObjectPtr& o) {
        auto id = stringValue(o->valueForKeyPath("Conversation.conversationID"));
        auto it = std::find_if(replied.begin(), replied.end(), [&](const auto& r) { return r.first == id; });
        return it != replied.end() && o->value("number").int64Value() <= it->second;
    });
    return items;
}

}  // namespace

void HXApplicationModel::answerFetchHandlers(std::vector<BackgroundFetchCompletion> handlers, int result) {
    if (handlers.empty()) return;
    dispatch::Queue::main()->async([this, handlers = std::move(handlers), result] {
        showPasscodeLockIfNeeded();
        for (const auto& h : handlers) h(result);
    });
}

void HXApplicationModel::saveMOC2Parent(const std::shared_ptr<store::Context>& context,
                                        std::function<void()> completion, BackgroundFetchCompletion handler) {
    if (!context) return;
    auto parent = context->parentContext();
    const bool isRoot = !parent;
    bool save = context->hasChanges();
    bool deferred = false;
    if (isRoot && save && mocAccessCount() != 0) {
        deferred = true;
        // A child is still at work: the main context is written once the last one is done, and
        // the handler waits for that save, which writes (and announces) the items.
        if (handler) {
            std::lock_guard lock(monitor_);
            deferredFetchHandlers_.push_back(std::move(handler));
        }
        handler = nullptr;
        save = false;
    }
    if (isRoot && !save) {
        std::vector<BackgroundFetchCompletion> handlers;
        if (handler) handlers.push_back(std::move(handler));
        handler = nullptr;
        if (!deferred && mocAccessCount() == 0) {
            // Handlers that waited for items someone else has written since.
            std::lock_guard lock(monitor_);
            for (auto& h : deferredFetchHandlers_) handlers.push_back(std::move(h));
            deferredFetchHandlers_.clear();
        }
        answerFetchHandlers(std::move(handlers), BackgroundFetchNoData);
    }
    if (save) {
        std::vector<BackgroundFetchCompletion> handlers;
        if (isRoot) {
            std::lock_guard lock(monitor_);
            handlers.swap(deferredFetchHandlers_);
            if (handler) handlers.push_back(std::move(handler));
            handler = nullptr;
        }
        std::vector<ManagedObjectPtr> newItems;
        if (isRoot && !handlers.empty()) newItems = newUnreadItems(*context);
        std::vector<ManagedObjectPtr> spotlight;
        // The save's new objects stay alive until the index is fed: the items name their
        // conversations, which then need not be read back from what was just written.
        std::vector<ManagedObjectPtr> inserted;
        if (isRoot && services::SearchableIndex::isIndexingAvailable() && useSpotlight()) {
            inserted = context->insertedObjects();
            for (const auto& o : inserted)
                if (isMessage(o)) spotlight.push_back(o);
            for (const auto& o : context->updatedObjects())
                if (isMessage(o)) spotlight.push_back(o);
        }
        auto saved = context->save();
        if (isRoot && saved.ok()) foundation::faultCleared("store-save");
        // A full disk fails every save alike: logged once, until a save reaches the disk again.
        if (isRoot && !saved.ok())
            foundation::logFaultOnce("store-save",
                                     "cannot save the message store: " + saved.error().localizedDescription());
        if (saved.ok()) {
            if (isRoot) {
                if (mocAccessCount() == 0 && !spotlight.empty()) addMessagesToCSIndex(spotlight);
                // Only items that reached the disk are announced.
                int64_t types = foundation::UserDefaults::standardUserDefaults()->integerForKey("notificationTypes");
                if (types >= 1)
                    for (const auto& m : newItems)
                        if (!m->value("from").boolValue()) postNewMessageNotification(m, types);
                answerFetchHandlers(std::move(handlers),
                                    newItems.empty() ? BackgroundFetchNoData : BackgroundFetchNewData);
            }
        } else {
            if (handler) handlers.push_back(std::move(handler));
            handler = nullptr;  // answered here, so not again by the parent
            answerFetchHandlers(std::move(handlers), BackgroundFetchFailed);
        }
    }
    if (parent) {
        parent->perform([this, parent, completion = std::move(completion), handler = std::move(handler)]() mutable {
            {
                std::lock_guard lock(monitor_);
                if (mocAccessCount_ > 0) --mocAccessCount_;
            }
            saveMOC2Parent(parent, std::move(completion), std::move(handler));
        });
    } else if (completion) {
        completion();
    }
}

void HXApplicationModel::postNewMessageNotification(const ManagedObjectPtr& message, int64_t types) {
    auto conversation = message->object("Conversation");
    if (!conversation) return;
    HX_Conversation v(conversation);

    std::string name;
    auto senderName = message->value("senderName");
    if (senderName.isString()) {
        name = senderName.asString();
        auto senderNumber = message->value("senderNumber");
        if (name.empty() && senderNumber.isString()) name = senderNumber.asString();
        name = name.empty() ? std::string("Group Message") : name + " to Group";
    } else if (!v.ABName().empty()) {
        name = nameWithoutLabel(v.ABName());
    } else {
        name = v.sender();
    }
    if (v.phoneNumber() == name && name != "Unknown") name = PhoneExtensions::formattedPhoneNumberFromString(name);

    const int64_t t = v.type();
    std::string icon;
    int64_t needed = 0;
    if (t == 10 || t == 11) {
        icon = "\u2709\uFE0F";
        needed = 1;
    } else if (t == 2) {
        icon = "\U0001F4DE";
        needed = 2;
    } else if (t == 0) {
        icon = "\U0001F6AB";
        needed = 4;
    }
    if (needed && !(types & needed)) return;

    services::NotificationContent content;
    content.title = foundation::format(localized("%1$@ %2$@"), icon, name);

    std::string text = stringValue(message->value("message"));
    auto attachments = message->value("attachments");
    bool anyWithId = false;
    if (const auto* list = attachments.ifArray()) {
        for (const auto& a : *list) {
            if (!a.isDictionary() || !a.asDictionary().find("id") || !a.asDictionary().find("id")->isString()) continue;
            anyWithId = true;
            const std::string id = a.asDictionary().find("id")->asString();
            auto cached = HXCCache::sharedCache()->objectForKey(id);
            if (!cached || !cached->value.isData()) continue;
            const auto* mime = a.asDictionary().find("mimeType");
            auto types = mime && mime->isString() ? foundation::typeIdentifiersForMIMEType(mime->asString())
                                                  : std::vector<std::string>{};
            if (types.empty()) continue;
            // The id is the service's: it only names a file through the bounded-name helper,
            // which leaves room for the writer's temporary beside it however long the id is.
            auto name = foundation::boundedPathComponent(id, foundation::kAtomicWriteAffixBytes);
            if (!name.ok()) continue;
            auto file = foundation::temporaryDirectory() / name.value();
            if (!foundation::files::writeAtomically(file, cached->value.asData()).ok()) continue;
            auto made = services::NotificationAttachment::create(id, file, types.front());
            (void)foundation::files::remove(file);  // the attachment holds its own copy
            if (made.ok()) content.attachments.push_back(std::move(made.value()));
        }
    }
    content.body = (anyWithId && text == "[IMAGE]" && !content.attachments.empty()) ? std::string() : text;
    if (content.body.empty() && t == 0) content.body = localized("Missed call");

    content.userInfo.set("id", v.conversationID());
    content.userInfo.set("phoneNumber", v.phoneNumber());
    if (t == 10 || t == 11)
        content.categoryIdentifier =
            v.phoneNumber() == "Unknown" ? "com.hxconnect.markRead" : "com.hxconnect.composeReply";
    else if (t != 0)
        content.categoryIdentifier = "com.hxconnect.markRead";
    content.sound = "NewMessage.caf";
    content.threadIdentifier = v.conversationID();
    content.summaryArgument = name;

    services::NotificationRequest request;
    request.identifier = foundation::format("%@_%@", v.conversationID(), message->value("number").int64Value());
    request.content = std::move(content);
    request.trigger = {1.0, false};
    services::UserNotificationCenter::currentNotificationCenter()->addNotificationRequest(std::move(request));
}

void HXApplicationModel::addMessagesToCSIndex(const std::vector<ManagedObjectPtr>& messages) {
    if (!services::SearchableIndex::isIndexingAvailable()) return;
    const std::string username = currentUsername();
    services::SearchableItemAttributeSet textSet{services::kContentTypeMessage, username, "", "", false};
    services::SearchableItemAttributeSet voiceSet{services::kContentTypeAudio, username, "", "", false};
    const std::string encodedUser = foundation::percentEncode(username, foundation::CharacterSet::urlUserAllowed());
    const std::string domainUser =
        PhoneExtensions::extractCharactersFromStringUsingCharset(username, foundation::CharacterSet::alphanumeric());
    // The message attributes read here, by number (a lookup by name per message adds up).
    static const struct {
        const store::Entity& e = *HXMessageStore::managedObjectModel()->entityNamed(HXMessageStore::kMessageEntity);
        int indexed = e.attributeIndex("isIndexedForSearch"), from = e.attributeIndex("from"),
            message = e.attributeIndex("message"), number = e.attributeIndex("number");
    } ms;
    // What the items of one conversation share, worked out once per conversation rather than per
    // message: a list's save brings many messages of each.
    struct Shared {
        int64_t type = 0;
        std::string conversationID, domain, name;
        std::string titles[2];  // text messages: received, sent (made when first needed)
    };
    std::unordered_map<const store::ManagedObject*, Shared> shared;
    std::vector<services::SearchableItem> items;
    items.reserve(messages.size());
    // Every message's conversation in one read rather than one each (held while the items are made).
    std::vector<ManagedObjectPtr> conversations;
    if (!messages.empty())
        if (auto context = messages.front()->managedObjectContext())
            conversations = context->prefetchToOne(messages, "Conversation");
    shared.reserve(conversations.size());
    for (const auto& m : messages) {
        m->setValueAt(ms.indexed, true);
        auto conversation = m->object("Conversation");
        if (!conversation) continue;
        auto [at, added] = shared.try_emplace(conversation.get());
        Shared& c = at->second;
        if (added) {
            HX_Conversation v(conversation);
            c.type = v.type();
            c.conversationID = v.conversationID();
            c.domain = domainUser + "." + c.conversationID;
            c.name = nameWithoutLabel(v.ABName());
            if (c.name.empty()) c.name = v.formattedNumber();
        }
        services::SearchableItemAttributeSet set;
        if (c.type == 10 || c.type == 11) {
            const bool sent = m->valueAt(ms.from).boolValue();
            std::string& title = c.titles[sent ? 1 : 0];
            if (title.empty())
                title = foundation::format(localized("SMS %1$@ %2$@"), localized(sent ? "to" : "from"), c.name);
            set = textSet;
            set.title = title;
        } else if (c.type == 2) {
            set = voiceSet;
            set.title = foundation::format(localized("VM from %@"), c.name);
        } else {
            continue;
        }
        set.contentDescription = stringValue(m->valueAt(ms.message));
        set.supportsPhoneCall = false;
        std::string unique = c.conversationID;
        unique.append(".").append(std::to_string(m->valueAt(ms.number).int64Value())).append(".").append(encodedUser);
        items.push_back({std::move(unique), c.domain, std::move(set)});
    }
    services::SearchableIndex::defaultSearchableIndex()->indexSearchableItems(std::move(items));
}

void HXApplicationModel::indexMessages() {
    if (!services::SearchableIndex::isIndexingAvailable()) return;
    dispatch::Queue::global(dispatch::Priority::Background)->async([this] {
        auto child = newChildContext();
        if (!child) return;
        const bool on = useSpotlight();
        if (!on) services::SearchableIndex::defaultSearchableIndex()->deleteAllSearchableItems();
        HXMessageStore::performWithThreadContext(child, [this, child, on] {
            store::FetchRequest request(HXMessageStore::kMessageEntity);
            if (on) {
                auto unindexed = HXMessageStore::managedObjectModel()->fetchRequestFromTemplate("msg_unindexed", {});
                if (!unindexed.ok()) {
                    decreaseMocAccessCount();
                    return;
                }
                request = unindexed.value();
            }
            auto count = child->count(request);
            if (!count.ok() || count.value() == 0) {
                decreaseMocAccessCount();
                return;
            }
            auto items = child->fetch(request);
            if (!items.ok()) {
                decreaseMocAccessCount();
                return;
            }
            for (const auto& m : items.value()) (void)m->setValue("isIndexedForSearch", on);
            saveMOC2Parent(child);
        });
    });
}
