// Predicates parsed from the format strings the app writes ("isTrash == NO AND type IN %@",
// "ANY Messages.message contains[cd] %@", "lastdate BETWEEN {$FIRST, $LAST}"): a small
// immutable tree that is evaluated in memory against key-value sources and translated to SQL by
// the store (sql_plan.h). Both paths share the comparison helpers below, so they agree.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"

namespace store {

enum class ComparisonOp : uint8_t {
    Equal,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    In,
    Between,
    Contains,
    BeginsWith,
    EndsWith,
    Like
};
enum class ComparisonModifier : uint8_t { Direct, Any, All, None };
// [c], [d] and [cd] after a string operator.
enum ComparisonOption : uint8_t { CaseInsensitive = 1, DiacriticInsensitive = 2 };

struct Expression {
    enum class Kind : uint8_t { KeyPath, Constant, Variable, Aggregate, Self };
    Kind kind = Kind::Constant;
    std::vector<std::string> keyPath;
    foundation::Value constant;
    std::string variable;
    std::vector<Expression> elements;

    friend bool operator==(const Expression&, const Expression&) = default;
};

struct PredicateNode {
    enum class Kind : uint8_t { True, False, And, Or, Not, Comparison };
    Kind kind = Kind::True;
    std::vector<PredicateNode> children;
    // Comparison
    Expression lhs, rhs;
    ComparisonOp op = ComparisonOp::Equal;
    ComparisonModifier modifier = ComparisonModifier::Direct;
    uint8_t options = 0;

    friend bool operator==(const PredicateNode&, const PredicateNode&) = default;
};

// What a key path is resolved against: a managed object, a dictionary, ...
class KeyValueSource {
public:
    virtual ~KeyValueSource() = default;
    // Appends the value(s) at keyPath to out; sets many when the path crossed a collection
    // (a to-many relationship or an array), in which case out holds one value per element.
    virtual void resolve(const std::vector<std::string>& keyPath, std::vector<foundation::Value>& out,
                         bool& many) const = 0;
    // The value of SELF (a dictionary source returns itself; an object returns its URI).
    virtual foundation::Value self() const { return {}; }
};

// Resolves key paths through dictionaries, and through arrays element by element.
class ValueSource : public KeyValueSource {
public:
    explicit ValueSource(const foundation::Value& value) : value_(value) {}
    void resolve(const std::vector<std::string>& keyPath, std::vector<foundation::Value>& out,
                 bool& many) const override;
    foundation::Value self() const override { return value_; }

private:
    const foundation::Value& value_;
};

class Predicate {
public:
    // Parses format, taking %@ / %K / %d / %f ... arguments in order.
    static foundation::Result<Predicate> parse(std::string_view format, const foundation::Array& arguments = {});
    static Predicate fromNode(PredicateNode node);
    static Predicate truePredicate();

    // A copy with every $VARIABLE replaced; an error names the first missing one.
    foundation::Result<Predicate> withSubstitutionVariables(const foundation::Dictionary& variables) const;
    bool hasVariables() const;

    bool evaluate(const KeyValueSource& source) const;
    bool evaluate(const foundation::Value& object) const { return evaluate(ValueSource(object)); }

    // Canonical text that parses back to an equal predicate.
    std::string format() const;
    const PredicateNode& root() const { return *root_; }

    friend bool operator==(const Predicate& a, const Predicate& b) { return *a.root_ == *b.root_; }

    // The texts of a long constant IN list, for lookups without a walk through the list.
    struct Membership;

private:
    explicit Predicate(std::shared_ptr<const PredicateNode> root);
    std::shared_ptr<const PredicateNode> root_;
    // Per comparison node of the tree that has one (the tree never changes, so its nodes'
    // addresses are stable keys).
    std::shared_ptr<const std::vector<std::pair<const PredicateNode*, std::shared_ptr<const Membership>>>> memberships_;
};

// ---- Comparison helpers shared by the in-memory evaluator and the SQL functions.

// The order SQLite gives values: null < numbers (bool, integer, double, date) < text < data
// (< arrays, dictionaries, which never reach SQL). 0 when equal.
int compareValues(const foundation::Value& a, const foundation::Value& b);
// == of the store: null equals null, numbers compare by value.
bool valuesEqual(const foundation::Value& a, const foundation::Value& b);
// A string operator (Equal ... Like) on two strings with [c]/[d] options.
bool compareStrings(ComparisonOp op, uint8_t options, std::string_view lhs, std::string_view rhs);
// One scalar comparison as the evaluator does it (Direct modifier, lhs not a collection).
bool compareScalar(ComparisonOp op, uint8_t options, const foundation::Value& lhs, const foundation::Value& rhs);

const char* comparisonOpName(ComparisonOp op);

}  // namespace store
