// The object model, declared in C++: entities with typed attributes, inverse to-one/to-many
// relationships, indexes and fetch-request templates with substitution variables. A model is
// built once, finished with finish(), and then shared read-only by every thread.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/store/predicate.h"

namespace store {

enum class AttributeType { String, Boolean, Date, Integer16, Integer32, Integer64, Double, Transformable };

const char* attributeTypeName(AttributeType type);

struct Attribute {
    std::string name;
    AttributeType type = AttributeType::String;
    foundation::Value defaultValue;  // given to new objects
    bool indexed = false;
};

enum class DeleteRule { Nullify, Cascade, Deny };

struct Relationship {
    std::string name;
    std::string destinationName;
    std::string inverseName;
    bool toMany = false;
    DeleteRule deleteRule = DeleteRule::Nullify;

    // Resolved by Model::finish().
    const class Entity* destination = nullptr;
    const Relationship* inverse = nullptr;
    int index = -1;  // position among the entity's relationships
};

class Entity {
public:
    explicit Entity(std::string name) : name_(std::move(name)) {}

    Entity& attribute(std::string name, AttributeType type, foundation::Value defaultValue = {}, bool indexed = false);
    Entity& toOne(std::string name, std::string destination, std::string inverse,
                  DeleteRule rule = DeleteRule::Nullify);
    Entity& toMany(std::string name, std::string destination, std::string inverse,
                   DeleteRule rule = DeleteRule::Nullify);
    // A compound index over attributes (lists that filter on one and sort on another).
    Entity& index(std::vector<std::string> attributes);

    const std::string& name() const { return name_; }
    const std::vector<Attribute>& attributes() const { return attributes_; }
    const std::vector<Relationship>& relationships() const { return relationships_; }
    const std::vector<std::vector<std::string>>& compoundIndexes() const { return indexes_; }
    // The number of the entity in its model (its position).
    int number() const { return number_; }

    // -1 when absent.
    int attributeIndex(std::string_view name) const;
    const Relationship* relationship(std::string_view name) const;

    // What a new object of the entity starts with: each attribute's default, normalised to the
    // attribute's type (null where there is none).
    const std::vector<foundation::Value>& initialValues() const { return initialValues_; }
    // The positions of the attributes whose initial value is not null: a new object starts with
    // nulls and takes these alone.
    const std::vector<int>& givenInitialValues() const { return givenInitialValues_; }
    // The to-one slots an object of the entity keeps, by relationship number: all of them when
    // any relationship is to-one, none otherwise (a conversation needs no array for them).
    size_t toOneSlots() const { return toOneSlots_; }
    bool hasToMany() const { return hasToMany_; }

private:
    friend class Model;
    Entity& addRelationship(std::string name, std::string destination, std::string inverse, DeleteRule rule,
                            bool toMany);
    std::string name_;
    std::vector<Attribute> attributes_;
    std::vector<Relationship> relationships_;
    std::vector<std::vector<std::string>> indexes_;
    int number_ = -1;
    // Attribute positions by name, made when the model is finished (the names no longer move).
    std::unordered_map<std::string_view, int> attributeIndexes_;
    // Kept as attributes and relationships are declared: every new object reads them.
    std::vector<foundation::Value> initialValues_;
    std::vector<int> givenInitialValues_;
    size_t toOneSlots_ = 0;
    bool hasToMany_ = false;
};

struct SortDescriptor {
    std::string keyPath;
    bool ascending = true;
};

struct FetchRequest {
    std::string entityName;
    std::optional<Predicate> predicate;
    std::vector<SortDescriptor> sortDescriptors;
    size_t fetchLimit = 0;  // 0: no limit
    size_t fetchOffset = 0;
    size_t fetchBatchSize = 0;  // a hint: rows are read in one pass either way
    // Hints kept for callers that set them; every attribute is read and to-one targets are
    // resolved on access.
    std::vector<std::string> propertiesToFetch;
    std::vector<std::string> relationshipKeyPathsForPrefetching;

    FetchRequest() = default;
    explicit FetchRequest(std::string entity) : entityName(std::move(entity)) {}
};

class Model {
public:
    Entity& entity(std::string name);
    // A named template: a request on entity whose predicate may hold $VARIABLES.
    foundation::Status addFetchRequestTemplate(std::string name, std::string entityName,
                                               std::string_view predicateFormat);

    // Resolves relationships and their inverses; the model is read-only afterwards.
    foundation::Status finish();
    bool finished() const { return finished_; }

    const Entity* entityNamed(std::string_view name) const;
    const std::vector<std::unique_ptr<Entity>>& entities() const { return entities_; }

    // The template with its variables replaced; an error for an unknown name or a missing
    // variable.
    foundation::Result<FetchRequest> fetchRequestFromTemplate(const std::string& name,
                                                              const foundation::Dictionary& variables) const;
    const FetchRequest* fetchRequestTemplate(const std::string& name) const;

private:
    std::vector<std::unique_ptr<Entity>> entities_;
    std::unordered_map<std::string, Entity*> byName_;
    std::map<std::string, FetchRequest> templates_;
    bool finished_ = false;
};

using ModelPtr = std::shared_ptr<const Model>;

}  // namespace store
