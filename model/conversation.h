// The store's two entities as the app reads them: typed views over a managed object of the entity
// HX_Conversation or HX_Message, the one place that names their attributes for the screens. The
// objects stay owned by their context; a view is as cheap to copy as the pointer it holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/store/context.h"
#include "platform/store/managed_object.h"

class HX_Message;

// The fields of a conversation, read from an object the caller keeps alive.
class HX_ConversationFields {
public:
    explicit HX_ConversationFields(const store::ManagedObject& object) : fields_(&object) {}

    std::string conversationID() const { return string("conversationID"); }
    std::string phoneNumber() const { return string("phoneNumber"); }
    std::string sender() const { return string("sender"); }
    std::string ABName() const { return string("ABName"); }
    std::string note() const { return string("note"); }
    std::string lastMessageText() const { return string("lastMessageText"); }
    std::string lastMessageLength() const { return string("lastMessageLength"); }
    std::string cost() const { return string("cost"); }
    // The cost the service shows for the conversation's call, when it gave one.
    std::optional<std::string> displayedCost() const {
        const foundation::Value v = fields_->value("cost");
        return v.isNull() ? std::nullopt : std::optional<std::string>(v.stringValue());
    }
    // The service's token of the next older page ("" when every message is loaded).
    std::string paginationToken() const { return string("paginationToken"); }
    bool isTrash() const { return fields_->value("isTrash").boolValue(); }
    // The stored formatted number only ("" when none is stored yet).
    std::string storedFormattedNumber() const { return string("formattedNumber"); }
    int64_t type() const { return fields_->value("type").int64Value(); }
    int64_t numberOfMessages() const { return fields_->value("numberOfMessages").int64Value(); }
    bool isRead() const { return fields_->value("isRead").boolValue(); }
    bool isSpam() const { return fields_->value("isSpam").boolValue(); }
    bool isStarred() const { return fields_->value("isStarred").boolValue(); }
    bool isArchived() const { return fields_->value("isArchived").boolValue(); }
    bool isSenderBlocked() const { return fields_->value("isSenderBlocked").boolValue(); }
    // The date of the newest message, when one is stored.
    std::optional<foundation::Date> lastdate() const {
        const foundation::Value v = fields_->value("lastdate");
        if (const auto* d = v.ifDate()) return *d;
        return std::nullopt;
    }

private:
    std::string string(const char* key) const {
        auto v = fields_->value(key);
        return v.isString() ? v.asString() : std::string();
    }
    const store::ManagedObject* fields_;
};

class HX_Conversation : public HX_ConversationFields {
public:
    explicit HX_Conversation(store::ManagedObjectPtr object)
        : HX_ConversationFields(*object), object_(std::move(object)) {}
    const store::ManagedObjectPtr& object() const { return object_; }

    // A new conversation in context (on its queue); none when the store has no such entity.
    static std::optional<HX_Conversation> insertInto(const store::ContextPtr& context);

    // The stored formatted number; else the number formatted with the shared formatter ("" for
    // none, "Unknown" and "Group Message"), stored back unless the object is (becoming) a fault,
    // in which case "" is returned.
    std::string formattedNumber() const;
    // What formattedNumber() works out and stores for a conversation with phoneNumber and no
    // stored formatted number.
    static std::string formattedNumberFor(const std::string& phoneNumber);
    // Conversations carry no picture of their own.
    const void* contactImage() const { return nullptr; }
    // The messages stored for the conversation, counted.
    size_t storedMessageCount() const;
    // The messages stored for the conversation, in the store's order.
    std::vector<HX_Message> messages() const;
    // The place of the message numbered `number` among the conversation's messages in the order
    // of their numbers (the conversation screen's sections); none when it holds no such message.
    std::optional<size_t> placeOfMessageNumbered(int64_t number) const;

    void setStarred(bool starred) const;
    void setNumberOfMessages(int64_t count) const;
    void setSender(const std::string& sender) const;
    void setLastMessageText(const std::string& text) const;

private:
    store::ManagedObjectPtr object_;
};

class HX_Message {
public:
    explicit HX_Message(store::ManagedObjectPtr object) : object_(std::move(object)) {}
    const store::ManagedObjectPtr& object() const { return object_; }
    store::ManagedObjectPtr conversation() const { return object_->object("Conversation"); }

    std::string messageID() const { return string("id"); }
    std::string text() const { return string("message"); }
    // The message's number (its time in the service's milliseconds).
    int64_t number() const { return object_->value("number").int64Value(); }
    bool isOutgoing() const { return object_->value("from").boolValue(); }
    // The attachments as the service listed them (dictionaries); none without a list.
    std::optional<foundation::Array> attachments() const {
        const foundation::Value v = object_->value("attachments");
        return v.isArray() ? std::optional<foundation::Array>(v.asArray()) : std::nullopt;
    }
    // A group message's sender, as stored with it.
    std::string senderName() const { return string("senderName"); }
    std::string senderNumber() const { return string("senderNumber"); }
    // The length of a voicemail or a call ("1:05", "3 minutes").
    std::string length() const { return string("length"); }

private:
    std::string string(const char* key) const {
        auto v = object_->value(key);
        return v.isString() ? v.asString() : std::string();
    }
    store::ManagedObjectPtr object_;
};
