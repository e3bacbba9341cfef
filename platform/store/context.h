// Managed-object contexts: a scratch pad of objects over a coordinator or over a parent context.
// Main-queue contexts belong to the main thread, private-queue ones to their own serial queue;
// work is posted to the context with perform/performAndWait. A child's save pushes its changes
// into its parent in memory; the root's save writes them to disk in one SQLite transaction.
//
// Children read from and push into their parent from their own thread, so each context guards
// its object graph with its own lock, taken child before parent before coordinator. A child never
// waits for its parent's queue, so a main thread waiting in performAndWait on a child cannot
// deadlock with it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/error.h"
#include "platform/foundation/flat_map.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/store/coordinator.h"
#include "platform/store/held_index.h"
#include "platform/store/managed_object.h"
#include "platform/store/model.h"

namespace store {

// Posted on the context's own thread with the context as object and userInfo "inserted",
// "updated", "deleted": arrays of the objects' URI representations.
inline constexpr const char* kContextDidSaveNotification = "NSManagedObjectContextDidSaveNotification";
inline constexpr const char* kContextObjectsDidChangeNotification =
    "NSManagedObjectContextObjectsDidChangeNotification";
inline constexpr const char* kInsertedObjectsKey = "inserted";
inline constexpr const char* kUpdatedObjectsKey = "updated";
inline constexpr const char* kDeletedObjectsKey = "deleted";

enum class ConcurrencyType { PrivateQueue, MainQueue };

class Context : public std::enable_shared_from_this<Context> {
public:
    // A context on the main queue, or on a new private serial queue.
    static std::shared_ptr<Context> create(ConcurrencyType type);
    // A context whose blocks run on queue (which must be serial); with no queue the context is
    // confined to its caller and perform runs blocks at once.
    static std::shared_ptr<Context> create(ConcurrencyType type, dispatch::QueuePtr queue);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    ConcurrencyType concurrencyType() const { return type_; }
    const dispatch::QueuePtr& queue() const { return queue_; }

    void setPersistentStoreCoordinator(CoordinatorPtr coordinator);
    // The context's coordinator, or its root ancestor's.
    CoordinatorPtr persistentStoreCoordinator() const;
    void setParentContext(std::shared_ptr<Context> parent);
    std::shared_ptr<Context> parentContext() const;

    // Runs block on the context's queue: later (perform), or now and waits (performAndWait;
    // inline when already on the queue).
    void perform(std::function<void()> block);
    void performAndWait(const std::function<void()>& block);

    foundation::Result<ManagedObjectPtr> insertNewObject(const std::string& entityName);
    // A new object of entityName made whole at once: its attribute values by number (moved
    // from) and its to-one targets by relationship number, as insertNewObject, setValuesAt and
    // setObject would make it. Nobody holds it, so it waits for the next save as a row from the
    // start, as holdUnreferencedInserted would keep it, and becomes an object when something asks
    // for one. It is an object at once when change listeners want the entity's objects or a
    // target's side of a relationship is to-one. How a large import writes what it never reads.
    foundation::Result<ObjectID> insertNewRow(const std::string& entityName,
                                              std::span<std::pair<int, foundation::Value>> values,
                                              std::span<const std::pair<int, ManagedObjectPtr>> toOne);
    void deleteObject(const ManagedObjectPtr& object);

    foundation::Result<std::vector<ManagedObjectPtr>> fetch(const FetchRequest& request);
    foundation::Result<size_t> count(const FetchRequest& request);

    // The object of id in this context: registered, or a fault that loads on first access.
    ManagedObjectPtr objectWithID(const ObjectID& id);
    // The object of id with its data, or an error when its row does not exist.
    foundation::Result<ManagedObjectPtr> existingObjectWithID(const ObjectID& id);

    // The object that the to-one relationship key of each of objects names (null where none, or
    // where an object is not this context's or has no such relationship), with the rows of those
    // still faults read in one batch down the chain rather than one query apiece (how a list fills
    // in the owners of its rows). The targets are registered here only while someone holds them:
    // the caller keeps what it is given.
    std::vector<ManagedObjectPtr> prefetchToOne(const std::vector<ManagedObjectPtr>& objects, std::string_view key);

    // One object that the next save writes (inserted or updated), as visitPending shows it: an
    // object of this context, or a row that a child's save left here, which stays a row.
    class PendingRow {
    public:
        explicit operator bool() const { return object_ || row_; }
        const ObjectID& objectID() const;
        // A null value for an attribute or relationship the entity does not have.
        const foundation::Value& valueAt(int attributeIndex) const;
        const ObjectID& toOneAt(int relationshipIndex) const;
        // Written by the next save. An object's observers hear of it as of any change.
        void setValueAt(int attributeIndex, foundation::Value value);

    private:
        friend class Context;
        ManagedObject* object_ = nullptr;
        Row* row_ = nullptr;
        // The values read out of a held row's packed block so far, by attribute number: the first
        // few here, the rest (of an entity of many attributes) beside.
        std::optional<foundation::Value>& unpackedSlot(int attributeIndex) const;
        mutable std::array<std::optional<foundation::Value>, 12> unpacked_;
        mutable std::shared_ptr<std::vector<std::optional<foundation::Value>>> moreUnpacked_;
    };
    using PendingFinder = std::function<PendingRow(const ObjectID& id)>;
    // Visits what the next save writes for each object of entityName that it inserts or updates,
    // in the order insertedObjects() and then updatedObjects() give them, without making objects
    // of the rows a child's save left: how a caller reads and amends a large save on its way to
    // the store. find gives the same view of any other object the save writes (an empty one for
    // an object it does not write). The context's lock is held throughout: visit must not call
    // the context or its objects, only the rows it is given.
    void visitPending(std::string_view entityName,
                      const std::function<void(PendingRow& row, const PendingFinder& find)>& visit);

    // Turns the inserted objects of entityName that nobody but this context holds (and nobody
    // observes) into rows kept for the next save, as a parent keeps the rows a child's save pushes
    // in: they are saved as they are and become objects again when something asks for one. What
    // a large import calls as it goes, so that the objects it is done with cost only their rows.
    void holdUnreferencedInserted(std::string_view entityName);

    bool hasChanges() const;
    // Bytes the registry of objects by identity holds (its table).
    size_t registryBytes() const;
    // Bytes the held rows hold: their list and index, and each row's values and to-one slots.
    size_t heldBytes() const;
    std::vector<ManagedObjectPtr> insertedObjects() const;
    std::vector<ManagedObjectPtr> updatedObjects() const;
    std::vector<ManagedObjectPtr> deletedObjects() const;

    // Child: pushes the changes into the parent. Root: writes them to the store in one
    // transaction; on failure nothing is written and the changes stay.
    foundation::Status save();
    // Forgets every unsaved change.
    void rollback();
    // Turns object back into a fault (mergeChanges false discards its changes) so that it
    // reloads from the parent or the store.
    void refreshObject(const ManagedObjectPtr& object, bool mergeChanges);

    // In-process change callbacks (the fetched-results controller uses them), called on the
    // thread that posts the matching notification.
    struct Changes {
        std::vector<ManagedObjectPtr> inserted, updated, deleted;
        bool empty() const { return inserted.empty() && updated.empty() && deleted.empty(); }
    };
    enum class ChangeKind { ObjectsDidChange, DidSave };
    using ChangeListener = std::function<void(Context& context, ChangeKind kind, const Changes& changes)>;
    // A listener given an entity name hears of that entity's objects only; the rows of other
    // entities that a child's save pushes in can then stay rows until someone uses them.
    uint64_t addChangeListener(ChangeListener listener, std::string entityName = {});
    void removeChangeListener(uint64_t token);

private:
    friend class ManagedObject;
    Context(ConcurrencyType type, dispatch::QueuePtr queue);

    ManagedObjectPtr registeredLocked(const ObjectIdentity* id) const HX_REQUIRES(mutex_);
    // The registered object of id, made (as a fault or not) when none is alive; created tells
    // which of the two happened. A made object takes values as its storage when given them (a
    // fetched row's), which are left as they were otherwise.
    ManagedObjectPtr objectWithIDLocked(const ObjectID& id, bool fault, bool* created = nullptr,
                                        std::vector<foundation::Value>* values = nullptr) HX_REQUIRES(mutex_);
    // Makes the object of id, not registered before, into the registry's entry for it.
    ManagedObjectPtr registerNewLocked(std::weak_ptr<ManagedObject>& entry, const ObjectID& id, bool fault,
                                       std::vector<foundation::Value>* values = nullptr) HX_REQUIRES(mutex_);
    foundation::Result<Row> rowForLocked(const ObjectID& id) HX_REQUIRES(mutex_);
    foundation::Result<Row> rowForChild(const ObjectID& id);
    // The rows of ids as this context sees them (its objects' state, its held rows, else what
    // the parent or the store says), each level asked once for all it lacks; ids without a row
    // are left out.
    foundation::Result<std::vector<Row>> rowsForIDsLocked(const std::vector<ObjectID>& ids) HX_REQUIRES(mutex_);
    foundation::Result<std::vector<Row>> rowsForChildIDs(const std::vector<ObjectID>& ids);
    foundation::Result<std::vector<ObjectID>> toManyLocked(const ObjectID& owner, const Relationship& rel, bool useOwn)
        HX_REQUIRES(mutex_);
    foundation::Result<std::vector<ObjectID>> toManyForChild(const ObjectID& owner, const Relationship& rel);
    foundation::Result<std::vector<Row>> rowsLocked(const Entity& entity, const SqlPlan& plan,
                                                    const std::optional<Predicate>& bound, size_t limit, size_t offset,
                                                    bool& ordered) HX_REQUIRES(mutex_);
    foundation::Result<std::vector<Row>> rowsForChild(const Entity& entity, const SqlPlan& plan,
                                                      const std::optional<Predicate>& bound, size_t limit,
                                                      size_t offset, bool& ordered);
    bool touchesLocked(const Entity& entity) const HX_REQUIRES(mutex_);
    bool chainTouches(const Entity& entity) const;
    bool hasChangesLocked() const HX_REQUIRES(mutex_);
    // The changed objects; without the inserted ones when withInserted is false (a save lists
    // those as it takes their rows).
    Changes changesLocked(bool withInserted = true) const HX_REQUIRES(mutex_);
    void clearChangesLocked() HX_REQUIRES(mutex_);
    void applyRowLocked(ManagedObject& object, const Row& row, bool notify) HX_REQUIRES(mutex_);
    // The same, taking the row's values over (a child's snapshot, made for this merge alone).
    void applyRowLocked(ManagedObject& object, Row&& row, bool notify) HX_REQUIRES(mutex_);
    template <typename RowT, typename Take>
    void applyRowLocked(ManagedObject& object, RowT& row, bool notify, Take take) HX_REQUIRES(mutex_);
    void setToOneLocked(ManagedObject& object, const Relationship& rel, const ObjectID& target, bool notify,
                        bool markChanged) HX_REQUIRES(mutex_);
    void deleteLocked(ManagedObject& object) HX_REQUIRES(mutex_);
    void markUpdatedLocked(ManagedObject& object) HX_REQUIRES(mutex_);
    void mergeFromChild(std::vector<Row>&& inserted, std::vector<Row>&& updated, const std::vector<ObjectID>& deleted);

    // Rows of objects inserted by a child's save that nobody here has asked for yet: they go on
    // to the store or the parent as they are, and become objects only when something here needs
    // one (a fetch of their entity, a lookup by id, a listener of their entity).
    bool isHeldLocked(const ObjectIdentity* id) const HX_REQUIRES(mutex_) { return heldIndex_.contains(id); }
    // Keeps row as a held row.
    void holdRowLocked(Row&& row) HX_REQUIRES(mutex_);
    // The held row of id as an object (nullptr when id is not held).
    ManagedObjectPtr takeHeldLocked(const ObjectIdentity* id) HX_REQUIRES(mutex_);
    // A row no longer held, made into an inserted object.
    ManagedObjectPtr adoptHeldRowLocked(Row&& row) HX_REQUIRES(mutex_);
    // Every held row of entity (or of every entity) as an object.
    void takeAllHeldLocked(const Entity* entity) HX_REQUIRES(mutex_);
    // The held rows of the entities that listeners want as objects.
    void takeWatchedLocked() HX_REQUIRES(mutex_);
    bool holdsEntityLocked(const Entity& entity) const HX_REQUIRES(mutex_);
    // A held row's to-one targets that are loaded here list it among their members (and, with
    // markChanged, count as updated, as after setObject).
    void linkHeldLocked(const Row& row, bool notify, bool markChanged = false) HX_REQUIRES(mutex_);
    // A new identity of entityName from the coordinator, or why there is none.
    foundation::Result<ObjectID> newIdentity(const std::string& entityName) const;
    foundation::Result<ObjectID> newIdentityLocked(const std::string& entityName) const HX_REQUIRES(mutex_);
    // Registers a new inserted object of id with its entity's defaults.
    ManagedObjectPtr insertNewLocked(const ObjectID& id) HX_REQUIRES(mutex_);
    // The object on the other side of a relationship whose change must reach it: a held row
    // has no loaded to-many set to mend, but a to-one side must follow, so it becomes an object.
    ManagedObjectPtr otherSideLocked(const ObjectIdentity* id, bool otherSideToMany) HX_REQUIRES(mutex_);
    // The entities change listeners want as objects: every one, or those named.
    struct Watched {
        bool all = false;
        std::vector<std::string> names;
        bool covers(const Entity& entity) const;
    };
    Watched watched();
    // Whether only the list of inserted objects holds object, which nobody observes and no
    // listener watches: it can then wait as a row, as holdUnreferencedInserted makes it one.
    bool unreferencedLocked(const ManagedObjectPtr& object, const Watched& watched) const HX_REQUIRES(mutex_);
    // The row of such an object, which goes (with its registry entry) and leaves its list's slot null.
    Row releaseUnreferencedLocked(ManagedObjectPtr& object) HX_REQUIRES(mutex_);
    // A save or merge also announces the URIs of the held rows it inserted (heldInserted).
    void announce(ChangeKind kind, const Changes& changes, const std::vector<ObjectID>& heldInserted = {});

    ConcurrencyType type_;
    dispatch::QueuePtr queue_;
    mutable foundation::RecursiveMutex mutex_;
    CoordinatorPtr coordinator_ HX_GUARDED_BY(mutex_);
    std::shared_ptr<Context> parent_ HX_GUARDED_BY(mutex_);
    // The objects registered here by identity, in one open-addressing table: an entry is a slot of
    // the table's one array, with no node of its own and no pool that keeps what it once held. A
    // page of a list registers a thousand objects or so; the sweeps below move the entries still
    // alive to a table of their size, so that the room of entries whose objects are gone goes back.
    using Registry = foundation::FlatMap<const ObjectIdentity*, std::weak_ptr<ManagedObject>>;
    Registry registry_ HX_GUARDED_BY(mutex_);
    // Drops the entries of objects that are gone: what is left moves to a table of its size.
    void sweepRegistryLocked() HX_REQUIRES(mutex_);
    // The registry size at which entries of objects that are gone are swept out next: twice the
    // size left by the last sweep, so that sweeping costs a constant per registration.
    size_t registrySweepAt_ HX_GUARDED_BY(mutex_) = 1024;
    // The registry's size after its last sweep: a save sweeps it once it has doubled since, as the
    // objects a save wrote are often gone when it ends.
    size_t registrySwept_ HX_GUARDED_BY(mutex_) = 0;
    // Changed objects, held strongly until saved or rolled back; an entry whose flags no longer
    // say so is skipped (cheaper than erasing from the middle).
    std::vector<ManagedObjectPtr>
        inserted_ HX_GUARDED_BY(mutex_), updated_ HX_GUARDED_BY(mutex_), deleted_ HX_GUARDED_BY(mutex_);
    foundation::Mutex listenersMutex_;
    std::vector<Row> held_ HX_GUARDED_BY(mutex_);  // id null once the row became an object
    // Each held row's place in held_: an import holds hundreds of thousands, each looked up as it
    // goes on to the parent or the store.
    HeldIndex heldIndex_ HX_GUARDED_BY(mutex_);
    struct Listener {
        uint64_t token;
        std::string entityName;  // empty: every entity
        ChangeListener listener;
    };
    std::vector<Listener> listeners_ HX_GUARDED_BY(listenersMutex_);
    uint64_t nextListener_ HX_GUARDED_BY(listenersMutex_) = 1;
};

using ContextPtr = std::shared_ptr<Context>;

}  // namespace store
