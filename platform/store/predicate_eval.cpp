// Evaluation of a predicate against key-value sources in memory.
#include <unordered_set>

#include "platform/store/predicate.h"

namespace store {

struct Predicate::Membership {
    std::unordered_set<std::string_view> texts;
};

namespace {

// Below this many elements a walk through the list is as quick as a lookup.
constexpr size_t kMembershipIndexMinimum = 32;

using Memberships = std::vector<std::pair<const PredicateNode*, std::shared_ptr<const Predicate::Membership>>>;

void collectMemberships(const PredicateNode& n, Memberships& out) {
    for (const auto& c : n.children) collectMemberships(c, out);
    if (n.kind != PredicateNode::Kind::Comparison || n.op != ComparisonOp::In || n.options != 0 ||
        n.rhs.kind != Expression::Kind::Constant)
        return;
    const auto* list = n.rhs.constant.ifArray();
    if (!list || list->size() < kMembershipIndexMinimum) return;
    auto membership = std::make_shared<Predicate::Membership>();
    membership->texts.reserve(list->size());
    for (const auto& e : *list) {
        const std::string* text = e.ifString();
        if (!text) return;  // mixed lists compare element by element
        membership->texts.insert(*text);
    }
    out.emplace_back(&n, std::move(membership));
}

}  // namespace

Predicate::Predicate(std::shared_ptr<const PredicateNode> root) : root_(std::move(root)) {
    Memberships found;
    collectMemberships(*root_, found);
    if (!found.empty()) memberships_ = std::make_shared<const Memberships>(std::move(found));
}

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

void ValueSource::resolve(const std::vector<std::string>& keyPath, std::vector<Value>& out, bool& many) const {
    // Walks level by level; an array along the way maps the rest of the path over its elements.
    std::vector<const Value*> current{&value_};
    for (const auto& key : keyPath) {
        std::vector<const Value*> next;
        for (const Value* v : current) {
            if (auto a = v->ifArray()) {
                many = true;
                for (const auto& e : *a) next.push_back(&e[key]);
            } else {
                next.push_back(&(*v)[key]);
            }
        }
        current = std::move(next);
    }
    if (current.size() == 1 && current[0]->isArray() && !keyPath.empty()) {
        // A key path ending on an array is a collection of its elements.
        many = true;
        for (const auto& e : current[0]->asArray()) out.push_back(e);
        return;
    }
    for (const Value* v : current) out.push_back(*v);
}

namespace {

struct Evaluator {
    const KeyValueSource& source;
    const Memberships* memberships;

    const Predicate::Membership* membershipOf(const PredicateNode& n) const {
        if (!memberships) return nullptr;
        for (const auto& [node, membership] : *memberships)
            if (node == &n) return membership.get();
        return nullptr;
    }

    // One element's test; a text against an indexed list of texts is one lookup (the same
    // answer as comparing it with each element, as no options apply).
    bool test(const PredicateNode& n, const Predicate::Membership* membership, const Value& v, const Value& rhs) const {
        if (membership)
            if (const std::string* text = v.ifString()) return membership->texts.count(*text) > 0;
        return compareScalar(n.op, n.options, v, rhs);
    }

    // The value(s) of an expression; many is set for a collection.
    void values(const Expression& e, std::vector<Value>& out, bool& many) const {
        switch (e.kind) {
            case Expression::Kind::Constant:
                out.push_back(e.constant);
                return;
            case Expression::Kind::Variable:
                out.emplace_back();
                return;  // unsubstituted: nil
            case Expression::Kind::Self:
                out.push_back(source.self());
                return;
            case Expression::Kind::KeyPath:
                source.resolve(e.keyPath, out, many);
                return;
            case Expression::Kind::Aggregate: {
                Array a;
                for (const auto& el : e.elements) {
                    std::vector<Value> v;
                    bool m = false;
                    values(el, v, m);
                    if (m)
                        a.push_back(Array(v.begin(), v.end()));
                    else if (!v.empty())
                        a.push_back(std::move(v[0]));
                }
                out.emplace_back(std::move(a));
                return;
            }
        }
    }

    bool node(const PredicateNode& n) const {
        switch (n.kind) {
            case PredicateNode::Kind::True:
                return true;
            case PredicateNode::Kind::False:
                return false;
            case PredicateNode::Kind::And:
                for (const auto& c : n.children)
                    if (!node(c)) return false;
                return true;
            case PredicateNode::Kind::Or:
                for (const auto& c : n.children)
                    if (node(c)) return true;
                return false;
            case PredicateNode::Kind::Not:
                return n.children.empty() || !node(n.children[0]);
            case PredicateNode::Kind::Comparison:
                return comparison(n);
        }
        return false;
    }

    bool comparison(const PredicateNode& n) const {
        std::vector<Value> l, r;
        bool lmany = false, rmany = false;
        values(n.lhs, l, lmany);
        // A constant right side (an IN list of a thousand ids, say) is read where it is rather
        // than copied for every object tested.
        Value computed;
        const Value* rhsValue = &n.rhs.constant;
        if (n.rhs.kind != Expression::Kind::Constant) {
            values(n.rhs, r, rmany);
            computed = rmany ? Value(Array(r.begin(), r.end())) : (r.empty() ? Value() : std::move(r[0]));
            rhsValue = &computed;
        }
        const Value& rhs = *rhsValue;
        const Predicate::Membership* membership = membershipOf(n);
        if (n.modifier == ComparisonModifier::Direct) {
            if (!lmany) return test(n, membership, l.empty() ? Value() : l[0], rhs);
            // A collection on the left: only membership questions make sense.
            Value all(Array(l.begin(), l.end()));
            if (n.op == ComparisonOp::Contains) return compareScalar(ComparisonOp::Contains, n.options, all, rhs);
            if (n.op == ComparisonOp::Equal || n.op == ComparisonOp::NotEqual) {
                bool eq = valuesEqual(all, rhs);
                return n.op == ComparisonOp::Equal ? eq : !eq;
            }
            return false;
        }
        if (!lmany && l.size() == 1 && l[0].isArray()) {
            // ANY over an array value rather than a to-many key path.
            const auto& a = l[0].asArray();
            l.assign(a.begin(), a.end());
        }
        size_t hits = 0;
        for (const auto& v : l) {
            if (test(n, membership, v, rhs)) {
                ++hits;
                if (n.modifier != ComparisonModifier::All) break;
            }
        }
        if (n.modifier == ComparisonModifier::Any) return hits > 0;
        if (n.modifier == ComparisonModifier::None) return hits == 0;
        return hits == l.size();
    }
};

}  // namespace

bool Predicate::evaluate(const KeyValueSource& source) const {
    return Evaluator{source, memberships_.get()}.node(*root_);
}

}  // namespace store
