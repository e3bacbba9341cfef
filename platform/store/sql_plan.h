// From a predicate and sort descriptors to SQL: the part of the predicate SQLite can answer
// (with the same null and string rules as the in-memory evaluator), the rest kept for memory.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/store/predicate.h"

namespace store {

class Entity;
struct SortDescriptor;

struct SqlPlan {
    std::string where;  // empty: every row; the main table's alias is t0
    std::vector<foundation::Value> params;
    std::optional<Predicate> residual;  // still to be checked in memory
    std::string orderBy;                // empty: no SQL order
    bool sortInMemory = false;          // a sort key SQL cannot express
    // Where every sort key is an attribute of the entity itself: their attribute numbers, and
    // orderBy without its last key, the row number that orders equal keys. A reader of every
    // matching row may order the rows of equal keys itself rather than have SQLite sort by one
    // more column (with a limit or an offset, SQL must: ties decide which rows are in the page).
    std::vector<int> sortAttributes;
    std::string orderByKeys;
};

// Checks the predicate's key paths against entity and converts constants to the attribute
// types they meet, so that SQL and memory compare the same values.
foundation::Result<Predicate> bindPredicate(const Predicate& predicate, const Entity& entity);

// Plans a query over entity; forceMemory keeps the whole predicate in memory (used by tests
// to check that both paths agree).
SqlPlan planQuery(const Entity& entity, const std::optional<Predicate>& bound, const std::vector<SortDescriptor>& sort,
                  bool forceMemory = false);

std::string quoteIdentifier(const std::string& name);

// The name of the SQL function that evaluates string operators: hx_str(op, options, lhs, rhs).
inline constexpr const char* kStringFunction = "hx_str";

}  // namespace store
