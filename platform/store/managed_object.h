// Managed objects: one row of an entity as seen by one context, with its attributes in a compact
// vector indexed by attribute number, its to-one targets as object ids and its to-many sets
// loaded on first use. Access goes through the owning context's lock, since a child context
// reads its parent's objects from its own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/store/model.h"
#include "platform/store/predicate.h"
#include "platform/store/value_codec.h"

namespace store {

class Context;

// The identity of a row, shared by every context that holds the row. Temporary (primary key 0)
// until the root context's save gives it its row number; every holder sees that at once.
class ObjectIdentity {
public:
    ObjectIdentity(const Entity* entity, int64_t primaryKey, uint64_t temporaryNumber,
                   std::shared_ptr<const std::string> storeIdentifier)
        : entity_(entity),
          primaryKey_(primaryKey),
          temporaryNumber_(temporaryNumber),
          storeIdentifier_(std::move(storeIdentifier)) {}

    const Entity& entity() const { return *entity_; }
    int64_t primaryKey() const { return primaryKey_.load(std::memory_order_acquire); }
    bool isTemporary() const { return primaryKey() == 0; }
    uint64_t temporaryNumber() const { return temporaryNumber_; }
    const std::string& storeIdentifier() const { return *storeIdentifier_; }
    // "x-hxstore://<store>/<entity>/p<row>" (or "/t<n>" while temporary).
    std::string uriRepresentation() const;

    void setPrimaryKey(int64_t pk) { primaryKey_.store(pk, std::memory_order_release); }

private:
    const Entity* entity_;
    std::atomic<int64_t> primaryKey_;
    uint64_t temporaryNumber_;
    std::shared_ptr<const std::string> storeIdentifier_;  // shared: every row of a store holds it
};

using ObjectID = std::shared_ptr<ObjectIdentity>;

// The state of one object as a context hands it to another (child to parent, parent or store to
// child): attribute values by number and to-one targets by relationship number.
// A row that a context keeps for a while (a held row) has its values packed instead, one block of
// the bytes they need, and values empty; valuesOf gives them as Values either way.
struct Row {
    ObjectID id;
    std::vector<foundation::Value> values;
    std::vector<ObjectID> toOne;  // null for a to-many relationship or an empty to-one
    PackedValues packed;
};

// The row's values as Values, taken from it (its packed block is unpacked).
std::vector<foundation::Value> takeValues(Row& row);
// A copy of row with its values as Values.
Row unpackedCopy(const Row& row);

// The value an attribute of this type holds: numbers for booleans and integers are normalised
// so that memory and disk compare alike. Values that cannot be held give a null value.
foundation::Value normalizeAttributeValue(AttributeType type, foundation::Value value);

// The object is its own key-value source for predicates (a base rather than a member: a list's
// parse makes a hundred thousand objects, and every word of them counts).
class ManagedObject : public std::enable_shared_from_this<ManagedObject>, private KeyValueSource {
public:
    // values (a fetched row's, one for each attribute) becomes the object's storage.
    ManagedObject(Context* context, ObjectID id, bool fault, std::vector<foundation::Value>&& values = {});
    virtual ~ManagedObject();
    ManagedObject(const ManagedObject&) = delete;
    ManagedObject& operator=(const ManagedObject&) = delete;

    const Entity& entity() const { return id_->entity(); }
    const ObjectID& objectID() const { return id_; }
    // The context the object lives in; null once the context is gone or the object was
    // discarded by a rollback.
    std::shared_ptr<Context> managedObjectContext() const;

    bool isFault() const;
    // True while the object is being turned back into a fault (a refresh or a rollback), when
    // derived values must not be written into it.
    bool isTurningIntoFault() const;
    bool isInserted() const;
    bool isUpdated() const;
    bool isDeleted() const;
    bool hasChanges() const;

    // Attributes by name (an unknown key reads as null and cannot be set) or by number.
    foundation::Value value(std::string_view key) const;
    foundation::Value valueAt(int attributeIndex) const;
    foundation::Status setValue(std::string_view key, foundation::Value value);
    void setValueAt(int attributeIndex, foundation::Value value);
    // Several attributes by number at once (values are moved from), as one setValueAt each but
    // under one hold of the context's lock: a list's parse sets ten on each of its messages.
    void setValuesAt(std::span<std::pair<int, foundation::Value>> values);

    // To-one relationships.
    std::shared_ptr<ManagedObject> object(std::string_view key) const;
    foundation::Status setObject(std::string_view key, const std::shared_ptr<ManagedObject>& target);
    // To-many relationships (members in the order they joined; loaded on first use).
    std::vector<std::shared_ptr<ManagedObject>> objects(std::string_view key) const;
    foundation::Status addObject(std::string_view key, const std::shared_ptr<ManagedObject>& member);
    foundation::Status removeObject(std::string_view key, const std::shared_ptr<ManagedObject>& member);

    // A dotted key path across to-one relationships ("Conversation.isRead"); "entity.name"
    // gives the entity's name.
    foundation::Value valueForKeyPath(std::string_view keyPath) const;

    // Key-value observation of an attribute or a relationship: the handler runs on the thread
    // that made the change, after the change.
    using Observer = std::function<void(ManagedObject& object, const std::string& key)>;
    uint64_t addObserver(std::string key, Observer observer);
    void removeObserver(uint64_t token);

    // The predicate evaluator's view of the object.
    const KeyValueSource& keyValueSource() const { return *this; }

private:
    friend class Context;

    void resolve(const std::vector<std::string>& keyPath, std::vector<foundation::Value>& out,
                 bool& many) const override;
    foundation::Value self() const override;

    struct ObserverEntry {
        uint64_t token;
        std::string key;
        Observer handler;
    };

    // The context's lock while the object has a context, taken as the lock analysis sees it.
    class ContextLock;

    // These run with the context's lock held (when there is a context).
    // An object whose data is loaded (which every access to a new object finds) returns at once.
    void fireFaultLocked() const {
        if (fault_ || values_.empty()) loadFaultLocked();
    }
    // Sizes the storage and, for a fault, reads the row.
    void loadFaultLocked() const;
    // Sizes the attribute and to-one storage for the entity (an object whose state was given
    // away holds none).
    void ensureStorageLocked() const;
    bool isObservedLocked() const { return observers_ && !observers_->empty(); }
    // Why target cannot be the to-one r of an object of context; success when it can.
    static foundation::Status canLink(const Relationship& r, const ManagedObject* target, const Context* context);
    void notifyObservers(const std::string& key);
    // setValueAt with the context's lock held and the object's fault fired.
    void setValueAtLocked(int attributeIndex, foundation::Value&& value);
    Row snapshotLocked() const;
    // Gives the object's state away (a child's save hands it to the parent) and turns the object
    // into a fault, which reads that state back from the parent if it is used again.
    Row handOverLocked();

    Context* context_;
    ObjectID id_;
    // Mutable: firing a fault fills them from a const accessor.
    mutable std::vector<foundation::Value> values_;
    mutable std::vector<ObjectID> toOne_;
    mutable std::vector<std::optional<std::vector<ObjectID>>> toMany_;
    mutable bool fault_;
    bool turningIntoFault_ = false;
    bool inserted_ = false;
    bool updated_ = false;
    bool deleted_ = false;
    bool listedUpdated_ = false;                             // already in the context's updated list
    std::unique_ptr<std::vector<ObserverEntry>> observers_;  // made by the first observer
};

using ManagedObjectPtr = std::shared_ptr<ManagedObject>;

}  // namespace store
