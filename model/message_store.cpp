#include "model/message_store.h"

#include <filesystem>
#include <string>

#include "model/account.h"
#include "model/conversation.h"
#include "model/phone_extensions.h"
#include "platform/foundation/file_writer.h"
#include "platform/foundation/files.h"
#include "platform/foundation/log.h"
#include "platform/store/store_error.h"

namespace HXMessageStore {

using store::AttributeType;

namespace {

store::ModelPtr buildModel() {
    auto model = std::make_shared<store::Model>();
    auto& c = model->entity(kConversationEntity);
    c.attribute("conversationID", AttributeType::String, {}, true)
        .attribute("isRead", AttributeType::Boolean, false)
        .attribute("isSpam", AttributeType::Boolean, false)
        .attribute("isStarred", AttributeType::Boolean, false)
        .attribute("isTrash", AttributeType::Boolean, false)
        .attribute("isArchived", AttributeType::Boolean, false)
        .attribute("lastdate", AttributeType::Date, {}, true)
        .attribute("lastMessageText", AttributeType::String)
        .attribute("lastMessageLength", AttributeType::String)
        .attribute("note", AttributeType::String)
        .attribute("phoneNumber", AttributeType::String, {}, true)
        .attribute("sender", AttributeType::String)
        .attribute("type", AttributeType::Integer32, 0, true)
        .attribute("cost", AttributeType::String)
        .attribute("numberOfMessages", AttributeType::Integer32, 0)
        .attribute("ABName", AttributeType::String)
        .attribute("formattedNumber", AttributeType::String)
        .attribute("paginationToken", AttributeType::String)
        .attribute("isSenderBlocked", AttributeType::Boolean, false)
        .toMany("Messages", kMessageEntity, "Conversation", store::DeleteRule::Cascade)
        // Lists filter on the type and sort on the date.
        .index({"type", "lastdate"});
    auto& m = model->entity(kMessageEntity);
    m.attribute("id", AttributeType::String)
        .attribute("message", AttributeType::String)
        .attribute("length", AttributeType::String)
        .attribute("number", AttributeType::Integer64, {}, true)
        .attribute("date", AttributeType::String)
        .attribute("from", AttributeType::Boolean, false)
        .attribute("senderNumber", AttributeType::String)
        .attribute("senderName", AttributeType::String)
        .attribute("isIndexedForSearch", AttributeType::Boolean, false, true)
        .attribute("attachments", AttributeType::Transformable)
        .toOne("Conversation", kConversationEntity, "Messages");

    const std::pair<const char*, const char*> conversationTemplates[] = {
        {"cv_unread", "isRead == NO AND type IN $TYPELIST"},
        {"cv_type", "type IN $TYPELIST"},
        {"cv_ID", "conversationID == $ID"},
        {"cv_phone", "phoneNumber == $NUMBER"},
        {"cv_phone_abname", "phoneNumber == $NUMBER AND ABName != $NAME"},
        {"cv_group_abname", "sender == $GROUP_MESSAGE_HEADER AND phoneNumber CONTAINS $NUMBER"},
        // Bounds inclusive: an item exactly at the page's edge belongs to the page.
        {"cv_stale",
         "type IN $TYPELIST AND lastdate BETWEEN {$FIRSTMESSAGE, $LASTMESSAGE} AND NOT (conversationID IN $IDLIST) "
         "AND isTrash == $ISTRASH AND isSpam == $ISSPAM"},
    };
    for (const auto& [name, format] : conversationTemplates) {
        auto added = model->addFetchRequestTemplate(name, kConversationEntity, format);
        if (!added.ok()) return nullptr;
    }
    if (!model->addFetchRequestTemplate("msg_unindexed", kMessageEntity, "isIndexedForSearch != YES").ok())
        return nullptr;
    if (!model->finish().ok()) return nullptr;
    return model;
}

thread_local store::ContextPtr tlsContext;

}  // namespace

store::ModelPtr managedObjectModel() {
    static const store::ModelPtr model = buildModel();
    return model;
}

std::string searchDomainOfUser(std::string_view username) {
    return PhoneExtensions::extractCharactersFromStringUsingCharset(username, foundation::CharacterSet::alphanumeric());
}

store::StoreOptions storeOptions(double busyTimeoutSeconds) {
    store::StoreOptions o;
    o.migratePersistentStoresAutomatically = true;
    o.inferMappingModelAutomatically = true;
    o.sqlitePragmas.set("journal_mode", "DELETE");
    o.busyTimeoutSeconds = busyTimeoutSeconds;
    return o;
}

std::string storeFileName(const std::optional<std::string>& username) {
    if (!username) return "MessageData.sqlite";
    static constexpr std::string_view prefix = "MessageData-", suffix = ".sqlite", journal = "-journal";
    return std::string(prefix) +
           HX_Account::pathComponentForUsername(*username, prefix.size() + suffix.size() + journal.size()) +
           std::string(suffix);
}

foundation::Result<store::PersistentStorePtr> openStore(const store::CoordinatorPtr& coordinator,
                                                        const std::string& path, const store::StoreOptions& options) {
    auto added = coordinator->addPersistentStore(path, options);
    if (added.ok()) return added;
    const int64_t code = added.error().code;
    if (code == store::kUnreadableStoreError || code == store::kDamagedStoreError) {
        // Not this store's to delete (damaged bytes the user may want back, another program's
        // file, a folder): set aside beside it, with its companions, and a fresh store made in
        // its place.
        auto aside = setAsideStore(path);
        if (!aside.ok()) return added;
        foundation::logFault("the message store " + path + " could not be read (" +
                             added.error().localizedDescription() + "); it was moved to " + aside.value());
        return coordinator->addPersistentStore(path, options);
    }
    if (code != store::kIncompatibleVersionHashError) return added;
    return resetStore(coordinator, path, options);
}

foundation::Result<std::string> setAsideStore(const std::string& path) {
    static constexpr std::string_view kCompanions[] = {"-journal", "-wal", "-shm"};
    auto aside = foundation::files::setAsideKeepingEarlier(path, kCompanions);
    if (!aside.ok()) return aside.error();
    return aside.value().string();
}

foundation::Result<store::PersistentStorePtr> resetStore(const store::CoordinatorPtr& coordinator,
                                                         const std::string& path, const store::StoreOptions& options) {
    if (auto existing = coordinator->persistentStoreForPath(path)) (void)coordinator->removePersistentStore(existing);
    // The companions go too: a stale journal would be replayed into the fresh file.
    if (auto destroyed = store::Coordinator::destroyPersistentStore(path); !destroyed.ok()) return destroyed.error();
    return coordinator->addPersistentStore(path, options);
}

store::ContextPtr currentThreadContext() { return tlsContext; }

void performWithThreadContext(const store::ContextPtr& context, std::function<void()> block) {
    context->perform([context, block = std::move(block)] {
        auto saved = tlsContext;
        tlsContext = context;
        block();
        tlsContext = saved;
    });
}

}  // namespace HXMessageStore

std::string HX_Conversation::formattedNumber() const {
    auto stored = object_->value("formattedNumber");
    if (stored.isString()) return stored.asString();
    std::string computed = formattedNumberFor(phoneNumber());
    if (object_->isFault() || object_->isTurningIntoFault()) return {};
    (void)object_->setValue("formattedNumber", computed);
    return computed;
}

std::optional<HX_Conversation> HX_Conversation::insertInto(const store::ContextPtr& context) {
    if (!context) return std::nullopt;
    auto object = context->insertNewObject(HXMessageStore::kConversationEntity);
    if (!object.ok()) return std::nullopt;
    return HX_Conversation(object.value());
}

size_t HX_Conversation::storedMessageCount() const { return object_->objects("Messages").size(); }

std::vector<HX_Message> HX_Conversation::messages() const {
    std::vector<HX_Message> out;
    for (auto& message : object_->objects("Messages")) out.emplace_back(std::move(message));
    return out;
}

std::optional<size_t> HX_Conversation::placeOfMessageNumbered(int64_t number) const {
    size_t before = 0;
    bool held = false;
    for (const auto& message : object_->objects("Messages")) {
        const int64_t n = message->value("number").int64Value();
        before += n < number;
        held = held || n == number;
    }
    return held ? std::optional<size_t>(before) : std::nullopt;
}

void HX_Conversation::setStarred(bool starred) const { (void)object_->setValue("isStarred", starred); }

void HX_Conversation::setNumberOfMessages(int64_t count) const { (void)object_->setValue("numberOfMessages", count); }

void HX_Conversation::setSender(const std::string& sender) const { (void)object_->setValue("sender", sender); }

void HX_Conversation::setLastMessageText(const std::string& text) const {
    (void)object_->setValue("lastMessageText", text);
}

std::string HX_Conversation::formattedNumberFor(const std::string& number) {
    if (number.empty() || number == "Unknown" || number == "Group Message") return {};
    return PhoneExtensions::formattedPhoneNumberFromString(number);
}
