// Substitution of $variables, and the predicate's format text (which parses back to the same tree).
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/store/predicate_internal.h"
#include "platform/store/store_error.h"

namespace store {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

bool substitute(PredicateNode& n, const Dictionary& vars, std::string& missing);

bool substitute(Expression& e, const Dictionary& vars, std::string& missing) {
    if (e.kind == Expression::Kind::Variable) {
        const Value* v = vars.find(e.variable);
        if (!v) {
            missing = e.variable;
            return false;
        }
        Value copy = *v;
        e = Expression{};
        e.constant = std::move(copy);
        return true;
    }
    if (e.kind == Expression::Kind::Aggregate) {
        for (auto& el : e.elements)
            if (!substitute(el, vars, missing)) return false;
        detail::foldConstantAggregate(e);
    }
    return true;
}

bool substitute(PredicateNode& n, const Dictionary& vars, std::string& missing) {
    for (auto& c : n.children)
        if (!substitute(c, vars, missing)) return false;
    if (n.kind == PredicateNode::Kind::Comparison)
        return substitute(n.lhs, vars, missing) && substitute(n.rhs, vars, missing);
    return true;
}

bool hasVariable(const Expression& e) {
    if (e.kind == Expression::Kind::Variable) return true;
    for (const auto& el : e.elements)
        if (hasVariable(el)) return true;
    return false;
}

bool hasVariable(const PredicateNode& n) {
    for (const auto& c : n.children)
        if (hasVariable(c)) return true;
    return n.kind == PredicateNode::Kind::Comparison && (hasVariable(n.lhs) || hasVariable(n.rhs));
}

void quote(std::string& out, const std::string& s) {
    out += '"';
    for (char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

void formatNumber(std::string& out, double d) {
    if (std::isnan(d)) d = 0;  // no textual form; nothing in the store compares equal to NaN anyway
    if (std::isinf(d)) d = d > 0 ? 1.7976931348623157e308 : -1.7976931348623157e308;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    out += buf;
    if (!std::strpbrk(buf, ".eE")) out += ".0";
}

void formatConstant(std::string& out, const Value& v) {
    using T = Value::Type;
    switch (v.type()) {
        case T::Null:
            out += "nil";
            break;
        case T::Bool:
            out += *v.ifBool() ? "YES" : "NO";
            break;
        case T::Int:
            out += std::to_string(*v.ifInt());
            break;
        case T::Double:
            formatNumber(out, *v.ifDouble());
            break;
        case T::String:
            quote(out, v.asString());
            break;
        case T::Date:
            out += "CAST(";
            formatNumber(out, v.ifDate()->secondsSince1970);
            out += ", \"NSDate\")";
            break;
        case T::Array: {
            out += '{';
            bool first = true;
            for (const auto& e : v.asArray()) {
                if (!first) out += ", ";
                first = false;
                formatConstant(out, e);
            }
            out += '}';
            break;
        }
        case T::Data:
        case T::Dictionary:
            quote(out, v.description());
            break;  // no literal form; shown for reading
    }
}

void formatExpression(std::string& out, const Expression& e) {
    switch (e.kind) {
        case Expression::Kind::Constant:
            formatConstant(out, e.constant);
            break;
        case Expression::Kind::Variable:
            out += '$' + e.variable;
            break;
        case Expression::Kind::Self:
            out += "SELF";
            break;
        case Expression::Kind::KeyPath:
            for (size_t i = 0; i < e.keyPath.size(); ++i) {
                if (i) out += '.';
                // Reserved words and names that would read as numbers keep their escape.
                if (detail::isReservedWord(e.keyPath[i]) ||
                    (!e.keyPath[i].empty() && std::isdigit(static_cast<unsigned char>(e.keyPath[i][0]))))
                    out += '#';
                out += e.keyPath[i];
            }
            break;
        case Expression::Kind::Aggregate: {
            out += '{';
            for (size_t i = 0; i < e.elements.size(); ++i) {
                if (i) out += ", ";
                formatExpression(out, e.elements[i]);
            }
            out += '}';
            break;
        }
    }
}

void formatNode(std::string& out, const PredicateNode& n);

void formatChild(std::string& out, const PredicateNode& n) {
    bool compound = n.kind == PredicateNode::Kind::And || n.kind == PredicateNode::Kind::Or;
    if (compound) out += '(';
    formatNode(out, n);
    if (compound) out += ')';
}

void formatNode(std::string& out, const PredicateNode& n) {
    switch (n.kind) {
        case PredicateNode::Kind::True:
            out += "TRUEPREDICATE";
            return;
        case PredicateNode::Kind::False:
            out += "FALSEPREDICATE";
            return;
        // Parentheses only around compound children, so that the text nests no deeper than the
        // tree (the parser limits nesting).
        case PredicateNode::Kind::Not:
            out += "NOT ";
            if (!n.children.empty()) formatChild(out, n.children[0]);
            return;
        case PredicateNode::Kind::And:
        case PredicateNode::Kind::Or:
            for (size_t i = 0; i < n.children.size(); ++i) {
                if (i) out += n.kind == PredicateNode::Kind::And ? " AND " : " OR ";
                formatChild(out, n.children[i]);
            }
            return;
        case PredicateNode::Kind::Comparison:
            if (n.modifier == ComparisonModifier::Any)
                out += "ANY ";
            else if (n.modifier == ComparisonModifier::All)
                out += "ALL ";
            else if (n.modifier == ComparisonModifier::None)
                out += "NONE ";
            formatExpression(out, n.lhs);
            out += ' ';
            out += comparisonOpName(n.op);
            if (n.options) {
                out += '[';
                if (n.options & CaseInsensitive) out += 'c';
                if (n.options & DiacriticInsensitive) out += 'd';
                out += ']';
            }
            out += ' ';
            formatExpression(out, n.rhs);
            return;
    }
}

}  // namespace

foundation::Result<Predicate> Predicate::withSubstitutionVariables(const Dictionary& variables) const {
    PredicateNode copy = *root_;
    std::string missing;
    if (!substitute(copy, variables, missing))
        return makeError(kInvalidRequestError, "No value for the substitution variable $" + missing + ".");
    return fromNode(std::move(copy));
}

bool Predicate::hasVariables() const { return hasVariable(*root_); }

std::string Predicate::format() const {
    std::string out;
    formatNode(out, *root_);
    return out;
}

}  // namespace store
