#include "platform/store/context.h"

#include <algorithm>
#include <unordered_set>

#include "platform/foundation/notification_center.h"
#include "platform/store/sql_plan.h"
#include "platform/store/store_error.h"

namespace store {

using foundation::Value;

namespace {

// The entity named name in the coordinator's model, or why there is none.
foundation::Result<const Entity*> entityNamed(const Coordinator* coordinator, const std::string& name) {
    if (!coordinator) return makeError(kNoStoreError, "The context has no coordinator.");
    const Entity* entity = coordinator->model().entityNamed(name);
    if (!entity) return makeError(kInvalidRequestError, "No entity named " + name + ".");
    return entity;
}

}  // namespace

Context::Context(ConcurrencyType type, dispatch::QueuePtr queue) : type_(type), queue_(std::move(queue)) {}

std::shared_ptr<Context> Context::create(ConcurrencyType type, dispatch::QueuePtr queue) {
    return std::shared_ptr<Context>(new Context(type, std::move(queue)));
}

Context::~Context() {
    std::lock_guard lock(mutex_);
    registry_.forEach([](const ObjectIdentity*, const std::weak_ptr<ManagedObject>& weak) {
        if (auto object = weak.lock()) object->context_ = nullptr;
    });
    for (auto* list : {&inserted_, &updated_, &deleted_})
        for (auto& object : *list) object->context_ = nullptr;
}

void Context::setPersistentStoreCoordinator(CoordinatorPtr coordinator) {
    std::lock_guard lock(mutex_);
    coordinator_ = std::move(coordinator);
}

CoordinatorPtr Context::persistentStoreCoordinator() const {
    std::lock_guard lock(mutex_);
    if (coordinator_) return coordinator_;
    return parent_ ? parent_->persistentStoreCoordinator() : nullptr;
}

void Context::setParentContext(std::shared_ptr<Context> parent) {
    std::lock_guard lock(mutex_);
    parent_ = std::move(parent);
}

std::shared_ptr<Context> Context::parentContext() const {
    std::lock_guard lock(mutex_);
    return parent_;
}

void Context::perform(std::function<void()> block) {
    if (!queue_) {
        block();
        return;
    }
    // The block keeps the context alive until it has run, as a queued block retains its target.
    queue_->async([self = shared_from_this(), block = std::move(block)] { block(); });
}

void Context::performAndWait(const std::function<void()>& block) {
    if (!queue_) {
        block();
        return;
    }
    // The main thread owns a main-queue context whether or not it is inside a queued block.
    if (queue_->isCurrent() || (type_ == ConcurrencyType::MainQueue && dispatch::isMainThread())) {
        block();
        return;
    }
    queue_->sync(block);
}

// ---------------------------------------------------------------- registry

ManagedObjectPtr Context::registeredLocked(const ObjectIdentity* id) const {
    const std::weak_ptr<ManagedObject>* entry = registry_.find(id);
    return entry ? entry->lock() : nullptr;
}

ManagedObjectPtr Context::objectWithIDLocked(const ObjectID& id, bool fault, bool* created,
                                             std::vector<Value>* values) {
    if (!heldIndex_.empty())
        if (auto object = takeHeldLocked(id.get())) {
            if (created) *created = false;
            return object;
        }
    auto [slot, added] = registry_.emplace(id.get(), {});
    if (!added) {
        if (auto existing = slot->lock()) {
            if (created) *created = false;
            return existing;
        }
    }
    if (created) *created = true;
    return registerNewLocked(*slot, id, fault, values);
}

ManagedObjectPtr Context::registerNewLocked(std::weak_ptr<ManagedObject>& entry, const ObjectID& id, bool fault,
                                            std::vector<Value>* values) {
    // Allocated apart from its count: the registry's weak entry then keeps only the count alive
    // once the object is gone, not the object's storage, until the next sweep.
    ManagedObjectPtr object(new ManagedObject(this, id, fault, values ? std::move(*values) : std::vector<Value>{}));
    entry = object;
    if (registry_.size() >= registrySweepAt_) {
        // The changed objects are held, so at least their entries are alive: when they make up
        // half the registry, a sweep could free little, and the next one waits for twice the size.
        if (inserted_.size() + updated_.size() + deleted_.size() < registry_.size() / 2) sweepRegistryLocked();
        registrySweepAt_ = std::max<size_t>(1024, 2 * registry_.size());
    }
    return object;
}

size_t Context::registryBytes() const {
    std::lock_guard lock(mutex_);
    return registry_.bytes();
}

size_t Context::heldBytes() const {
    std::lock_guard lock(mutex_);
    size_t values = 0;
    for (const Row& row : held_) {
        values += row.packed.bytes() + row.values.capacity() * sizeof(Value) + row.toOne.capacity() * sizeof(ObjectID);
        for (const Value& v : row.values)
            if (const std::string* text = v.ifString(); text && text->capacity() > std::string().capacity())
                values += text->capacity() + 1;
    }
    return held_.capacity() * sizeof(Row) + heldIndex_.bytes() + values;
}

void Context::sweepRegistryLocked() {
    size_t alive = 0;
    registry_.forEach(
        [&](const ObjectIdentity*, const std::weak_ptr<ManagedObject>& weak) { alive += !weak.expired(); });
    registrySwept_ = alive;
    // The entries still alive move to a table of their size, and the old one's memory goes back
    // (also when entries were erased one by one, which leaves the table its size).
    Registry fresh;
    fresh.reserve(alive);
    if (alive == registry_.size() && 2 * fresh.bytes() >= registry_.bytes()) return;
    registry_.forEach([&](const ObjectIdentity* id, const std::weak_ptr<ManagedObject>& weak) {
        if (!weak.expired()) fresh.emplace(id, weak);
    });
    registry_ = std::move(fresh);
}

// ---------------------------------------------------------------- held rows

void Context::holdRowLocked(Row&& row) {
    // Held until the save, perhaps a long while and by the hundred thousand: the values go into one
    // block of the bytes they need.
    if (!row.packed) {
        row.packed = PackedValues::pack(row.values);
        std::vector<Value>().swap(row.values);
    }
    heldIndex_.emplace(row.id.get(), held_.size());
    held_.push_back(std::move(row));
}

ManagedObjectPtr Context::takeHeldLocked(const ObjectIdentity* id) {
    const std::optional<size_t> at = heldIndex_.find(id);
    if (!at) return nullptr;
    Row row = std::move(held_[*at]);  // leaves the slot's id null
    heldIndex_.erase(id);
    if (heldIndex_.empty()) held_.clear();
    return adoptHeldRowLocked(std::move(row));
}

ManagedObjectPtr Context::adoptHeldRowLocked(Row&& row) {
    auto object = objectWithIDLocked(row.id, false);
    object->values_ = takeValues(row);
    object->inserted_ = true;
    inserted_.push_back(object);
    // Its to-many sets are left to load: members may still be held rows.
    for (const auto& r : object->entity().relationships())
        if (!r.toMany && row.toOne[r.index]) setToOneLocked(*object, r, row.toOne[r.index], false, false);
    return object;
}

void Context::takeAllHeldLocked(const Entity* entity) {
    if (entity) {
        for (size_t i = 0; i < held_.size(); ++i)
            if (held_[i].id && &held_[i].id->entity() == entity) takeHeldLocked(held_[i].id.get());
        return;
    }
    // Every row: the index goes at once rather than entry by entry. The rows leave the list
    // before any becomes an object, as an object's to-one may name a row further on.
    std::vector<Row> rows = std::move(held_);
    held_.clear();
    heldIndex_.clear();
    for (Row& row : rows)
        if (row.id) adoptHeldRowLocked(std::move(row));
}

bool Context::unreferencedLocked(const ManagedObjectPtr& object, const Watched& watched) const {
    // Only the list of inserted objects holds it: nobody can tell the object from the one its row
    // makes later. Listeners of its entity want objects (a save would make them objects again).
    return object.use_count() == 1 && object->inserted_ && !object->deleted_ && !object->turningIntoFault_ &&
           !object->isObservedLocked() && !watched.covers(object->entity());
}

Row Context::releaseUnreferencedLocked(ManagedObjectPtr& object) {
    registry_.erase(object->id_.get());
    Row row = object->handOverLocked();
    object.reset();
    return row;
}

void Context::holdUnreferencedInserted(std::string_view entityName) {
    std::lock_guard lock(mutex_);
    const Watched w = watched();
    bool held = false;
    for (ManagedObjectPtr& object : inserted_) {
        if (object->entity().name() != entityName || !unreferencedLocked(object, w)) continue;
        holdRowLocked(releaseUnreferencedLocked(object));
        held = true;
    }
    if (held) std::erase(inserted_, nullptr);
}

void Context::takeWatchedLocked() {
    if (held_.empty()) return;
    const Watched w = watched();
    for (size_t i = 0; i < held_.size(); ++i)
        if (held_[i].id && w.covers(held_[i].id->entity())) takeHeldLocked(held_[i].id.get());
}

bool Context::holdsEntityLocked(const Entity& entity) const {
    for (const auto& row : held_)
        if (row.id && &row.id->entity() == &entity) return true;
    return false;
}

void Context::linkHeldLocked(const Row& row, bool notify, bool markChanged) {
    for (const auto& r : row.id->entity().relationships()) {
        if (r.toMany || !r.inverse->toMany || !row.toOne[r.index]) continue;
        auto other = registeredLocked(row.toOne[r.index].get());
        if (!other || other->fault_) continue;
        auto& slot = other->toMany_[r.inverse->index];
        if (slot && std::find(slot->begin(), slot->end(), row.id) == slot->end()) slot->push_back(row.id);
        if (markChanged) markUpdatedLocked(*other);
        if (notify) other->notifyObservers(r.inverse->name);
    }
}

ManagedObjectPtr Context::otherSideLocked(const ObjectIdentity* id, bool otherSideToMany) {
    if (auto object = registeredLocked(id)) return object;
    return otherSideToMany || heldIndex_.empty() ? nullptr : takeHeldLocked(id);
}

bool Context::Watched::covers(const Entity& entity) const {
    return all || std::find(names.begin(), names.end(), entity.name()) != names.end();
}

Context::Watched Context::watched() {
    Watched w;
    std::lock_guard lock(listenersMutex_);
    for (const auto& l : listeners_) {
        w.all = w.all || l.entityName.empty();
        w.names.push_back(l.entityName);
    }
    return w;
}

ManagedObjectPtr Context::objectWithID(const ObjectID& id) {
    if (!id) return nullptr;
    std::lock_guard lock(mutex_);
    return objectWithIDLocked(id, true);
}

foundation::Result<ManagedObjectPtr> Context::existingObjectWithID(const ObjectID& id) {
    if (!id) return makeError(kInvalidRequestError, "No object id.");
    std::lock_guard lock(mutex_);
    auto object = objectWithIDLocked(id, true);
    if (object->fault_) {
        auto row = rowForLocked(id);
        if (!row) return row.error();
        object->fault_ = false;
        applyRowLocked(*object, row.value(), false);
    }
    if (object->deleted_) return makeError(kInvalidRequestError, "The object was deleted.");
    return object;
}

// ---------------------------------------------------------------- reading through the chain

foundation::Result<Row> Context::rowForLocked(const ObjectID& id) {
    if (parent_) return parent_->rowForChild(id);
    auto coordinator = persistentStoreCoordinator();
    if (!coordinator) return makeError(kNoStoreError, "The context has no coordinator.");
    return coordinator->loadRow(id);
}

foundation::Result<Row> Context::rowForChild(const ObjectID& id) {
    std::lock_guard lock(mutex_);
    if (auto object = registeredLocked(id.get()); object && !object->fault_) return object->snapshotLocked();
    if (const auto at = heldIndex_.find(id.get())) return unpackedCopy(held_[*at]);
    return rowForLocked(id);
}

foundation::Result<std::vector<Row>> Context::rowsForIDsLocked(const std::vector<ObjectID>& ids) {
    if (parent_) return parent_->rowsForChildIDs(ids);
    auto coordinator = persistentStoreCoordinator();
    if (!coordinator) return makeError(kNoStoreError, "The context has no coordinator.");
    return coordinator->loadRows(ids);
}

foundation::Result<std::vector<Row>> Context::rowsForChildIDs(const std::vector<ObjectID>& ids) {
    std::lock_guard lock(mutex_);
    std::vector<Row> rows;
    std::vector<ObjectID> missing;
    for (const auto& id : ids) {
        if (auto object = registeredLocked(id.get()); object && !object->fault_) {
            rows.push_back(object->snapshotLocked());
        } else if (const auto at = heldIndex_.find(id.get())) {
            rows.push_back(unpackedCopy(held_[*at]));
        } else {
            missing.push_back(id);
        }
    }
    if (missing.empty()) return rows;
    auto rest = rowsForIDsLocked(missing);
    if (!rest) return rest;
    rows.reserve(rows.size() + rest->size());
    for (auto& row : rest.value()) rows.push_back(std::move(row));
    return rows;
}

std::vector<ManagedObjectPtr> Context::prefetchToOne(const std::vector<ManagedObjectPtr>& objects,
                                                     std::string_view key) {
    std::vector<ManagedObjectPtr> targets(objects.size());
    std::lock_guard lock(mutex_);
    std::unordered_map<const ObjectIdentity*, ManagedObject*> faults;
    std::vector<ObjectID> faultIDs;
    for (size_t i = 0; i < objects.size(); ++i) {
        const auto& object = objects[i];
        if (!object || object->context_ != this) continue;
        const Relationship* r = object->entity().relationship(key);
        if (!r || r->toMany) continue;
        object->fireFaultLocked();
        const ObjectID& id = object->toOne_[r->index];
        if (!id) continue;
        targets[i] = objectWithIDLocked(id, true);
        if (targets[i]->fault_ && faults.emplace(id.get(), targets[i].get()).second) faultIDs.push_back(id);
    }
    if (faultIDs.empty()) return targets;
    // A failed read leaves the faults as they are: each loads (or fails) on its own when used.
    auto rows = rowsForIDsLocked(faultIDs);
    if (!rows) return targets;
    for (auto& row : rows.value()) {
        auto it = faults.find(row.id.get());
        if (it == faults.end() || !it->second->fault_) continue;
        it->second->fault_ = false;
        applyRowLocked(*it->second, std::move(row), false);
    }
    return targets;
}

foundation::Result<std::vector<ObjectID>> Context::toManyLocked(const ObjectID& owner, const Relationship& rel,
                                                                bool useOwn) {
    if (useOwn)
        if (auto object = registeredLocked(owner.get()); object && object->toMany_[rel.index])
            return *object->toMany_[rel.index];
    foundation::Result<std::vector<ObjectID>> base = std::vector<ObjectID>{};
    if (parent_) {
        base = parent_->toManyForChild(owner, rel);
    } else if (auto coordinator = persistentStoreCoordinator()) {
        base = coordinator->loadToMany(owner, rel);
    }
    if (!base) return base;
    std::vector<ObjectID> ids = std::move(base.value());
    // Our own unsaved changes to the members' to-one side decide over what the parent says.
    const int inverse = rel.inverse->index;
    auto apply = [&](const ManagedObjectPtr& o, bool gone) {
        if (&o->entity() != rel.destination || o->fault_) return;
        auto it = std::find(ids.begin(), ids.end(), o->id_);
        bool member = !gone && o->toOne_[inverse] == owner;
        if (member && it == ids.end())
            ids.push_back(o->id_);
        else if (!member && it != ids.end())
            ids.erase(it);
    };
    for (const auto& row : held_)
        if (row.id && &row.id->entity() == rel.destination && row.toOne[inverse] == owner &&
            std::find(ids.begin(), ids.end(), row.id) == ids.end())
            ids.push_back(row.id);
    for (const auto& o : inserted_)
        if (o->inserted_) apply(o, o->deleted_);
    for (const auto& o : updated_)
        if (o->updated_) apply(o, o->deleted_);
    for (const auto& o : deleted_)
        if (o->deleted_) apply(o, true);
    return ids;
}

foundation::Result<std::vector<ObjectID>> Context::toManyForChild(const ObjectID& owner, const Relationship& rel) {
    std::lock_guard lock(mutex_);
    return toManyLocked(owner, rel, true);
}

bool Context::touchesLocked(const Entity& entity) const {
    if (holdsEntityLocked(entity)) return true;
    for (const auto* list : {&inserted_, &updated_, &deleted_})
        for (const auto& o : *list)
            if (&o->entity() == &entity && (o->inserted_ || o->updated_ || o->deleted_)) return true;
    return false;
}

bool Context::chainTouches(const Entity& entity) const {
    std::shared_ptr<Context> parent;
    {
        std::lock_guard lock(mutex_);
        if (touchesLocked(entity)) return true;
        parent = parent_;
    }
    return parent && parent->chainTouches(entity);
}

foundation::Result<std::vector<Row>> Context::rowsLocked(const Entity& entity, const SqlPlan& plan,
                                                         const std::optional<Predicate>& bound, size_t limit,
                                                         size_t offset, bool& ordered) {
    if (!held_.empty()) takeAllHeldLocked(&entity);
    bool touched = touchesLocked(entity);
    if (touched) limit = offset = 0;
    foundation::Result<std::vector<Row>> base = std::vector<Row>{};
    if (parent_) {
        base = parent_->rowsForChild(entity, plan, bound, limit, offset, ordered);
    } else {
        auto coordinator = persistentStoreCoordinator();
        if (!coordinator) return makeError(kNoStoreError, "The context has no coordinator.");
        base = coordinator->fetchRows(entity, plan, limit, offset);
        ordered = !plan.sortInMemory;
    }
    if (!base || !touched) return base;
    ordered = false;
    std::vector<Row> rows = std::move(base.value());
    std::unordered_map<const ObjectIdentity*, size_t> position;
    for (size_t i = 0; i < rows.size(); ++i) position[rows[i].id.get()] = i;
    std::unordered_set<const ObjectIdentity*> drop;
    auto consider = [&](const ManagedObjectPtr& o) {
        if (&o->entity() != &entity) return;
        if (o->deleted_ || (bound && !bound->evaluate(o->keyValueSource()))) {
            drop.insert(o->id_.get());
            return;
        }
        drop.erase(o->id_.get());
        Row snapshot = o->snapshotLocked();
        auto it = position.find(o->id_.get());
        if (it != position.end()) {
            rows[it->second] = std::move(snapshot);
        } else {
            position[o->id_.get()] = rows.size();
            rows.push_back(std::move(snapshot));
        }
    };
    for (const auto& o : deleted_)
        if (o->deleted_) consider(o);
    for (const auto& o : inserted_)
        if (o->inserted_) consider(o);
    for (const auto& o : updated_)
        if (o->updated_) consider(o);
    if (!drop.empty()) std::erase_if(rows, [&](const Row& r) { return drop.count(r.id.get()) > 0; });
    return rows;
}

foundation::Result<std::vector<Row>> Context::rowsForChild(const Entity& entity, const SqlPlan& plan,
                                                           const std::optional<Predicate>& bound, size_t limit,
                                                           size_t offset, bool& ordered) {
    std::lock_guard lock(mutex_);
    return rowsLocked(entity, plan, bound, limit, offset, ordered);
}

// ---------------------------------------------------------------- fetch and count

namespace {

int compareIdentity(const ObjectIdentity& a, const ObjectIdentity& b) {
    // Stored rows by row number, then unsaved ones in insertion order: the SQL tie-break.
    bool ta = a.isTemporary(), tb = b.isTemporary();
    if (ta != tb) return ta ? 1 : -1;
    uint64_t ka = ta ? a.temporaryNumber() : static_cast<uint64_t>(a.primaryKey());
    uint64_t kb = tb ? b.temporaryNumber() : static_cast<uint64_t>(b.primaryKey());
    return ka < kb ? -1 : (ka > kb ? 1 : 0);
}

// The request's entity in the coordinator's model, and its predicate bound to that entity.
struct ResolvedRequest {
    CoordinatorPtr coordinator;
    const Entity* entity;
    std::optional<Predicate> bound;
};

foundation::Result<ResolvedRequest> resolveRequest(CoordinatorPtr coordinator, const FetchRequest& request) {
    auto entity = entityNamed(coordinator.get(), request.entityName);
    if (!entity) return entity.error();
    std::optional<Predicate> bound;
    if (request.predicate) {
        auto b = bindPredicate(*request.predicate, **entity);
        if (!b) return b.error();
        bound = std::move(b.value());
    }
    return ResolvedRequest{std::move(coordinator), *entity, std::move(bound)};
}

}  // namespace

foundation::Result<std::vector<ManagedObjectPtr>> Context::fetch(const FetchRequest& request) {
    auto resolved = resolveRequest(persistentStoreCoordinator(), request);
    if (!resolved) return resolved.error();
    auto& [coordinator, entity, bound] = resolved.value();
    SqlPlan plan = planQuery(*entity, bound, request.sortDescriptors);
    for (const auto& d : request.sortDescriptors)
        if (d.keyPath.empty()) return makeError(kInvalidRequestError, "A sort descriptor needs a key path.");

    std::lock_guard lock(mutex_);
    bool pushLimit = !plan.residual && !plan.sortInMemory;
    bool ordered = true;
    auto rows = rowsLocked(*entity, plan, bound, pushLimit ? request.fetchLimit : 0,
                           pushLimit ? request.fetchOffset : 0, ordered);
    if (!rows) return rows.error();
    // The SQL applied limit and offset only when nobody along the chain had to merge changes.
    bool limited = pushLimit && ordered;

    std::vector<ManagedObjectPtr> objects;
    objects.reserve(rows->size());
    for (auto& row : rows.value()) {
        bool fresh = false;
        // A new object takes the row's storage; only its to-one links need the bookkeeping.
        auto object = objectWithIDLocked(row.id, false, &fresh, &row.values);
        if (fresh) {
            for (const auto& r : entity->relationships())
                if (!r.toMany && static_cast<size_t>(r.index) < row.toOne.size() && row.toOne[r.index])
                    setToOneLocked(*object, r, row.toOne[r.index], false, false);
        } else if (object->deleted_) {
            continue;
        } else if (object->fault_ || !(object->inserted_ || object->updated_)) {
            bool wasFault = object->fault_;
            object->fault_ = false;
            applyRowLocked(*object, row, !wasFault);
        }
        objects.push_back(std::move(object));
    }
    if (plan.residual)
        std::erase_if(objects,
                      [&](const ManagedObjectPtr& o) { return !plan.residual->evaluate(o->keyValueSource()); });
    if (!ordered || plan.sortInMemory) {
        std::vector<std::pair<ManagedObjectPtr, std::vector<Value>>> keyed;
        keyed.reserve(objects.size());
        for (auto& o : objects) {
            std::vector<Value> keys;
            for (const auto& d : request.sortDescriptors) keys.push_back(o->valueForKeyPath(d.keyPath));
            keyed.emplace_back(std::move(o), std::move(keys));
        }
        std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
            for (size_t i = 0; i < request.sortDescriptors.size(); ++i) {
                int c = compareValues(a.second[i], b.second[i]);
                if (c) return request.sortDescriptors[i].ascending ? c < 0 : c > 0;
            }
            return compareIdentity(*a.first->id_, *b.first->id_) < 0;
        });
        objects.clear();
        for (auto& [o, keys] : keyed) objects.push_back(std::move(o));
    }
    if (!limited) {
        size_t offset = std::min(request.fetchOffset, objects.size());
        objects.erase(objects.begin(), objects.begin() + static_cast<long>(offset));
        if (request.fetchLimit && objects.size() > request.fetchLimit) objects.resize(request.fetchLimit);
    }
    return objects;
}

foundation::Result<size_t> Context::count(const FetchRequest& request) {
    auto resolved = resolveRequest(persistentStoreCoordinator(), request);
    if (!resolved) return resolved.error();
    auto& [coordinator, entity, bound] = resolved.value();
    SqlPlan plan = planQuery(*entity, bound, {});
    if (!plan.residual && !chainTouches(*entity)) {
        auto n = coordinator->countRows(*entity, plan);
        if (!n) return n;
        size_t count = n.value() - std::min(n.value(), request.fetchOffset);
        if (request.fetchLimit) count = std::min(count, request.fetchLimit);
        return count;
    }
    FetchRequest plain = request;
    plain.sortDescriptors.clear();
    auto objects = fetch(plain);
    if (!objects) return objects.error();
    return objects->size();
}

// ---------------------------------------------------------------- changes

void Context::markUpdatedLocked(ManagedObject& object) {
    if (object.inserted_ || object.updated_ || object.deleted_) return;
    object.updated_ = true;
    updated_.push_back(object.shared_from_this());
}

void Context::applyRowLocked(ManagedObject& object, const Row& row, bool notify) {
    applyRowLocked(object, row, notify, [](const Value& v) { return v; });
}

void Context::applyRowLocked(ManagedObject& object, Row&& row, bool notify) {
    applyRowLocked(object, row, notify, [](Value& v) { return std::move(v); });
}

template <typename RowT, typename Take>
void Context::applyRowLocked(ManagedObject& object, RowT& row, bool notify, Take take) {
    const Entity& e = object.entity();
    object.ensureStorageLocked();
    // Only an object someone observes needs the names of what changed.
    const bool observed = notify && object.isObservedLocked();
    std::vector<const std::string*> changed;
    for (size_t i = 0; i < object.values_.size() && i < row.values.size(); ++i) {
        if (notify && object.values_[i] == row.values[i] && object.values_[i].type() == row.values[i].type()) continue;
        object.values_[i] = take(row.values[i]);
        if (observed) changed.push_back(&e.attributes()[i].name);
    }
    for (const auto& r : e.relationships()) {
        if (r.toMany) continue;
        const ObjectID target = static_cast<size_t>(r.index) < row.toOne.size() ? row.toOne[r.index] : nullptr;
        if (object.toOne_[r.index] != target) setToOneLocked(object, r, target, notify, false);
    }
    for (const std::string* key : changed) object.notifyObservers(*key);
}

void Context::setToOneLocked(ManagedObject& object, const Relationship& rel, const ObjectID& target, bool notify,
                             bool markChanged) {
    ObjectID old = object.toOne_[rel.index];
    if (old == target) return;
    object.toOne_[rel.index] = target;
    if (markChanged) markUpdatedLocked(object);
    const Relationship& inverse = *rel.inverse;
    // Keeps the other side's loaded state in step; an unloaded side works it out when loaded.
    auto unlink = [&](const ObjectID& id) HX_REQUIRES(mutex_) {
        auto other = otherSideLocked(id.get(), inverse.toMany);
        if (!other || other->fault_) return;
        if (inverse.toMany) {
            auto& slot = other->toMany_[inverse.index];
            if (slot) std::erase(*slot, object.id_);
        } else if (other->toOne_[inverse.index] == object.id_) {
            other->toOne_[inverse.index] = nullptr;
        }
        if (markChanged) markUpdatedLocked(*other);
        if (notify) other->notifyObservers(inverse.name);
    };
    auto link = [&](const ObjectID& id) HX_REQUIRES(mutex_) {
        auto other = otherSideLocked(id.get(), inverse.toMany);
        if (!other || other->fault_) return;
        if (inverse.toMany) {
            auto& slot = other->toMany_[inverse.index];
            if (slot && std::find(slot->begin(), slot->end(), object.id_) == slot->end()) slot->push_back(object.id_);
        } else {
            if (const ObjectID& previous = other->toOne_[inverse.index]; previous && previous != object.id_)
                if (auto prev = otherSideLocked(previous.get(), false); prev && !prev->fault_)
                    setToOneLocked(*prev, rel, nullptr, notify, markChanged);
            other->toOne_[inverse.index] = object.id_;
        }
        if (markChanged) markUpdatedLocked(*other);
        if (notify) other->notifyObservers(inverse.name);
    };
    if (old) unlink(old);
    if (target) link(target);
    if (notify) object.notifyObservers(rel.name);
}

foundation::Result<ObjectID> Context::newIdentity(const std::string& entityName) const {
    std::lock_guard lock(mutex_);
    return newIdentityLocked(entityName);
}

foundation::Result<ObjectID> Context::newIdentityLocked(const std::string& entityName) const {
    // A root context asks its own coordinator, without taking a count of it.
    Coordinator* coordinator = coordinator_.get();
    CoordinatorPtr inherited;
    if (!coordinator) {
        inherited = persistentStoreCoordinator();
        coordinator = inherited.get();
    }
    auto entity = entityNamed(coordinator, entityName);
    if (!entity) return entity.error();
    return coordinator->newTemporaryIdentity(**entity);
}

ManagedObjectPtr Context::insertNewLocked(const ObjectID& id) {
    const Entity& entity = id->entity();
    // A new identity is neither registered nor held.
    // Nulls, then the few attributes that start with a value (flags and counts, mostly).
    std::vector<Value> values(entity.attributes().size());
    for (int i : entity.givenInitialValues()) values[i] = entity.initialValues()[i];
    auto object = registerNewLocked(registry_[id.get()], id, false, &values);
    for (const auto& r : entity.relationships())
        if (r.toMany) object->toMany_[r.index].emplace();
    object->inserted_ = true;
    inserted_.push_back(object);
    return object;
}

foundation::Result<ManagedObjectPtr> Context::insertNewObject(const std::string& entityName) {
    // Under one hold of the lock (the identity's coordinator is found under it too).
    std::lock_guard lock(mutex_);
    auto id = newIdentityLocked(entityName);
    if (!id.ok()) return id.error();
    return insertNewLocked(id.value());
}

foundation::Result<ObjectID> Context::insertNewRow(const std::string& entityName,
                                                   std::span<std::pair<int, Value>> values,
                                                   std::span<const std::pair<int, ManagedObjectPtr>> toOne) {
    auto made = newIdentity(entityName);
    if (!made.ok()) return made.error();
    ObjectID id = std::move(made.value());
    const Entity& entity = id->entity();
    const auto& relationships = entity.relationships();
    bool asRow = true;
    for (const auto& [index, target] : toOne) {
        if (index < 0 || static_cast<size_t>(index) >= relationships.size() || relationships[index].toMany)
            return makeError(kInvalidRequestError, "The entity " + entity.name() +
                                                       " has no to-one relationship number " + std::to_string(index) +
                                                       ".");
        const Relationship& r = relationships[index];
        if (auto refused = ManagedObject::canLink(r, target.get(), this); !refused) return refused.error();
        // The other side's to-one must follow at once, which takes an object.
        if (target && !r.inverse->toMany) asRow = false;
    }
    std::lock_guard lock(mutex_);
    if (!asRow || watched().covers(entity)) {
        auto object = insertNewLocked(id);
        for (auto& [index, value] : values) object->setValueAtLocked(index, std::move(value));
        for (const auto& [index, target] : toOne)
            setToOneLocked(*object, relationships[index], target ? target->id_ : nullptr, true, true);
        return id;
    }
    // Packed at once from the values given and the entity's defaults for the rest.
    const auto& defaults = entity.initialValues();
    constexpr size_t kOnStack = 32;
    const Value* onStack[kOnStack];
    std::vector<const Value*> onHeap(defaults.size() > kOnStack ? defaults.size() : 0);
    const std::span<const Value*> slots(defaults.size() > kOnStack ? onHeap.data() : onStack, defaults.size());
    for (size_t i = 0; i < defaults.size(); ++i) slots[i] = &defaults[i];
    for (auto& [index, value] : values) {
        if (index < 0 || static_cast<size_t>(index) >= slots.size()) continue;
        value = normalizeAttributeValue(entity.attributes()[index].type, std::move(value));
        slots[index] = &value;
    }
    Row row{id, {}, std::vector<ObjectID>(relationships.size()), PackedValues::pack(slots)};
    for (const auto& [index, target] : toOne) row.toOne[index] = target ? target->id_ : nullptr;
    linkHeldLocked(row, true, true);
    holdRowLocked(std::move(row));
    return id;
}

void Context::deleteObject(const ManagedObjectPtr& object) {
    if (!object) return;
    std::lock_guard lock(mutex_);
    if (object->context_ != this) return;
    deleteLocked(*object);
}

void Context::deleteLocked(ManagedObject& object) {
    if (object.deleted_) return;
    object.fireFaultLocked();
    object.deleted_ = true;
    if (!object.inserted_) deleted_.push_back(object.shared_from_this());
    const Entity& e = object.entity();
    for (const auto& r : e.relationships()) {
        if (!r.toMany) {
            const ObjectID target = object.toOne_[r.index];
            if (!target) continue;
            if (r.deleteRule == DeleteRule::Cascade) {
                deleteLocked(*objectWithIDLocked(target, true));
            } else if (auto other = otherSideLocked(target.get(), r.inverse->toMany); other && !other->fault_) {
                if (r.inverse->toMany) {
                    if (auto& slot = other->toMany_[r.inverse->index]) std::erase(*slot, object.id_);
                } else if (other->toOne_[r.inverse->index] == object.id_) {
                    other->toOne_[r.inverse->index] = nullptr;
                }
                markUpdatedLocked(*other);
                other->notifyObservers(r.inverse->name);
            }
            continue;
        }
        auto& slot = object.toMany_[r.index];
        if (!slot) {
            auto ids = toManyLocked(object.id_, r, false);
            if (ids) slot = std::move(ids.value());
        }
        if (!slot) continue;
        std::vector<ObjectID> members = *slot;
        for (const auto& id : members) {
            auto member = objectWithIDLocked(id, true);
            if (r.deleteRule == DeleteRule::Cascade) {
                deleteLocked(*member);
            } else {
                member->fireFaultLocked();
                if (member->toOne_[r.inverse->index] == object.id_)
                    setToOneLocked(*member, *r.inverse, nullptr, true, true);
            }
        }
    }
}

bool Context::hasChangesLocked() const {
    if (!heldIndex_.empty()) return true;
    for (const auto& o : inserted_)
        if (o->inserted_ && !o->deleted_) return true;
    for (const auto& o : updated_)
        if (o->updated_ && !o->inserted_ && !o->deleted_) return true;
    for (const auto& o : deleted_)
        if (o->deleted_ && !o->inserted_) return true;
    return false;
}

bool Context::hasChanges() const {
    std::lock_guard lock(mutex_);
    return hasChangesLocked();
}

// Each list holds an object at most once (its flag is set when it joins and cleared only when
// the list is emptied), so filtering by the flags is enough.
Context::Changes Context::changesLocked(bool withInserted) const {
    Changes c;
    if (withInserted) {
        c.inserted.reserve(inserted_.size());
        for (const auto& o : inserted_)
            if (o->inserted_ && !o->deleted_) c.inserted.push_back(o);
    }
    for (const auto& o : updated_)
        if (o->updated_ && !o->inserted_ && !o->deleted_) c.updated.push_back(o);
    for (const auto& o : deleted_)
        if (o->deleted_ && !o->inserted_) c.deleted.push_back(o);
    return c;
}

// Asked for its changed objects, the context makes its held rows into objects: nothing anyone
// can observe changes with that, hence const.
std::vector<ManagedObjectPtr> Context::insertedObjects() const {
    std::lock_guard lock(mutex_);
    const_cast<Context*>(this)->takeAllHeldLocked(nullptr);
    return changesLocked().inserted;
}
std::vector<ManagedObjectPtr> Context::updatedObjects() const {
    std::lock_guard lock(mutex_);
    return changesLocked().updated;
}
std::vector<ManagedObjectPtr> Context::deletedObjects() const {
    std::lock_guard lock(mutex_);
    return changesLocked().deleted;
}

// ---------------------------------------------------------------- pending rows

namespace {
const Value kNoValue;
const ObjectID kNoTarget;
}  // namespace

std::optional<Value>& Context::PendingRow::unpackedSlot(int attributeIndex) const {
    if (static_cast<size_t>(attributeIndex) < unpacked_.size()) return unpacked_[attributeIndex];
    if (!moreUnpacked_) moreUnpacked_ = std::make_shared<std::vector<std::optional<Value>>>(row_->packed.size());
    return (*moreUnpacked_)[attributeIndex];
}

const ObjectID& Context::PendingRow::objectID() const { return object_ ? object_->id_ : row_->id; }

// The visit holds the context's lock for every access through a pending row.
const Value& Context::PendingRow::valueAt(int attributeIndex) const HX_NO_THREAD_SAFETY_ANALYSIS {
    if (!object_ && row_->packed) {
        // Read out of the block once, and kept while this view lives.
        const size_t count = row_->packed.size();
        if (attributeIndex < 0 || static_cast<size_t>(attributeIndex) >= count) return kNoValue;
        std::optional<Value>& slot = unpackedSlot(attributeIndex);
        if (!slot) slot = row_->packed.at(attributeIndex);
        return *slot;
    }
    const auto& values = object_ ? object_->values_ : row_->values;
    return attributeIndex >= 0 && static_cast<size_t>(attributeIndex) < values.size() ? values[attributeIndex]
                                                                                      : kNoValue;
}

const ObjectID& Context::PendingRow::toOneAt(int relationshipIndex) const HX_NO_THREAD_SAFETY_ANALYSIS {
    const auto& toOne = object_ ? object_->toOne_ : row_->toOne;
    return relationshipIndex >= 0 && static_cast<size_t>(relationshipIndex) < toOne.size() ? toOne[relationshipIndex]
                                                                                           : kNoTarget;
}

void Context::PendingRow::setValueAt(int attributeIndex, Value value) {
    if (object_) return object_->setValueAt(attributeIndex, std::move(value));
    const auto& attributes = row_->id->entity().attributes();
    const size_t count = row_->packed ? row_->packed.size() : row_->values.size();
    if (attributeIndex < 0 || static_cast<size_t>(attributeIndex) >= attributes.size() ||
        static_cast<size_t>(attributeIndex) >= count)
        return;
    value = normalizeAttributeValue(attributes[attributeIndex].type, std::move(value));
    if (!row_->packed) {
        row_->values[attributeIndex] = std::move(value);
        return;
    }
    // A flag or a number changes in place (a save marks every message it indexes); anything else
    // packs the row afresh.
    if (!row_->packed.setInPlace(attributeIndex, value)) {
        std::vector<Value> values = row_->packed.unpack();
        values[attributeIndex] = value;
        row_->packed = PackedValues::pack(values);
    }
    if (std::optional<Value>& slot = unpackedSlot(attributeIndex)) slot = std::move(value);
}

void Context::visitPending(std::string_view entityName,
                           const std::function<void(PendingRow& row, const PendingFinder& find)>& visit) {
    std::lock_guard lock(mutex_);
    auto pendingObject = [](const ManagedObject& o) { return !o.deleted_ && (o.inserted_ || o.updated_); };
    auto asPending = [](ManagedObject* object, Row* row) HX_REQUIRES(mutex_) {
        PendingRow p;
        if (object) object->fireFaultLocked();
        p.object_ = object;
        p.row_ = row;
        return p;
    };
    const PendingFinder find = [&](const ObjectID& id) HX_NO_THREAD_SAFETY_ANALYSIS {
        if (!id) return PendingRow();
        if (const auto at = heldIndex_.find(id.get())) return asPending(nullptr, &held_[*at]);
        auto object = registeredLocked(id.get());
        return object && pendingObject(*object) ? asPending(object.get(), nullptr) : PendingRow();
    };
    // By index: a visit may list an object as updated (a change to an object inserted here does
    // not), and neither list nor the held rows gain members otherwise.
    auto visitObjects = [&](std::vector<ManagedObjectPtr>& list, bool inserted) HX_REQUIRES(mutex_) {
        for (size_t i = 0; i < list.size(); ++i) {
            ManagedObject& o = *list[i];
            if (o.entity().name() != entityName || !pendingObject(o) || o.inserted_ != inserted) continue;
            PendingRow row = asPending(&o, nullptr);
            visit(row, find);
        }
    };
    visitObjects(inserted_, true);
    for (Row& held : held_) {
        if (!held.id || held.id->entity().name() != entityName) continue;
        PendingRow row = asPending(nullptr, &held);
        visit(row, find);
    }
    visitObjects(updated_, false);
}

void Context::clearChangesLocked() {
    // The list's room goes too: a page of a list leaves a thousand rows' worth.
    std::vector<Row>().swap(held_);
    heldIndex_.clear();
    for (auto* list : {&inserted_, &updated_, &deleted_}) {
        for (auto& o : *list) {
            if (o->deleted_) {
                registry_.erase(o->id_.get());
                o->context_ = nullptr;
            }
            o->inserted_ = o->updated_ = false;
        }
        list->clear();
    }
}

foundation::Status Context::save() {
    Changes changes;
    std::vector<ObjectID> heldInserted;
    std::shared_ptr<Context> parent;
    size_t released = 0;  // objects that went as rows, and their registry entries with them
    {
        std::lock_guard lock(mutex_);
        if (!hasChangesLocked()) return {};
        // Listeners hear of the objects they watch, so those must be objects by now.
        takeWatchedLocked();
        changes = changesLocked(false);
        parent = parent_;
        std::vector<Row> inserted, updated;
        std::vector<ObjectID> deleted;
        // The positions in inserted of the rows of objects that stay, ascending.
        std::vector<uint32_t> kept;
        inserted.reserve(inserted_.size() + heldIndex_.size());
        updated.reserve(changes.updated.size());
        for (const auto& o : changes.deleted) deleted.push_back(o->id_);
        // One pass over the inserted objects, in the order they were inserted. An object that only
        // this context holds gives its state to the batch as a row and goes now, while it is at hand,
        // rather than after the save (nobody could tell it from the object the row makes if the save
        // fails and someone asks). An object someone holds lends its storage to the write (root),
        // which the object takes back afterwards, or hands it to the parent (child).
        const Watched w = watched();
        for (ManagedObjectPtr& o : inserted_) {
            if (!o->inserted_ || o->deleted_) continue;
            if (unreferencedLocked(o, w)) {
                inserted.push_back(releaseUnreferencedLocked(o));
                ++released;
                continue;
            }
            kept.push_back(static_cast<uint32_t>(inserted.size()));
            inserted.push_back(parent ? o->handOverLocked() : Row{o->id_, std::move(o->values_), std::move(o->toOne_)});
            changes.inserted.push_back(o);
        }
        if (released) std::erase(inserted_, nullptr);
        // Held rows travel on as they are, after the objects' rows.
        for (auto& row : held_)
            if (row.id) inserted.push_back(std::move(row));
        // The held rows travel in the batch now: their list and index give their room back before
        // the write (which is when a list's save holds the most); a write that fails holds them again.
        std::vector<Row>().swap(held_);
        heldIndex_.clear();
        if (!parent) {
            for (const auto& o : changes.updated) {
                o->fireFaultLocked();
                updated.push_back(Row{o->id_, std::move(o->values_), std::move(o->toOne_)});
            }
            auto coordinator = persistentStoreCoordinator();
            Coordinator::SaveBatch batch{std::move(inserted), std::move(updated), std::move(deleted), std::move(kept)};
            foundation::Status written =
                coordinator ? coordinator->commit(batch)
                            : foundation::Status(makeError(kNoStoreError, "The context has no coordinator."));
            // The objects take their storage back; the other rows are held again when the write
            // failed, else only their identities stay, for the announcement (the write freed the
            // rest). While the batch was written, the rows were all that held those identities, so
            // the coordinator did not keep them.
            if (!written) {
                held_.reserve(batch.inserted.size() - batch.kept.size());
                heldIndex_.reserve(held_.capacity());
            } else {
                heldInserted.reserve(batch.inserted.size() - batch.kept.size());
            }
            Coordinator::KeptCursor keptRows{batch.kept};
            for (size_t i = 0; i < batch.inserted.size(); ++i) {
                Row& row = batch.inserted[i];
                if (const auto k = keptRows.at(i)) {
                    ManagedObject& o = *changes.inserted[*k];
                    o.values_ = std::move(row.values);
                    o.toOne_ = std::move(row.toOne);
                } else if (!written) {
                    holdRowLocked(std::move(row));
                } else {
                    heldInserted.push_back(std::move(row.id));
                }
            }
            for (size_t i = 0; i < changes.updated.size(); ++i) {
                changes.updated[i]->values_ = std::move(batch.updated[i].values);
                changes.updated[i]->toOne_ = std::move(batch.updated[i].toOne);
            }
            if (!written) return written;
        } else {
            // The parent takes the changed objects' state over rather than a copy of it; here
            // they become faults that read it back from the parent when used again.
            for (const auto& o : changes.updated) updated.push_back(o->handOverLocked());
            heldInserted.reserve(inserted.size() - kept.size());
            Coordinator::KeptCursor keptRows{kept};
            for (size_t i = 0; i < inserted.size(); ++i)
                if (!keptRows.at(i)) heldInserted.push_back(inserted[i].id);
            parent->mergeFromChild(std::move(inserted), std::move(updated), deleted);
        }
        clearChangesLocked();
    }
    announce(ChangeKind::DidSave, changes, heldInserted);
    // What the save wrote no longer needs to stay here: when nobody else holds its objects, their
    // entries (and the registry's room for them) go now rather than at the next sweep. A page of
    // a list is worth it; a save of a few objects is not. The entries of the objects that went as
    // rows are gone already, but their room is not.
    constexpr size_t kSweepAfterSave = 256;
    changes = Changes{};
    std::lock_guard lock(mutex_);
    if (released >= kSweepAfterSave ||
        (registry_.size() >= kSweepAfterSave && registry_.size() >= 2 * registrySwept_)) {
        sweepRegistryLocked();
        registrySweepAt_ = std::max<size_t>(1024, 2 * registry_.size());
    }
    return {};
}

void Context::mergeFromChild(std::vector<Row>&& inserted, std::vector<Row>&& updated,
                             const std::vector<ObjectID>& deleted) {
    Changes changes;
    std::vector<ObjectID> heldInserted;
    changes.inserted.reserve(inserted.size());
    changes.updated.reserve(updated.size());
    {
        std::lock_guard lock(mutex_);
        // A new row is held rather than made into an object when nothing here knows it, no
        // listener watches its entity and no to-one on the other side has to follow it.
        const Watched watchedNow = watched();
        auto holds = [&](const Row& row) HX_REQUIRES(mutex_) {
            if (registeredLocked(row.id.get()) || isHeldLocked(row.id.get())) return false;
            const Entity& e = row.id->entity();
            if (watchedNow.covers(e)) return false;
            return std::none_of(e.relationships().begin(), e.relationships().end(),
                                [](const Relationship& r) { return !r.toMany && !r.inverse->toMany; });
        };
        std::vector<bool> hold(inserted.size()), fresh(inserted.size());
        size_t heldCount = 0;
        for (size_t i = 0; i < inserted.size(); ++i) heldCount += (hold[i] = holds(inserted[i]));
        // Room for every object of the merge at once, rather than rehashing as they arrive, and
        // at most one sweep of released objects for the whole merge.
        const size_t incoming = inserted.size() - heldCount + updated.size() + deleted.size();
        if (registry_.size() + incoming >= registrySweepAt_) {
            sweepRegistryLocked();
            registrySweepAt_ = std::max<size_t>(1024, 2 * (registry_.size() + incoming));
        }
        registry_.reserve(registry_.size() + incoming);
        std::vector<ManagedObject*> objects(inserted.size());
        inserted_.reserve(inserted_.size() + inserted.size() - heldCount);
        // Every inserted object exists before any row is applied, so that a row whose to-one
        // names an object inserted later in the same save still joins its to-many set.
        for (size_t i = 0; i < inserted.size(); ++i) {
            if (hold[i]) continue;
            bool created = false;
            auto object = objectWithIDLocked(inserted[i].id, false, &created);
            objects[i] = object.get();
            fresh[i] = created;
            object->fault_ = false;
            if (!object->inserted_) {
                object->inserted_ = true;
                inserted_.push_back(object);
                for (const auto& r : object->entity().relationships())
                    if (r.toMany && !object->toMany_[r.index]) object->toMany_[r.index].emplace();
            }
            changes.inserted.push_back(std::move(object));
        }
        for (size_t i = 0; i < inserted.size(); ++i) {
            if (hold[i]) continue;
            ManagedObject& object = *objects[i];
            Row& row = inserted[i];
            if (row.packed) row.values = takeValues(row);
            if (fresh[i] && row.values.size() == object.values_.size()) {
                // Nobody has seen the object yet: it takes the row's values whole.
                object.values_ = std::move(row.values);
                row.values.clear();
            }
            applyRowLocked(object, std::move(row), true);
        }
        held_.reserve(held_.size() + heldCount);
        heldIndex_.reserve(heldCount);
        for (size_t i = 0; i < inserted.size(); ++i) {
            if (!hold[i]) continue;
            linkHeldLocked(inserted[i], true);
            heldInserted.push_back(inserted[i].id);
            holdRowLocked(std::move(inserted[i]));
        }
        for (auto& row : updated) {
            if (row.packed) row.values = takeValues(row);
            auto object = objectWithIDLocked(row.id, true);
            if (object->fault_) {
                // Fill from the parent's own source first, so that relationships unlink properly.
                object->fireFaultLocked();
                object->fault_ = false;
            }
            applyRowLocked(*object, std::move(row), true);
            markUpdatedLocked(*object);
            changes.updated.push_back(object);
        }
        for (const auto& id : deleted) {
            auto object = objectWithIDLocked(id, true);
            object->fireFaultLocked();
            if (object->deleted_) continue;
            // The child already applied the delete rules; here the object only leaves the graph.
            object->deleted_ = true;
            if (!object->inserted_) deleted_.push_back(object);
            for (const auto& r : object->entity().relationships()) {
                if (r.toMany || !object->toOne_[r.index]) continue;
                auto other = otherSideLocked(object->toOne_[r.index].get(), r.inverse->toMany);
                if (!other || other->fault_) continue;
                if (r.inverse->toMany) {
                    if (auto& slot = other->toMany_[r.inverse->index]) std::erase(*slot, object->id_);
                } else if (other->toOne_[r.inverse->index] == object->id_) {
                    other->toOne_[r.inverse->index] = nullptr;
                }
                other->notifyObservers(r.inverse->name);
            }
            changes.deleted.push_back(object);
        }
    }
    // Observers of this context hear of the merge on its own queue.
    std::weak_ptr<Context> weak = weak_from_this();
    if (!queue_) {
        announce(ChangeKind::ObjectsDidChange, changes, heldInserted);
        return;
    }
    queue_->async([weak, changes = std::move(changes), heldInserted = std::move(heldInserted)] {
        if (auto self = weak.lock()) self->announce(ChangeKind::ObjectsDidChange, changes, heldInserted);
    });
}

void Context::rollback() {
    std::lock_guard lock(mutex_);
    // Held rows are unsaved inserts as much as inserted objects are.
    std::vector<Row>().swap(held_);
    heldIndex_.clear();
    for (auto* list : {&inserted_, &updated_, &deleted_}) {
        for (auto& o : *list) {
            if (o->inserted_) {
                registry_.erase(o->id_.get());
                o->context_ = nullptr;
                o->inserted_ = false;
                o->deleted_ = true;
                continue;
            }
            o->turningIntoFault_ = true;
            o->updated_ = o->deleted_ = false;
            o->fault_ = true;
            std::fill(o->values_.begin(), o->values_.end(), Value());
            std::fill(o->toOne_.begin(), o->toOne_.end(), nullptr);
            o->turningIntoFault_ = false;
        }
        list->clear();
    }
    // Loaded to-many sets may mention objects that no longer exist; they reload on use.
    registry_.forEach([](const ObjectIdentity*, const std::weak_ptr<ManagedObject>& weak) {
        if (auto o = weak.lock())
            for (auto& slot : o->toMany_) slot.reset();
    });
}

void Context::refreshObject(const ManagedObjectPtr& object, bool mergeChanges) {
    if (!object) return;
    std::lock_guard lock(mutex_);
    if (object->context_ != this) return;
    if (mergeChanges && object->hasChanges()) return;  // keeping the changes keeps the data
    if (object->inserted_) return;                     // nothing to reload from
    object->turningIntoFault_ = true;
    object->updated_ = object->deleted_ = false;
    object->fault_ = true;
    std::fill(object->values_.begin(), object->values_.end(), Value());
    std::fill(object->toOne_.begin(), object->toOne_.end(), nullptr);
    for (auto& slot : object->toMany_) slot.reset();
    object->turningIntoFault_ = false;
}

// ---------------------------------------------------------------- notifications

uint64_t Context::addChangeListener(ChangeListener listener, std::string entityName) {
    std::lock_guard lock(listenersMutex_);
    uint64_t token = nextListener_++;
    listeners_.push_back({token, std::move(entityName), std::move(listener)});
    return token;
}

void Context::removeChangeListener(uint64_t token) {
    std::lock_guard lock(listenersMutex_);
    std::erase_if(listeners_, [&](const auto& l) { return l.token == token; });
}

void Context::announce(ChangeKind kind, const Changes& changes, const std::vector<ObjectID>& heldInserted) {
    if (changes.empty() && heldInserted.empty()) return;
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(listenersMutex_);
        listeners = listeners_;
    }
    for (auto& l : listeners) {
        if (l.entityName.empty()) {
            if (!changes.empty()) l.listener(*this, kind, changes);
            continue;
        }
        Changes mine;
        auto only = [&](const std::vector<ManagedObjectPtr>& from, std::vector<ManagedObjectPtr>& to) {
            for (const auto& o : from)
                if (o->entity().name() == l.entityName) to.push_back(o);
        };
        only(changes.inserted, mine.inserted);
        only(changes.updated, mine.updated);
        only(changes.deleted, mine.deleted);
        if (!mine.empty()) l.listener(*this, kind, mine);
    }
    // A save can name tens of thousands of objects: their URIs are written out only for a
    // notification someone receives.
    foundation::NotificationCenter::defaultCenter().post(
        kind == ChangeKind::DidSave ? kContextDidSaveNotification : kContextObjectsDidChangeNotification,
        shared_from_this(), [&changes, &heldInserted] {
            auto uris = [](const std::vector<ManagedObjectPtr>& objects, const std::vector<ObjectID>& rows = {}) {
                foundation::Array a;
                a.reserve(objects.size() + rows.size());
                for (const auto& o : objects) a.emplace_back(o->objectID()->uriRepresentation());
                for (const auto& id : rows) a.emplace_back(id->uriRepresentation());
                return a;
            };
            foundation::Dictionary info;
            info.set(kInsertedObjectsKey, uris(changes.inserted, heldInserted));
            info.set(kUpdatedObjectsKey, uris(changes.updated));
            info.set(kDeletedObjectsKey, uris(changes.deleted));
            return info;
        });
}

}  // namespace store
