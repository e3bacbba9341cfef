#include "platform/store/managed_object.h"

#include <cstdlib>

#include "platform/store/context.h"
#include "platform/store/store_error.h"

namespace store {

using foundation::Value;

std::string ObjectIdentity::uriRepresentation() const {
    // Built in one buffer: saves announce a URI for every object they touch.
    const int64_t pk = primaryKey();
    const std::string number = pk ? std::to_string(pk) : std::to_string(temporaryNumber_);
    std::string uri;
    uri.reserve(16 + storeIdentifier_->size() + entity_->name().size() + number.size());
    uri.append("x-hxstore://").append(*storeIdentifier_).append("/").append(entity_->name()).append("/");
    uri.push_back(pk ? 'p' : 't');
    uri.append(number);
    return uri;
}

namespace {

// Whether v is already what an attribute of type holds (the common case, checked without
// moving the value through the conversion).
bool isNormalized(AttributeType type, const Value& v) {
    switch (type) {
        case AttributeType::String:
            return v.isNull() || v.isString();
        case AttributeType::Boolean:
            return v.isNull() || v.isBool();
        case AttributeType::Integer16:
            return v.isNull() || (v.isInt() && *v.ifInt() == static_cast<int16_t>(*v.ifInt()));
        case AttributeType::Integer32:
            return v.isNull() || (v.isInt() && *v.ifInt() == static_cast<int32_t>(*v.ifInt()));
        case AttributeType::Integer64:
            return v.isNull() || v.isInt();
        case AttributeType::Double:
            return v.isNull() || v.isDouble();
        case AttributeType::Date:
            return v.isNull() || v.isDate();
        case AttributeType::Transformable:
            return true;
    }
    return false;
}

}  // namespace

Value normalizeAttributeValue(AttributeType type, Value v) {
    if (isNormalized(type, v)) return v;
    switch (type) {
        case AttributeType::String:
            if (v.isString()) return v;
            if (v.isInt() || v.isDouble() || v.isBool()) return v.stringValue();
            return {};
        case AttributeType::Boolean:
            if (v.isBool()) return v;
            if (v.isNumber() || v.isString()) return v.boolValue();
            return {};
        case AttributeType::Integer16:
            if (v.isNumber() || v.isBool() || v.isString())
                return static_cast<int64_t>(static_cast<int16_t>(v.int64Value()));
            return {};
        case AttributeType::Integer32:
            if (v.isNumber() || v.isBool() || v.isString()) return static_cast<int64_t>(v.int32Value());
            return {};
        case AttributeType::Integer64:
            if (v.isNumber() || v.isBool() || v.isString()) return v.int64Value();
            return {};
        case AttributeType::Double:
            if (v.isDouble()) return v;
            if (v.isNumber() || v.isBool() || v.isString()) return v.doubleValue();
            return {};
        case AttributeType::Date:
            if (v.isDate()) return v;
            if (v.isNumber()) return foundation::Date{v.doubleValue()};
            return {};
        case AttributeType::Transformable:
            return v;
    }
    return {};
}

std::vector<Value> takeValues(Row& row) {
    if (!row.packed) return std::move(row.values);
    std::vector<Value> values = row.packed.unpack();
    row.packed = {};
    return values;
}

Row unpackedCopy(const Row& row) { return Row{row.id, row.packed ? row.packed.unpack() : row.values, row.toOne, {}}; }

ManagedObject::ManagedObject(Context* context, ObjectID id, bool fault, std::vector<foundation::Value>&& values)
    : context_(context), id_(std::move(id)), values_(std::move(values)), fault_(fault) {
    const Entity& e = id_->entity();
    values_.resize(e.attributes().size());
    toOne_.resize(e.toOneSlots());
    // Indexed by relationship number but used only for to-many ones: most objects (messages)
    // have none and need no slots.
    if (e.hasToMany()) toMany_.resize(e.relationships().size());
}

ManagedObject::~ManagedObject() = default;

std::shared_ptr<Context> ManagedObject::managedObjectContext() const {
    return context_ ? context_->weak_from_this().lock() : nullptr;
}

// Locks the owning context (when there is one) for the length of an accessor: a child
// context reads this object from its own thread.
// Held for the scope when there is a context; with none there is nothing of a context to touch,
// so the analysis may count the lock as held either way.
class HX_SCOPED_CAPABILITY ManagedObject::ContextLock {
public:
    explicit ContextLock(Context* context) HX_ACQUIRE(context->mutex_) HX_NO_THREAD_SAFETY_ANALYSIS
        : context_(context) {
        if (context_) context_->mutex_.lock();
    }
    ~ContextLock() HX_RELEASE() HX_NO_THREAD_SAFETY_ANALYSIS {
        if (context_) context_->mutex_.unlock();
    }
    ContextLock(const ContextLock&) = delete;
    ContextLock& operator=(const ContextLock&) = delete;

private:
    Context* context_;
};

#define HX_LOCK_CONTEXT() ContextLock contextLock_(context_)

bool ManagedObject::isFault() const {
    HX_LOCK_CONTEXT();
    return fault_;
}
bool ManagedObject::isTurningIntoFault() const {
    HX_LOCK_CONTEXT();
    return turningIntoFault_;
}
bool ManagedObject::isInserted() const {
    HX_LOCK_CONTEXT();
    return inserted_ && !deleted_;
}
bool ManagedObject::isUpdated() const {
    HX_LOCK_CONTEXT();
    return updated_ && !inserted_ && !deleted_;
}
bool ManagedObject::isDeleted() const {
    HX_LOCK_CONTEXT();
    return deleted_;
}
bool ManagedObject::hasChanges() const {
    HX_LOCK_CONTEXT();
    return (inserted_ != deleted_) || (updated_ && !inserted_);
}

void ManagedObject::ensureStorageLocked() const HX_NO_THREAD_SAFETY_ANALYSIS {
    const Entity& e = entity();
    if (values_.size() != e.attributes().size()) values_.resize(e.attributes().size());
    if (toOne_.size() != e.toOneSlots()) toOne_.resize(e.toOneSlots());
}

void ManagedObject::loadFaultLocked() const HX_NO_THREAD_SAFETY_ANALYSIS {
    ensureStorageLocked();
    if (!fault_ || !context_) return;
    auto row = context_->rowForLocked(id_);
    if (!row) return;  // the row is gone: the object reads as empty
    fault_ = false;
    auto* self = const_cast<ManagedObject*>(this);
    context_->applyRowLocked(*self, row.value(), false);
}

Row ManagedObject::snapshotLocked() const HX_NO_THREAD_SAFETY_ANALYSIS {
    fireFaultLocked();
    Row row;
    row.id = id_;
    row.values = values_;
    row.toOne = toOne_;
    return row;
}

Row ManagedObject::handOverLocked() HX_NO_THREAD_SAFETY_ANALYSIS {
    fireFaultLocked();
    Row row{id_, std::move(values_), std::move(toOne_)};
    // Left empty until the fault fires (ensureStorageLocked), which most given-away objects never do.
    values_.clear();
    toOne_.clear();
    for (auto& slot : toMany_) slot.reset();
    fault_ = true;
    return row;
}

Value ManagedObject::value(std::string_view key) const {
    int i = entity().attributeIndex(key);
    return i < 0 ? Value() : valueAt(i);
}

Value ManagedObject::valueAt(int index) const {
    HX_LOCK_CONTEXT();
    fireFaultLocked();
    if (index < 0 || static_cast<size_t>(index) >= values_.size()) return {};
    return values_[index];
}

foundation::Status ManagedObject::setValue(std::string_view key, Value value) {
    int i = entity().attributeIndex(key);
    if (i < 0)
        return makeError(kInvalidRequestError,
                         "The entity " + entity().name() + " has no attribute " + std::string(key) + ".");
    HX_LOCK_CONTEXT();
    fireFaultLocked();
    setValueAtLocked(i, std::move(value));
    return {};
}

void ManagedObject::setValueAt(int index, Value value) {
    HX_LOCK_CONTEXT();
    fireFaultLocked();
    setValueAtLocked(index, std::move(value));
}

void ManagedObject::setValuesAt(std::span<std::pair<int, Value>> values) {
    HX_LOCK_CONTEXT();
    fireFaultLocked();
    for (auto& [index, value] : values) setValueAtLocked(index, std::move(value));
}

void ManagedObject::setValueAtLocked(int index, Value&& value) HX_NO_THREAD_SAFETY_ANALYSIS {
    if (index < 0 || static_cast<size_t>(index) >= values_.size()) return;
    const Attribute& attribute = entity().attributes()[index];
    if (!isNormalized(attribute.type, value)) value = normalizeAttributeValue(attribute.type, std::move(value));
    Value& slot = values_[index];
    if (slot.type() == value.type() && slot == value) return;
    slot = std::move(value);
    if (context_) context_->markUpdatedLocked(*this);
    notifyObservers(attribute.name);
}

std::shared_ptr<ManagedObject> ManagedObject::object(std::string_view key) const {
    const Relationship* r = entity().relationship(key);
    if (!r || r->toMany) return nullptr;
    HX_LOCK_CONTEXT();
    fireFaultLocked();
    const ObjectID& target = toOne_[r->index];
    if (!target || !context_) return nullptr;
    return context_->objectWithIDLocked(target, true);
}

foundation::Status ManagedObject::canLink(const Relationship& r, const ManagedObject* target, const Context* context) {
    if (target && &target->entity() != r.destination)
        return makeError(kInvalidRequestError, "Relationship " + r.name + " takes " + r.destinationName + ".");
    if (!context || (target && target->context_ != context))
        return makeError(kInvalidRequestError, "Both objects must live in the same context.");
    return {};
}

foundation::Status ManagedObject::setObject(std::string_view key, const std::shared_ptr<ManagedObject>& target) {
    const Relationship* r = entity().relationship(key);
    if (!r || r->toMany)
        return makeError(kInvalidRequestError,
                         "The entity " + entity().name() + " has no to-one relationship " + std::string(key) + ".");
    if (auto refused = canLink(*r, target.get(), context_); !refused) return refused;
    std::lock_guard lock(context_->mutex_);
    fireFaultLocked();
    context_->setToOneLocked(*this, *r, target ? target->id_ : nullptr, true, true);
    return {};
}

std::vector<std::shared_ptr<ManagedObject>> ManagedObject::objects(std::string_view key) const {
    const Relationship* r = entity().relationship(key);
    std::vector<std::shared_ptr<ManagedObject>> out;
    if (!r || !r->toMany || !context_) return out;
    HX_LOCK_CONTEXT();
    fireFaultLocked();
    auto& slot = toMany_[r->index];
    if (!slot) {
        auto ids = context_->toManyLocked(id_, *r, false);
        if (!ids) return out;
        slot = std::move(ids.value());
    }
    out.reserve(slot->size());
    for (const auto& id : *slot) out.push_back(context_->objectWithIDLocked(id, true));
    return out;
}

foundation::Status ManagedObject::addObject(std::string_view key, const std::shared_ptr<ManagedObject>& member) {
    const Relationship* r = entity().relationship(key);
    if (!r || !r->toMany || !member)
        return makeError(kInvalidRequestError,
                         "The entity " + entity().name() + " has no to-many relationship " + std::string(key) + ".");
    return member->setObject(r->inverse->name, shared_from_this());
}

foundation::Status ManagedObject::removeObject(std::string_view key, const std::shared_ptr<ManagedObject>& member) {
    const Relationship* r = entity().relationship(key);
    if (!r || !r->toMany || !member)
        return makeError(kInvalidRequestError,
                         "The entity " + entity().name() + " has no to-many relationship " + std::string(key) + ".");
    auto current = member->object(r->inverse->name);
    if (current.get() != this) return {};
    return member->setObject(r->inverse->name, nullptr);
}

Value ManagedObject::valueForKeyPath(std::string_view keyPath) const {
    std::vector<std::string> path;
    size_t start = 0;
    while (true) {
        size_t dot = keyPath.find('.', start);
        path.emplace_back(keyPath.substr(start, dot - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    std::vector<Value> out;
    bool many = false;
    resolve(path, out, many);
    if (many) return foundation::Array(out.begin(), out.end());
    return out.empty() ? Value() : std::move(out[0]);
}

uint64_t ManagedObject::addObserver(std::string key, Observer observer) {
    HX_LOCK_CONTEXT();
    static std::atomic<uint64_t> next{1};
    uint64_t token = next++;
    if (!observers_) observers_ = std::make_unique<std::vector<ObserverEntry>>();
    observers_->push_back({token, std::move(key), std::move(observer)});
    return token;
}

void ManagedObject::removeObserver(uint64_t token) {
    HX_LOCK_CONTEXT();
    if (observers_) std::erase_if(*observers_, [&](const ObserverEntry& e) { return e.token == token; });
}

void ManagedObject::notifyObservers(const std::string& key) {
    if (!isObservedLocked()) return;
    std::vector<Observer> handlers;
    for (const auto& e : *observers_)
        if (e.key == key) handlers.push_back(e.handler);
    for (auto& h : handlers) h(*this, key);
}

// ---- predicate source

namespace {

void resolveFrom(const ManagedObject* object, const std::vector<std::string>& path, size_t i, std::vector<Value>& out,
                 bool& many) {
    if (!object) {
        out.emplace_back();
        return;
    }
    if (i >= path.size()) {
        out.emplace_back(object->objectID()->uriRepresentation());
        return;
    }
    const Entity& e = object->entity();
    const std::string& key = path[i];
    int a = e.attributeIndex(key);
    if (a >= 0) {
        Value v = object->valueAt(a);
        if (i + 1 == path.size()) {
            out.push_back(std::move(v));
            return;
        }
        std::vector<std::string> rest(path.begin() + static_cast<long>(i) + 1, path.end());
        ValueSource(v).resolve(rest, out, many);
        return;
    }
    if (const Relationship* r = e.relationship(key)) {
        if (!r->toMany) {
            auto target = object->object(key);
            resolveFrom(target.get(), path, i + 1, out, many);
            return;
        }
        many = true;
        for (const auto& member : object->objects(key)) resolveFrom(member.get(), path, i + 1, out, many);
        return;
    }
    if (key == "entity" && i + 2 == path.size() && path[i + 1] == "name") {
        out.emplace_back(e.name());
        return;
    }
    out.emplace_back();
}

}  // namespace

void ManagedObject::resolve(const std::vector<std::string>& keyPath, std::vector<Value>& out, bool& many) const {
    resolveFrom(this, keyPath, 0, out, many);
}

Value ManagedObject::self() const { return objectID()->uriRepresentation(); }

}  // namespace store
