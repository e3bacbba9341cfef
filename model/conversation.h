// The store's two entities as the app reads them: thin views over a managed object of the entity
// HX_Conversation or HX_Message. The objects stay owned by their context.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/value.h"
#include "platform/store/managed_object.h"

class HX_Message;

class HX_Conversation {
public:
    explicit HX_Conversation(store::ManagedObjectPtr object) : object_(std::move(object)) {}
    const store::ManagedObjectPtr& object() const { return object_; }

    std::string conversationID() const { return string("conversationID"); }
    std::string phoneNumber() const { return string("phoneNumber"); }
    std::string sender() const { return string("sender"); }
    std::string ABName() const { return string("ABName"); }
    int64_t type() const { return object_->value("type").int64Value(); }
    bool isRead() const { return object_->value("isRead").boolValue(); }

    // The stored formatted number; else the number formatted with the shared formatter ("" for
    // none, "Unknown" and "Group Message"), stored back unless the object is (becoming) a fault,
    // in which case "" is returned.
    std::string formattedNumber() const;
    // What formattedNumber() works out and stores for a conversation with phoneNumber and no
    // stored formatted number.
    static std::string formattedNumberFor(const std::string& phoneNumber);
    // Conversations carry no picture of their own.
    const void* contactImage() const { return nullptr; }

private:
    std::string string(const char* key) const {
        auto v = object_->value(key);
        return v.isString() ? v.asString() : std::string();
    }
    store::ManagedObjectPtr object_;
};

class HX_Message {
public:
    explicit HX_Message(store::ManagedObjectPtr object) : object_(std::move(object)) {}
    const store::ManagedObjectPtr& object() const { return object_; }
    store::ManagedObjectPtr conversation() const { return object_->object("Conversation"); }

private:
    store::ManagedObjectPtr object_;
};
