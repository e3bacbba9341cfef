#include "platform/store/model.h"

#include "platform/store/managed_object.h"
#include "platform/store/store_error.h"

namespace store {

const char* attributeTypeName(AttributeType type) {
    switch (type) {
        case AttributeType::String:
            return "String";
        case AttributeType::Boolean:
            return "Boolean";
        case AttributeType::Date:
            return "Date";
        case AttributeType::Integer16:
            return "Integer16";
        case AttributeType::Integer32:
            return "Integer32";
        case AttributeType::Integer64:
            return "Integer64";
        case AttributeType::Double:
            return "Double";
        case AttributeType::Transformable:
            return "Transformable";
    }
    return "?";
}

Entity& Entity::attribute(std::string name, AttributeType type, foundation::Value defaultValue, bool indexed) {
    attributeIndexes_.clear();  // the names may move
    initialValues_.push_back(normalizeAttributeValue(type, defaultValue));
    if (!initialValues_.back().isNull()) givenInitialValues_.push_back(static_cast<int>(initialValues_.size() - 1));
    attributes_.push_back(Attribute{std::move(name), type, std::move(defaultValue), indexed});
    return *this;
}

Entity& Entity::addRelationship(std::string name, std::string destination, std::string inverse, DeleteRule rule,
                                bool toMany) {
    Relationship r;
    r.name = std::move(name);
    r.destinationName = std::move(destination);
    r.inverseName = std::move(inverse);
    r.toMany = toMany;
    r.deleteRule = rule;
    r.index = static_cast<int>(relationships_.size());
    relationships_.push_back(std::move(r));
    hasToMany_ = hasToMany_ || toMany;
    // Once one is to-one, every relationship has a slot.
    if (!toMany || toOneSlots_ > 0) toOneSlots_ = relationships_.size();
    return *this;
}

Entity& Entity::toOne(std::string name, std::string destination, std::string inverse, DeleteRule rule) {
    return addRelationship(std::move(name), std::move(destination), std::move(inverse), rule, false);
}

Entity& Entity::toMany(std::string name, std::string destination, std::string inverse, DeleteRule rule) {
    return addRelationship(std::move(name), std::move(destination), std::move(inverse), rule, true);
}

Entity& Entity::index(std::vector<std::string> attributes) {
    indexes_.push_back(std::move(attributes));
    return *this;
}

// Every setValue by name asks: up to a few dozen names, a scan that compares lengths first beats
// hashing the name.
int Entity::attributeIndex(std::string_view name) const {
    constexpr size_t kScanned = 24;
    if (!attributeIndexes_.empty() && attributes_.size() > kScanned) {
        auto found = attributeIndexes_.find(name);
        return found == attributeIndexes_.end() ? -1 : found->second;
    }
    for (size_t i = 0; i < attributes_.size(); ++i)
        if (attributes_[i].name.size() == name.size() && attributes_[i].name == name) return static_cast<int>(i);
    return -1;
}

const Relationship* Entity::relationship(std::string_view name) const {
    for (const auto& r : relationships_)
        if (r.name == name) return &r;
    return nullptr;
}

Entity& Model::entity(std::string name) {
    auto it = byName_.find(name);
    if (it != byName_.end()) return *it->second;
    entities_.push_back(std::make_unique<Entity>(name));
    Entity* e = entities_.back().get();
    e->number_ = static_cast<int>(entities_.size() - 1);
    byName_[std::move(name)] = e;
    return *e;
}

foundation::Status Model::addFetchRequestTemplate(std::string name, std::string entityName,
                                                  std::string_view predicateFormat) {
    auto predicate = Predicate::parse(predicateFormat);
    if (!predicate) return predicate.error();
    FetchRequest request(std::move(entityName));
    request.predicate = std::move(predicate.value());
    templates_[std::move(name)] = std::move(request);
    return {};
}

foundation::Status Model::finish() {
    for (auto& e : entities_) {
        for (auto& r : e->relationships_) {
            auto dest = byName_.find(r.destinationName);
            if (dest == byName_.end())
                return makeError(kInvalidRequestError, "Relationship " + e->name_ + "." + r.name +
                                                           " names the unknown entity " + r.destinationName + ".");
            r.destination = dest->second;
            r.inverse = dest->second->relationship(r.inverseName);
            if (!r.inverse)
                return makeError(kInvalidRequestError,
                                 "Relationship " + e->name_ + "." + r.name + " has no inverse " + r.inverseName + ".");
            // Rows keep a to-one relationship as a column; a to-many one is the inverse column
            // seen from the other side, so many-to-many has no place to live.
            if (r.toMany && r.inverse->toMany)
                return makeError(kInvalidRequestError,
                                 "Many-to-many relationship " + e->name_ + "." + r.name + " is not supported.");
        }
        for (const auto& index : e->indexes_)
            for (const auto& a : index)
                if (e->attributeIndex(a) < 0 && !e->relationship(a))
                    return makeError(kInvalidRequestError, "Index on unknown key " + e->name_ + "." + a + ".");
    }
    for (auto& e : entities_) {
        e->attributeIndexes_.clear();
        for (size_t i = 0; i < e->attributes_.size(); ++i)
            e->attributeIndexes_.emplace(e->attributes_[i].name, static_cast<int>(i));
    }
    for (const auto& [name, request] : templates_)
        if (!entityNamed(request.entityName))
            return makeError(kInvalidRequestError,
                             "Template " + name + " names the unknown entity " + request.entityName + ".");
    finished_ = true;
    return {};
}

const Entity* Model::entityNamed(std::string_view name) const {
    for (const auto& e : entities_)
        if (e->name() == name) return e.get();
    return nullptr;
}

foundation::Result<FetchRequest> Model::fetchRequestFromTemplate(const std::string& name,
                                                                 const foundation::Dictionary& variables) const {
    auto it = templates_.find(name);
    if (it == templates_.end()) return makeError(kInvalidRequestError, "No fetch request template named " + name + ".");
    FetchRequest request = it->second;
    if (request.predicate) {
        auto p = request.predicate->withSubstitutionVariables(variables);
        if (!p) return p.error();
        request.predicate = std::move(p.value());
    }
    return request;
}

const FetchRequest* Model::fetchRequestTemplate(const std::string& name) const {
    auto it = templates_.find(name);
    return it == templates_.end() ? nullptr : &it->second;
}

}  // namespace store
