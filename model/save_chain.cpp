// The one write path into an account's store, and what its main-context saves feed: local
// notifications of new incoming items (on a background fetch) and the search index.
#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "model/application_model.h"
#include "model/cache.h"
#include "model/conversation.h"
#include "model/message_store.h"
#include "model/phone_extensions.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/files.h"
#include "platform/foundation/flat_map.h"
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

// The attributes the search items read, by number (a lookup by name per message adds up).
struct MessageFields {
    const store::Entity& e = *HXMessageStore::managedObjectModel()->entityNamed(HXMessageStore::kMessageEntity);
    int indexed = e.attributeIndex("isIndexedForSearch"), from = e.attributeIndex("from"),
        message = e.attributeIndex("message"), number = e.attributeIndex("number"),
        conversation = e.relationship("Conversation")->index;
};
const MessageFields& messageFields() {
    static const MessageFields fields;
    return fields;
}
struct ConversationFields {
    const store::Entity& e = *HXMessageStore::managedObjectModel()->entityNamed(HXMessageStore::kConversationEntity);
    int type = e.attributeIndex("type"), conversationID = e.attributeIndex("conversationID"),
        ABName = e.attributeIndex("ABName"), formattedNumber = e.attributeIndex("formattedNumber");
};
const ConversationFields& conversationFields() {
    static const ConversationFields fields;
    return fields;
}

// What the search items of one conversation's messages need of it: read once, when its first
// message is met.
struct ConversationFacts {
    int64_t type = 0;
    std::string conversationID;
    std::string name;  // the contact name without its label, else the formatted number
};

ConversationFacts conversationFacts(const ManagedObjectPtr& conversation) {
    HX_Conversation v(conversation);
    ConversationFacts facts{v.type(), v.conversationID(), nameWithoutLabel(v.ABName())};
    if (facts.name.empty()) facts.name = v.formattedNumber();
    return facts;
}

// The same of a conversation the next save writes, read from its row; none when it has neither a
// contact name nor a stored formatted number. Formatting the number takes the app's lock, which
// must not be taken inside the context's: such a conversation is read as an object afterwards,
// which formats and stores the number as HX_Conversation::formattedNumber() does.
std::optional<ConversationFacts> conversationFacts(const store::Context::PendingRow& conversation) {
    const auto& cv = conversationFields();
    ConversationFacts facts{conversation.valueAt(cv.type).int64Value(),
                            stringValue(conversation.valueAt(cv.conversationID)),
                            nameWithoutLabel(stringValue(conversation.valueAt(cv.ABName)))};
    if (facts.name.empty()) {
        const auto* stored = conversation.valueAt(cv.formattedNumber).ifString();
        if (!stored) return std::nullopt;
        facts.name = *stored;
    }
    return facts;
}

// Makes the search items of text messages and voicemails. What the items of one conversation
// share is worked out once per conversation rather than per message: a list's save brings many
// messages of each. Until they are fed, a message's item is kept as the little that is its own;
// the items are made a batch at a time as they go into the index, so that a save of a hundred
// thousand messages never holds a hundred thousand items' strings at once.
class SearchItemMaker {
public:
    explicit SearchItemMaker(const std::string& username)
        : textSet_{services::kContentTypeMessage, username, "", "", false},
          voiceSet_{services::kContentTypeAudio, username, "", "", false},
          encodedUser_(foundation::percentEncode(username, foundation::CharacterSet::urlUserAllowed())),
          domainUser_(HXMessageStore::searchDomainOfUser(username)) {}

    // Whether the conversation known by key has been met.
    bool knows(const void* key) const { return shared_.contains(key); }
    // Meets the conversation known by key.
    void meet(const void* key, ConversationFacts facts) {
        auto [place, added] = shared_.emplace(key, static_cast<uint32_t>(conversations_.size()));
        if (added) conversations_.emplace_back();
        Shared& c = conversations_[*place];
        c.domain = domainUser_ + "." + facts.conversationID;
        c.facts = std::move(facts);
    }
    // The item of one message of a conversation met before. Messages of conversations of other
    // types make none.
    // fresh: the save marks the message indexed (it was not before).
    void add(const void* key, bool sent, const foundation::Value& message, int64_t number, bool fresh) {
        const uint32_t* place = shared_.find(key);
        if (!place) return;
        const uint32_t conversation = *place;
        const int64_t type = conversations_[conversation].facts.type;
        if (type != 10 && type != 11 && type != 2) return;
        pending_.push_back({conversation, sent, number, stringValue(message), fresh});
    }
    // Makes the items and feeds them to index, in batches (none when there are none); answers the
    // identifiers of the fresh messages' items.
    std::vector<std::string> feed(services::SearchableIndex& index) {
        // A batch's items are whole copies (ids, titles, texts) that the index interns: a small
        // batch keeps the save's peak near the rows it writes, and the index's cost per call is
        // small beside 256 items.
        constexpr size_t kBatch = 256;
        std::vector<std::string> fresh;
        std::vector<services::SearchableItem> batch;
        batch.reserve(std::min(kBatch, pending_.size()));
        for (Pending& p : pending_) {
            batch.push_back(item(p));
            if (p.fresh) fresh.push_back(batch.back().uniqueIdentifier);
            if (batch.size() == kBatch) index.indexSearchableItems(std::exchange(batch, {}));
        }
        if (!batch.empty()) index.indexSearchableItems(std::move(batch));
        // Its room too, not only its elements: the write that follows is the save's peak.
        std::vector<Pending>().swap(pending_);
        return fresh;
    }

private:
    struct Shared {
        ConversationFacts facts;
        std::string domain;
        std::string titles[2];  // text messages: received, sent (made when first needed)
    };
    // A message's own part of its item.
    struct Pending {
        uint32_t conversation;
        bool sent;
        int64_t number;
        std::string description;
        bool fresh;
    };

    services::SearchableItem item(Pending& p) {
        Shared& c = conversations_[p.conversation];
        services::SearchableItemAttributeSet set;
        if (c.facts.type == 2) {
            set = voiceSet_;
            set.title = foundation::format(localized("VM from %@"), c.facts.name);
        } else {
            std::string& title = c.titles[p.sent ? 1 : 0];
            if (title.empty())
                title = foundation::format(localized("SMS %1$@ %2$@"), localized(p.sent ? "to" : "from"), c.facts.name);
            set = textSet_;
            set.title = title;
        }
        set.contentDescription = std::move(p.description);
        set.supportsPhoneCall = false;
        std::string unique = c.facts.conversationID;
        unique.append(".").append(std::to_string(p.number)).append(".").append(encodedUser_);
        return {std::move(unique), c.domain, std::move(set)};
    }

    services::SearchableItemAttributeSet textSet_, voiceSet_;
    std::string encodedUser_, domainUser_;
    foundation::FlatMap<const void*, uint32_t> shared_;  // a conversation's place in conversations_
    std::vector<Shared> conversations_;
    std::vector<Pending> pending_;
};

// The search items of the messages a root context's next save writes, and the messages whose
// indexed mark was set for them.
struct PendingSearch {
    std::optional<SearchItemMaker> items;
    // Named weakly: a message held by name through the save stays an object of the context after
    // it (the store keeps what someone holds), so that a list's saves would keep one per message.
    std::vector<std::weak_ptr<store::ObjectIdentity>> marked;
};

// Marks every message the next save of context writes as indexed, as its row goes to the store,
// and makes the search items of the text messages and voicemails among them, which are fed just
// before the save.
// The messages stay rows where a child's save left rows; a message whose conversation the save
// does not write, or whose conversation's number must be formatted, reads the conversation as an
// object, after the rows.
PendingSearch pendingSearch(store::Context& context, const std::string& username) {
    const auto& ms = messageFields();
    PendingSearch out;
    SearchItemMaker& maker = out.items.emplace(username);
    struct Later {
        store::ObjectID conversation;
        bool sent;
        foundation::Value message;
        int64_t number;
        bool fresh;
    };
    std::vector<Later> later;
    context.visitPending(HXMessageStore::kMessageEntity,
                         [&](store::Context::PendingRow& m, const store::Context::PendingFinder& find) {
                             const bool fresh = !m.valueAt(ms.indexed).boolValue();
                             if (fresh) {
                                 m.setValueAt(ms.indexed, true);
                                 out.marked.push_back(m.objectID());
                             }
                             const store::ObjectID& id = m.toOneAt(ms.conversation);
                             if (!id) return;
                             const bool sent = m.valueAt(ms.from).boolValue();
                             const int64_t number = m.valueAt(ms.number).int64Value();
                             if (!maker.knows(id.get()))
                                 if (auto conversation = find(id))
                                     if (auto facts = conversationFacts(conversation))
                                         maker.meet(id.get(), std::move(*facts));
                             if (maker.knows(id.get()))
                                 maker.add(id.get(), sent, m.valueAt(ms.message), number, fresh);
                             else
                                 later.push_back({id, sent, m.valueAt(ms.message), number, fresh});
                         });
    for (const Later& l : later) {
        if (!maker.knows(l.conversation.get())) {
            auto conversation = context.objectWithID(l.conversation);
            if (!conversation) continue;
            maker.meet(l.conversation.get(), conversationFacts(conversation));
        }
        maker.add(l.conversation.get(), l.sent, l.message, l.number, l.fresh);
    }
    return out;
}

// Takes back the marks of a save that failed: its changes stay for a later save, which decides
// about the index again.
void unmark(store::Context& context, const std::vector<std::weak_ptr<store::ObjectIdentity>>& marked) {
    if (marked.empty()) return;
    // The changes of a failed save stay, and with them the messages' names.
    std::unordered_set<const store::ObjectIdentity*> ids;
    for (const auto& weak : marked)
        if (const auto id = weak.lock()) ids.insert(id.get());
    context.visitPending(HXMessageStore::kMessageEntity,
                         [&](store::Context::PendingRow& m, const store::Context::PendingFinder&) {
                             if (ids.count(m.objectID().get())) m.setValueAt(messageFields().indexed, false);
                         });
}

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

namespace {

// Fetch handlers are answered on the main queue, after the passcode lock has come up if it should.
void answerFetchHandlers(const HXModelReference& model,
                         std::vector<HXApplicationModel::BackgroundFetchCompletion> handlers, int result) {
    if (handlers.empty()) return;
    dispatch::Queue::main()->async([model, handlers = std::move(handlers), result] {
        if (auto self = model.lock()) self->showPasscodeLockIfNeeded();
        for (const auto& h : handlers) h(result);
    });
}

}  // namespace

void HXSaveChildContext(const HXModelReference& model, const std::shared_ptr<store::Context>& context,
                        std::function<void()> completion, HXApplicationModel::BackgroundFetchCompletion handler) {
    auto parent = context->parentContext();
    if (context->hasChanges()) {
        auto saved = context->save();
        // The changes stay for a later save; the handler is answered here, so not again above.
        if (!saved.ok() && handler)
            answerFetchHandlers(model, {std::exchange(handler, nullptr)}, HXApplicationModel::BackgroundFetchFailed);
    }
    parent->perform([model, parent, completion = std::move(completion), handler = std::move(handler)]() mutable {
        auto self = model.lock();
        if (!self) return;
        {
            std::lock_guard lock(self->monitor_);
            if (self->mocAccessCount_ > 0) --self->mocAccessCount_;
        }
        self->saveMOC2Parent(parent, std::move(completion), std::move(handler));
    });
}

void HXApplicationModel::saveMOC2Parent(const std::shared_ptr<store::Context>& context,
                                        std::function<void()> completion, BackgroundFetchCompletion handler) {
    if (!context) return;
    const HXModelReference self(*this);
    if (context->parentContext()) return HXSaveChildContext(self, context, std::move(completion), std::move(handler));
    // The main context.
    bool save = context->hasChanges();
    bool deferred = false;
    if (save && mocAccessCount() != 0) {
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
    if (!save) {
        std::vector<BackgroundFetchCompletion> handlers;
        if (handler) handlers.push_back(std::move(handler));
        if (!deferred && mocAccessCount() == 0) {
            // Handlers that waited for items someone else has written since.
            std::lock_guard lock(monitor_);
            for (auto& h : deferredFetchHandlers_) handlers.push_back(std::move(h));
            deferredFetchHandlers_.clear();
        }
        answerFetchHandlers(self, std::move(handlers), BackgroundFetchNoData);
    } else {
        std::vector<BackgroundFetchCompletion> handlers;
        {
            std::lock_guard lock(monitor_);
            handlers.swap(deferredFetchHandlers_);
        }
        if (handler) handlers.push_back(std::move(handler));
        std::vector<ManagedObjectPtr> newItems;
        if (!handlers.empty()) newItems = newUnreadItems(*context);
        // The messages the save writes are marked indexed on their way to the store, and their
        // search items are fed (and so written to the index's file) before it: a process killed
        // between the two leaves at worst an item whose message the store does not hold (a search
        // hit that finds no message withdraws it), never a message marked indexed that the index
        // lacks, which no later pass would hand over again. A save that fails takes the fresh
        // items back. The rows a child's save left here need not become objects for it, and the
        // marks need no second write.
        PendingSearch search;
        if (mocAccessCount() == 0 && services::SearchableIndex::isIndexingAvailable() && useSpotlight())
            search = pendingSearch(*context, currentUsername());
        std::vector<std::string> fed;
        if (search.items) fed = search.items->feed(*services::SearchableIndex::defaultSearchableIndex());
        // What the items shared (each conversation's facts and titles) is not needed for the write.
        search.items.reset();
        auto saved = context->save();
        // A full disk fails every save alike: logged once, until a save reaches the disk again.
        if (saved.ok()) {
            foundation::faultCleared("store-save");
            // Only items that reached the disk are announced.
            int64_t types = foundation::UserDefaults::standardUserDefaults()->integerForKey("notificationTypes");
            if (types >= 1)
                for (const auto& m : newItems)
                    if (!m->value("from").boolValue()) postNewMessageNotification(m, types);
            answerFetchHandlers(self, std::move(handlers),
                                newItems.empty() ? BackgroundFetchNoData : BackgroundFetchNewData);
        } else {
            foundation::logFaultOnce("store-save",
                                     "cannot save the message store: " + saved.error().localizedDescription());
            // The changes stay for a later save, which decides about the index again.
            unmark(*context, search.marked);
            if (!fed.empty())
                services::SearchableIndex::defaultSearchableIndex()->deleteSearchableItemsWithIdentifiers(fed);
            answerFetchHandlers(self, std::move(handlers), BackgroundFetchFailed);
        }
    }
    if (completion) completion();
}

namespace {

// text between U+2068 and U+2069, which keep its direction controls to it: a U+2069 without its
// opener inside text is dropped, and any isolate text leaves open is closed.
std::string isolatedText(const std::string& text) {
    std::string out = "\u2068";
    size_t open = 0;
    for (char32_t c : foundation::toCodePoints(text)) {
        if (c >= 0x2066 && c <= 0x2068) ++open;
        if (c == 0x2069) {
            if (open == 0) continue;
            --open;
        }
        foundation::appendUtf8(out, c);
    }
    for (; open > 0; --open) out += "\u2069";
    return out + "\u2069";
}

// What combines with the character before it: marks, joiners, variation selectors, skin tones,
// tags. A cut never separates them from it.
bool extendsCharacter(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF) ||
           (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE20 && c <= 0xFE2F) || (c >= 0xFE00 && c <= 0xFE0F) ||
           c == 0x200D || (c >= 0x1F3FB && c <= 0x1F3FF) || (c >= 0xE0020 && c <= 0xE007F) ||
           (c >= 0xE0100 && c <= 0xE01EF);
}

// A notification's body: at most 4,000 characters (UTF-16 units), a longer text cut at a
// character boundary and ended with "…".
std::string boundedBody(const std::string& text) {
    constexpr size_t kMaxUnits = 4000;
    if (foundation::utf16Length(text) <= kMaxUnits) return text;
    const std::u32string points = foundation::toCodePoints(text);
    size_t units = 0, cut = 0;
    while (cut < points.size() && units + (points[cut] > 0xFFFF ? 2 : 1) <= kMaxUnits - 1)
        units += points[cut++] > 0xFFFF ? 2 : 1;
    while (cut > 0 && (extendsCharacter(points[cut]) || points[cut - 1] == 0x200D)) --cut;
    std::string out;
    for (size_t i = 0; i < cut; ++i) foundation::appendUtf8(out, points[i]);
    return out + "\u2026";
}

}  // namespace

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
    // The name, given by the service or the contacts, is isolated: its direction controls (a
    // U+202E that would show the title reversed) stay inside it.
    name = isolatedText(name);
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
    content.body = (anyWithId && text == "[IMAGE]" && !content.attachments.empty()) ? std::string() : boundedBody(text);
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
    const auto& ms = messageFields();
    SearchItemMaker maker(currentUsername());
    // Every message's conversation in one read rather than one each (held while the items are made).
    std::vector<ManagedObjectPtr> conversations;
    if (!messages.empty())
        if (auto context = messages.front()->managedObjectContext())
            conversations = context->prefetchToOne(messages, "Conversation");
    for (size_t i = 0; i < messages.size(); ++i) {
        const ManagedObjectPtr& m = messages[i];
        m->setValueAt(ms.indexed, true);
        // A message of another context (none are) would read its own.
        auto conversation = i < conversations.size() && conversations[i] ? conversations[i] : m->object("Conversation");
        if (!conversation) continue;
        if (!maker.knows(conversation.get())) maker.meet(conversation.get(), conversationFacts(conversation));
        maker.add(conversation.get(), m->valueAt(ms.from).boolValue(), m->valueAt(ms.message),
                  m->valueAt(ms.number).int64Value(), true);
    }
    (void)maker.feed(*services::SearchableIndex::defaultSearchableIndex());
}

namespace {
// User name -> the generation of the system's index (services::SearchableIndex::generation) to
// which the account's messages marked indexed were handed.
constexpr const char* kSearchIndexGenerationKey = "searchIndexGeneration";
}  // namespace

void HXApplicationModel::indexMessages() {
    if (!services::SearchableIndex::isIndexingAvailable()) return;
    // What the pass needs of this object is taken here; on its worker it names the object weakly
    // and goes back to it only on the main context's queue, locked there, so that the pass never
    // keeps it alive and it never ends on the worker.
    auto child = newChildContext();
    if (!child) return;
    const bool on = useSpotlight();
    const HXModelReference model(*this);
    // The index the store's marks were handed to: when the system's index started afresh since
    // (lost, unreadable, set aside), every message is handed to it again.
    const std::string username = currentUsername();
    const std::string generation = services::SearchableIndex::defaultSearchableIndex()->generation();
    const auto recorded = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey(kSearchIndexGenerationKey);
    const bool handOverAgain = on && (recorded ? recorded->get(username).stringValue() : std::string()) != generation;
    // Recorded once the pass has reached the main context's save.
    auto record = [username, generation] {
        auto defaults = foundation::UserDefaults::standardUserDefaults();
        auto generations = defaults->dictionaryForKey(kSearchIndexGenerationKey).value_or(foundation::Dictionary{});
        if (generations.get(username).stringValue() == generation && generations.contains(username)) return;
        generations.set(username, foundation::Value(generation));
        (void)defaults->setObject(foundation::Value(std::move(generations)), kSearchIndexGenerationKey);
    };
    dispatch::Queue::global(dispatch::Priority::Background)->async([model, child, on, handOverAgain, record] {
        if (!on) services::SearchableIndex::defaultSearchableIndex()->deleteAllSearchableItems();
        HXMessageStore::performWithThreadContext(child, [model, child, on, handOverAgain, record] {
            auto giveBack = [&model, &record] {
                dispatch::Queue::main()->async([model, record] {
                    if (auto self = model.lock()) {
                        self->decreaseMocAccessCount();
                        record();
                    }
                });
            };
            store::FetchRequest request(HXMessageStore::kMessageEntity);
            if (on && !handOverAgain) {
                auto unindexed = HXMessageStore::managedObjectModel()->fetchRequestFromTemplate("msg_unindexed", {});
                if (!unindexed.ok()) return giveBack();
                request = unindexed.value();
            }
            auto count = child->count(request);
            if (!count.ok() || count.value() == 0) return giveBack();
            auto items = child->fetch(request);
            if (!items.ok()) return giveBack();
            // Every message changed reaches the main context's save, which hands it to the index;
            // a message marked handed over loses its mark on the way, so that it keeps none
            // should that save not hand it over.
            for (const auto& m : items.value()) {
                const bool marked = m->value("isIndexedForSearch").boolValue();
                (void)m->setValue("isIndexedForSearch", handOverAgain ? !marked : on);
            }
            HXSaveChildContext(
                model, child, [record] { dispatch::Queue::main()->async(record); }, nullptr);
        });
    });
}
