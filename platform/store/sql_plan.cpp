#include "platform/store/sql_plan.h"

#include <algorithm>
#include <cstdlib>

#include "platform/store/model.h"
#include "platform/store/store_error.h"

namespace store {

using foundation::Value;

std::string quoteIdentifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

namespace {

// ---------------------------------------------------------------- binding

struct PathInfo {
    bool valid = true;
    bool crossesToMany = false;
    std::optional<AttributeType> type;  // the attribute at the end, if any
};

PathInfo describePath(const Entity& entity, const std::vector<std::string>& path, std::string& error) {
    PathInfo info;
    const Entity* e = &entity;
    for (size_t i = 0; i < path.size(); ++i) {
        const std::string& key = path[i];
        if (!e) return info;  // inside a transformable value: any key is fine
        int a = e->attributeIndex(key);
        if (a >= 0) {
            info.type = e->attributes()[a].type;
            if (i + 1 < path.size()) {
                if (*info.type != AttributeType::Transformable) {
                    error = "the key path " + key + " of " + e->name() + " is not a relationship";
                    info.valid = false;
                    return info;
                }
                info.type.reset();
                e = nullptr;
            }
            continue;
        }
        if (const Relationship* r = e->relationship(key)) {
            if (r->toMany) info.crossesToMany = true;
            e = r->destination;
            continue;
        }
        if (key == "entity" && i + 1 < path.size() && path[i + 1] == "name" && i + 2 == path.size()) {
            info.type = AttributeType::String;
            return info;
        }
        error = "keypath " + key + " not found in entity " + e->name();
        info.valid = false;
        return info;
    }
    return info;
}

Value coerce(const Value& v, AttributeType type) {
    switch (type) {
        case AttributeType::String:
            if (v.isInt() || v.isDouble() || v.isBool()) return v.stringValue();
            return v;
        case AttributeType::Boolean:
        case AttributeType::Integer16:
        case AttributeType::Integer32:
        case AttributeType::Integer64:
            if (v.isString()) {
                const std::string& s = v.asString();
                char* end = nullptr;
                long long n = std::strtoll(s.c_str(), &end, 10);
                if (!s.empty() && end && *end == 0) return static_cast<int64_t>(n);
            }
            return v;
        case AttributeType::Double:
            if (v.isString()) {
                const std::string& s = v.asString();
                char* end = nullptr;
                double d = std::strtod(s.c_str(), &end);
                if (!s.empty() && end && *end == 0) return d;
            }
            return v;
        default:
            return v;
    }
}

Value coerceDeep(const Value& v, AttributeType type) {
    if (auto a = v.ifArray()) {
        foundation::Array out;
        out.reserve(a->size());
        for (const auto& e : *a) out.push_back(coerce(e, type));
        return out;
    }
    return coerce(v, type);
}

bool bindNode(PredicateNode& n, const Entity& entity, std::string& error) {
    for (auto& c : n.children)
        if (!bindNode(c, entity, error)) return false;
    if (n.kind != PredicateNode::Kind::Comparison) return true;
    std::optional<AttributeType> type;
    for (Expression* side : {&n.lhs, &n.rhs}) {
        if (side->kind != Expression::Kind::KeyPath) continue;
        PathInfo info = describePath(entity, side->keyPath, error);
        if (!info.valid) return false;
        if (info.type) type = info.type;
    }
    if (type && *type != AttributeType::Transformable) {
        if (n.lhs.kind == Expression::Kind::Constant) n.lhs.constant = coerceDeep(n.lhs.constant, *type);
        if (n.rhs.kind == Expression::Kind::Constant) n.rhs.constant = coerceDeep(n.rhs.constant, *type);
    }
    return true;
}

// ---------------------------------------------------------------- SQL generation

struct Gen {
    const Entity& root;
    std::vector<Value> params;
    int aliases = 1;

    std::string param(const Value& v) {
        params.push_back(v);
        return "?";
    }

    // The SQL of a scalar key path (attributes, to-one hops, entity.name); nullopt when SQL
    // cannot produce it.
    std::optional<std::string> column(const Entity& e, const std::string& alias, const std::vector<std::string>& path,
                                      size_t from, bool* stringTyped) {
        if (from >= path.size()) return std::nullopt;
        const std::string& key = path[from];
        int a = e.attributeIndex(key);
        if (a >= 0) {
            if (from + 1 != path.size()) return std::nullopt;
            AttributeType t = e.attributes()[a].type;
            if (t == AttributeType::Transformable) return std::nullopt;
            if (stringTyped) *stringTyped = t == AttributeType::String;
            return alias + "." + quoteIdentifier(key);
        }
        if (const Relationship* r = e.relationship(key)) {
            if (r->toMany) return std::nullopt;
            if (from + 1 == path.size()) {
                if (stringTyped) *stringTyped = false;
                return alias + "." + quoteIdentifier(key);
            }
            std::string inner = "t" + std::to_string(aliases++);
            auto sub = column(*r->destination, inner, path, from + 1, stringTyped);
            if (!sub) return std::nullopt;
            return "(SELECT " + *sub + " FROM " + quoteIdentifier(r->destination->name()) + " " + inner + " WHERE " +
                   inner + ".Z_PK = " + alias + "." + quoteIdentifier(key) + ")";
        }
        if (key == "entity" && from + 2 == path.size() && path[from + 1] == "name") {
            if (stringTyped) *stringTyped = true;
            return param(e.name());
        }
        return std::nullopt;
    }

    static ComparisonOp mirrored(ComparisonOp op) {
        switch (op) {
            case ComparisonOp::Less:
                return ComparisonOp::Greater;
            case ComparisonOp::LessEqual:
                return ComparisonOp::GreaterEqual;
            case ComparisonOp::Greater:
                return ComparisonOp::Less;
            case ComparisonOp::GreaterEqual:
                return ComparisonOp::LessEqual;
            default:
                return op;
        }
    }

    std::string strFn(ComparisonOp op, uint8_t options, const std::string& l, const std::string& r) {
        return std::string(kStringFunction) + "(" + std::to_string(static_cast<int>(op)) + ", " +
               std::to_string(options) + ", " + l + ", " + r + ")";
    }

    // A comparison of a SQL scalar (lhs) with a constant or another scalar. nullopt: memory.
    std::optional<std::string> scalar(ComparisonOp op, uint8_t options, const std::string& l, bool lString,
                                      const Expression& rhs, const Entity& e, const std::string& alias) {
        std::string r;
        bool rIsNull = false;
        // Folded comparisons are string-only on both sides; anything else is for memory.
        if (options && !lString) return std::nullopt;
        if (options && rhs.kind == Expression::Kind::Constant && !rhs.constant.isString() &&
            !(op == ComparisonOp::In || op == ComparisonOp::Between))
            return std::nullopt;
        if (rhs.kind == Expression::Kind::Constant) {
            const Value& c = rhs.constant;
            if (op == ComparisonOp::In) {
                if (auto arr = c.ifArray()) {
                    if (arr->empty()) return "0";
                    std::string list;
                    for (const auto& el : *arr) {
                        if (el.isArray() || el.isDictionary()) return std::nullopt;
                        if (options) {
                            if (!list.empty()) list += " OR ";
                            list += strFn(ComparisonOp::Equal, options, l, param(el));
                        } else {
                            if (!list.empty()) list += ", ";
                            list += param(bindable(el));
                        }
                    }
                    return options ? "(" + list + ")" : l + " IN (" + list + ")";
                }
                if (c.isString()) return strFn(ComparisonOp::In, options, l, param(c));
                return std::nullopt;
            }
            if (op == ComparisonOp::Between) {
                auto arr = c.ifArray();
                if (!arr || arr->size() != 2 || (*arr)[0].isArray() || (*arr)[1].isArray()) return std::nullopt;
                if ((*arr)[0].isNull() || (*arr)[1].isNull()) return "0";
                if (options) return std::nullopt;
                // Parameters are numbered in the order they are pushed: keep the pushes in sequence.
                std::string low = param(bindable((*arr)[0]));
                std::string high = param(bindable((*arr)[1]));
                return "(" + l + " >= " + low + " AND " + l + " <= " + high + ")";
            }
            if (c.isArray() || c.isDictionary() || c.isData()) return std::nullopt;
            rIsNull = c.isNull();
            if (!rIsNull) r = param(bindable(c));
        } else if (rhs.kind == Expression::Kind::KeyPath) {
            bool rs = false;
            auto col = column(e, alias, rhs.keyPath, 0, &rs);
            if (!col || op == ComparisonOp::In || op == ComparisonOp::Between) return std::nullopt;
            r = *col;
            if (options && !(lString && rs)) return std::nullopt;
        } else {
            return std::nullopt;
        }
        switch (op) {
            case ComparisonOp::Equal:
                if (rIsNull) return l + " IS NULL";
                return options ? strFn(op, options, l, r) : l + " IS " + r;
            case ComparisonOp::NotEqual:
                if (rIsNull) return l + " IS NOT NULL";
                return options ? "NOT " + strFn(ComparisonOp::Equal, options, l, r) : l + " IS NOT " + r;
            case ComparisonOp::Less:
            case ComparisonOp::LessEqual:
            case ComparisonOp::Greater:
            case ComparisonOp::GreaterEqual: {
                if (rIsNull) return "0";
                if (options) return "(" + l + " IS NOT NULL AND " + strFn(op, options, l, r) + ")";
                return l + " " + comparisonOpName(op) + " " + r;
            }
            case ComparisonOp::Contains:
            case ComparisonOp::BeginsWith:
            case ComparisonOp::EndsWith:
            case ComparisonOp::Like:
                if (rIsNull) return "0";
                if (!lString) return std::nullopt;  // collections and numbers: memory
                return strFn(op, options, l, r);
            default:
                return std::nullopt;
        }
    }

    static Value bindable(const Value& v) {
        if (auto d = v.ifDate()) return d->secondsSince1970;
        if (auto b = v.ifBool()) return static_cast<int64_t>(*b);
        return v;
    }

    std::optional<std::string> comparison(const PredicateNode& n, const Entity& e, const std::string& alias) {
        const Expression* lhs = &n.lhs;
        const Expression* rhs = &n.rhs;
        ComparisonOp op = n.op;
        if (lhs->kind == Expression::Kind::Constant && rhs->kind == Expression::Kind::KeyPath) {
            if (op == ComparisonOp::In || op == ComparisonOp::Between || op == ComparisonOp::Contains ||
                op == ComparisonOp::BeginsWith || op == ComparisonOp::EndsWith || op == ComparisonOp::Like)
                return std::nullopt;
            std::swap(lhs, rhs);
            op = mirrored(op);
        }
        if (lhs->kind != Expression::Kind::KeyPath) return std::nullopt;
        const auto& path = lhs->keyPath;
        const Relationship* many = nullptr;
        if (const Relationship* r = e.relationship(path[0]); r && r->toMany) many = r;
        if (n.modifier == ComparisonModifier::All) return std::nullopt;
        if (many) {
            if (n.modifier == ComparisonModifier::Direct || path.size() < 2) return std::nullopt;
            if (rhs->kind != Expression::Kind::Constant) return std::nullopt;
            std::string inner = "t" + std::to_string(aliases++);
            bool s = false;
            std::vector<std::string> rest(path.begin() + 1, path.end());
            auto col = column(*many->destination, inner, rest, 0, &s);
            if (!col) return std::nullopt;
            auto cond = scalar(op, n.options, *col, s, *rhs, *many->destination, inner);
            if (!cond) return std::nullopt;
            std::string exists = "EXISTS (SELECT 1 FROM " + quoteIdentifier(many->destination->name()) + " " + inner +
                                 " WHERE " + inner + "." + quoteIdentifier(many->inverse->name) + " = " + alias +
                                 ".Z_PK AND " + *cond + ")";
            return n.modifier == ComparisonModifier::None ? "NOT " + exists : exists;
        }
        bool s = false;
        auto col = column(e, alias, path, 0, &s);
        if (!col) return std::nullopt;
        return scalar(op, n.options, *col, s, *rhs, e, alias);
    }

    // underNot: a NOT encloses this node, so NULL must become false explicitly to agree with
    // the evaluator's two-valued logic.
    std::optional<std::string> node(const PredicateNode& n, bool underNot) {
        switch (n.kind) {
            case PredicateNode::Kind::True:
                return "1";
            case PredicateNode::Kind::False:
                return "0";
            case PredicateNode::Kind::Not: {
                if (n.children.empty()) return "0";
                auto c = node(n.children[0], true);
                if (!c) return std::nullopt;
                return "NOT (" + *c + ")";
            }
            case PredicateNode::Kind::And:
            case PredicateNode::Kind::Or: {
                std::string out;
                for (const auto& c : n.children) {
                    auto s = node(c, underNot);
                    if (!s) return std::nullopt;
                    if (!out.empty()) out += n.kind == PredicateNode::Kind::And ? " AND " : " OR ";
                    out += "(" + *s + ")";
                }
                return out.empty() ? (n.kind == PredicateNode::Kind::And ? "1" : "0") : out;
            }
            case PredicateNode::Kind::Comparison: {
                size_t mark = params.size();
                int aliasMark = aliases;
                auto s = comparison(n, root, "t0");
                if (!s) {
                    params.resize(mark);
                    aliases = aliasMark;
                    return std::nullopt;
                }
                if (underNot) return "COALESCE(" + *s + ", 0)";
                return s;
            }
        }
        return std::nullopt;
    }
};

}  // namespace

foundation::Result<Predicate> bindPredicate(const Predicate& predicate, const Entity& entity) {
    PredicateNode copy = predicate.root();
    std::string error;
    if (!bindNode(copy, entity, error)) return makeError(kInvalidRequestError, "Bad predicate: " + error + ".");
    return Predicate::fromNode(std::move(copy));
}

SqlPlan planQuery(const Entity& entity, const std::optional<Predicate>& bound, const std::vector<SortDescriptor>& sort,
                  bool forceMemory) {
    SqlPlan plan;
    Gen gen{entity, {}, 1};
    if (bound && !forceMemory) {
        const PredicateNode& root = bound->root();
        // Conjuncts that SQL can answer go there; the others stay for memory.
        std::vector<const PredicateNode*> parts;
        if (root.kind == PredicateNode::Kind::And)
            for (const auto& c : root.children) parts.push_back(&c);
        else
            parts.push_back(&root);
        PredicateNode rest;
        rest.kind = PredicateNode::Kind::And;
        for (const PredicateNode* p : parts) {
            auto s = gen.node(*p, false);
            if (s) {
                if (!plan.where.empty()) plan.where += " AND ";
                plan.where += "(" + *s + ")";
            } else {
                rest.children.push_back(*p);
            }
        }
        if (rest.children.size() == 1)
            plan.residual = Predicate::fromNode(std::move(rest.children[0]));
        else if (!rest.children.empty())
            plan.residual = Predicate::fromNode(std::move(rest));
    } else if (bound) {
        plan.residual = bound;
    }
    for (const auto& d : sort) {
        std::vector<std::string> path;
        size_t start = 0;
        while (true) {
            size_t dot = d.keyPath.find('.', start);
            path.push_back(d.keyPath.substr(start, dot - start));
            if (dot == std::string::npos) break;
            start = dot + 1;
        }
        auto col = gen.column(entity, "t0", path, 0, nullptr);
        if (!col || forceMemory) {
            plan.sortInMemory = true;
            plan.orderBy.clear();
            break;
        }
        plan.orderBy += *col + (d.ascending ? " ASC, " : " DESC, ");
        plan.sortAttributes.push_back(path.size() == 1 ? entity.attributeIndex(path[0]) : -1);
    }
    if (plan.sortInMemory ||
        std::find(plan.sortAttributes.begin(), plan.sortAttributes.end(), -1) != plan.sortAttributes.end())
        plan.sortAttributes.clear();
    if (!plan.sortInMemory && !plan.orderBy.empty()) {
        if (!plan.sortAttributes.empty()) plan.orderByKeys = plan.orderBy.substr(0, plan.orderBy.size() - 2);
        plan.orderBy += "t0.Z_PK ASC";
    }
    plan.params = std::move(gen.params);
    return plan;
}

}  // namespace store
