#include "platform/store/predicate.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/icu_text.h"
#include "platform/store/store_error.h"

namespace store {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

// ---------------------------------------------------------------- comparisons

namespace {

bool isNumeric(const Value& v) { return v.isBool() || v.isInt() || v.isDouble() || v.isDate(); }

double numericValue(const Value& v) {
    if (auto b = v.ifBool()) return *b ? 1 : 0;
    if (auto i = v.ifInt()) return static_cast<double>(*i);
    if (auto d = v.ifDouble()) return *d;
    if (auto t = v.ifDate()) return t->secondsSince1970;
    return 0;
}

bool integral(const Value& v, int64_t& out) {
    if (auto b = v.ifBool()) {
        out = *b;
        return true;
    }
    if (auto i = v.ifInt()) {
        out = *i;
        return true;
    }
    return false;
}

int typeRank(const Value& v) {
    if (v.isNull()) return 0;
    if (isNumeric(v)) return 1;
    if (v.isString()) return 2;
    if (v.isData()) return 3;
    return 4;
}

template <typename T>
int cmp3(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Folds for [c]/[d]: full case folding and the removal of combining marks after canonical
// decomposition, over ICU so that every script is treated alike.
icu::UnicodeString folded(std::string_view s, uint8_t options) {
    icu::UnicodeString u = foundation::toICU(s);
    if (options & DiacriticInsensitive) {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
        if (U_SUCCESS(status)) {
            icu::UnicodeString d = nfd->normalize(u, status);
            if (U_SUCCESS(status)) {
                icu::UnicodeString out;
                for (int32_t i = 0; i < d.length();) {
                    UChar32 c = d.char32At(i);
                    if (u_charType(c) != U_NON_SPACING_MARK) out.append(c);
                    i += U16_LENGTH(c);
                }
                u = out;
            }
        }
    }
    if (options & CaseInsensitive) u.foldCase();
    return u;
}

std::vector<UChar32> codePoints(const icu::UnicodeString& u) {
    std::vector<UChar32> out;
    out.reserve(u.length());
    for (int32_t i = 0; i < u.length();) {
        UChar32 c = u.char32At(i);
        out.push_back(c);
        i += U16_LENGTH(c);
    }
    return out;
}

// LIKE: '*' any run, '?' one character, over code points (greedy with backtracking to the
// last star, linear in practice).
bool likeMatch(const std::vector<UChar32>& s, const std::vector<UChar32>& p) {
    size_t si = 0, pi = 0, star = SIZE_MAX, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == '?' || (p[pi] != '*' && p[pi] == s[si]))) {
            ++si;
            ++pi;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = si;
        } else if (star != SIZE_MAX) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

bool asciiOnly(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

int compareValues(const Value& a, const Value& b) {
    int ra = typeRank(a), rb = typeRank(b);
    if (ra != rb) return ra < rb ? -1 : 1;
    switch (ra) {
        case 0:
            return 0;
        case 1: {
            int64_t ia, ib;
            if (integral(a, ia) && integral(b, ib)) return cmp3(ia, ib);
            return cmp3(numericValue(a), numericValue(b));
        }
        case 2: {
            int c = a.asString().compare(b.asString());
            return c < 0 ? -1 : (c > 0 ? 1 : 0);
        }
        case 3: {
            const auto &da = a.asData(), &db = b.asData();
            size_t n = std::min(da.size(), db.size());
            int c = n ? std::memcmp(da.data(), db.data(), n) : 0;
            if (c) return c < 0 ? -1 : 1;
            return cmp3(da.size(), db.size());
        }
        default:
            return a == b ? 0 : cmp3(a.description(), b.description());
    }
}

bool valuesEqual(const Value& a, const Value& b) {
    if (typeRank(a) == 4 || typeRank(b) == 4) return a == b;
    return compareValues(a, b) == 0;
}

bool compareStrings(ComparisonOp op, uint8_t options, std::string_view lhs, std::string_view rhs) {
    if (options == 0 || (options == CaseInsensitive && asciiOnly(lhs) && asciiOnly(rhs))) {
        std::string l, r;
        if (options) {
            l = asciiLower(lhs);
            r = asciiLower(rhs);
            lhs = l;
            rhs = r;
        }
        switch (op) {
            case ComparisonOp::Equal:
                return lhs == rhs;
            case ComparisonOp::NotEqual:
                return lhs != rhs;
            case ComparisonOp::Less:
                return lhs < rhs;
            case ComparisonOp::LessEqual:
                return lhs <= rhs;
            case ComparisonOp::Greater:
                return lhs > rhs;
            case ComparisonOp::GreaterEqual:
                return lhs >= rhs;
            case ComparisonOp::Contains:
                return lhs.find(rhs) != std::string_view::npos;
            case ComparisonOp::In:
                return rhs.find(lhs) != std::string_view::npos;
            case ComparisonOp::BeginsWith:
                return lhs.substr(0, rhs.size()) == rhs;
            case ComparisonOp::EndsWith:
                return lhs.size() >= rhs.size() && lhs.substr(lhs.size() - rhs.size()) == rhs;
            case ComparisonOp::Like:
                break;
            case ComparisonOp::Between:
                return false;
        }
    }
    icu::UnicodeString l = folded(lhs, options), r = folded(rhs, options);
    switch (op) {
        case ComparisonOp::Equal:
            return l == r;
        case ComparisonOp::NotEqual:
            return l != r;
        case ComparisonOp::Less:
            return l.compareCodePointOrder(r) < 0;
        case ComparisonOp::LessEqual:
            return l.compareCodePointOrder(r) <= 0;
        case ComparisonOp::Greater:
            return l.compareCodePointOrder(r) > 0;
        case ComparisonOp::GreaterEqual:
            return l.compareCodePointOrder(r) >= 0;
        case ComparisonOp::Contains:
            return l.indexOf(r) >= 0;
        case ComparisonOp::In:
            return r.indexOf(l) >= 0;
        case ComparisonOp::BeginsWith:
            return l.startsWith(r);
        case ComparisonOp::EndsWith:
            return l.endsWith(r);
        case ComparisonOp::Like:
            return likeMatch(codePoints(l), codePoints(r));
        case ComparisonOp::Between:
            return false;
    }
    return false;
}

bool compareScalar(ComparisonOp op, uint8_t options, const Value& lhs, const Value& rhs) {
    switch (op) {
        case ComparisonOp::Equal:
        case ComparisonOp::NotEqual: {
            bool eq = (options && lhs.isString() && rhs.isString())
                          ? compareStrings(ComparisonOp::Equal, options, lhs.asString(), rhs.asString())
                          : valuesEqual(lhs, rhs);
            return op == ComparisonOp::Equal ? eq : !eq;
        }
        case ComparisonOp::Less:
        case ComparisonOp::LessEqual:
        case ComparisonOp::Greater:
        case ComparisonOp::GreaterEqual: {
            // An ordering against nothing is unknown, hence false (as in SQL).
            if (lhs.isNull() || rhs.isNull()) return false;
            if (options && lhs.isString() && rhs.isString())
                return compareStrings(op, options, lhs.asString(), rhs.asString());
            int c = compareValues(lhs, rhs);
            if (op == ComparisonOp::Less) return c < 0;
            if (op == ComparisonOp::LessEqual) return c <= 0;
            if (op == ComparisonOp::Greater) return c > 0;
            return c >= 0;
        }
        case ComparisonOp::In: {
            if (lhs.isNull()) return false;
            if (auto a = rhs.ifArray()) {
                for (const auto& e : *a)
                    if (compareScalar(ComparisonOp::Equal, options, lhs, e)) return true;
                return false;
            }
            if (auto d = rhs.ifDictionary()) {
                for (const auto& [k, e] : *d)
                    if (compareScalar(ComparisonOp::Equal, options, lhs, e)) return true;
                return false;
            }
            if (lhs.isString() && rhs.isString())
                return compareStrings(ComparisonOp::In, options, lhs.asString(), rhs.asString());
            return false;
        }
        case ComparisonOp::Between: {
            auto a = rhs.ifArray();
            if (!a || a->size() != 2) return false;
            return compareScalar(ComparisonOp::GreaterEqual, options, lhs, (*a)[0]) &&
                   compareScalar(ComparisonOp::LessEqual, options, lhs, (*a)[1]);
        }
        case ComparisonOp::Contains:
            if (auto a = lhs.ifArray()) {
                for (const auto& e : *a)
                    if (compareScalar(ComparisonOp::Equal, options, e, rhs)) return true;
                return false;
            }
            [[fallthrough]];
        case ComparisonOp::BeginsWith:
        case ComparisonOp::EndsWith:
        case ComparisonOp::Like:
            if (!lhs.isString() || !rhs.isString()) return false;
            return compareStrings(op, options, lhs.asString(), rhs.asString());
    }
    return false;
}

const char* comparisonOpName(ComparisonOp op) {
    switch (op) {
        case ComparisonOp::Equal:
            return "==";
        case ComparisonOp::NotEqual:
            return "!=";
        case ComparisonOp::Less:
            return "<";
        case ComparisonOp::LessEqual:
            return "<=";
        case ComparisonOp::Greater:
            return ">";
        case ComparisonOp::GreaterEqual:
            return ">=";
        case ComparisonOp::In:
            return "IN";
        case ComparisonOp::Between:
            return "BETWEEN";
        case ComparisonOp::Contains:
            return "CONTAINS";
        case ComparisonOp::BeginsWith:
            return "BEGINSWITH";
        case ComparisonOp::EndsWith:
            return "ENDSWITH";
        case ComparisonOp::Like:
            return "LIKE";
    }
    return "?";
}

// ---------------------------------------------------------------- key-value sources

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

// ---------------------------------------------------------------- parser

namespace {

constexpr int kMaxNesting = 200;

enum class Tok {
    End,
    Ident,
    String,
    Number,
    Variable,
    Arg,
    LParen,
    RParen,
    LBrace,
    RBrace,
    Comma,
    Dot,
    Op,
    Options,
    Not,
    And,
    Or
};

struct Token {
    Tok kind = Tok::End;
    std::string text;  // identifier, string, operator, variable name, argument conversion
    Value number;
    bool escaped = false;  // #identifier
    size_t pos = 0;
};

bool keywordIs(const Token& t, const char* word) {
    if (t.kind != Tok::Ident || t.escaped) return false;
    size_t n = std::strlen(word);
    if (t.text.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(t.text[i])) != word[i]) return false;
    return true;
}

const char* const kReserved[] = {
    "AND",     "OR",    "NOT", "IN",   "BETWEEN", "CONTAINS",      "BEGINSWITH",     "ENDSWITH", "LIKE",
    "MATCHES", "ANY",   "ALL", "NONE", "SOME",    "TRUEPREDICATE", "FALSEPREDICATE", "YES",      "NO",
    "TRUE",    "FALSE", "NIL", "NULL", "SELF",    "CAST",          "FIRST",          "LAST",     "SIZE"};

bool isReservedWord(std::string_view s) {
    for (const char* w : kReserved) {
        if (s.size() != std::strlen(w)) continue;
        bool same = true;
        for (size_t i = 0; i < s.size() && same; ++i) same = std::toupper(static_cast<unsigned char>(s[i])) == w[i];
        if (same) return true;
    }
    return false;
}

class Parser {
public:
    Parser(std::string_view text, const Array& args) : s_(text), args_(args) {}

    foundation::Result<PredicateNode> run() {
        if (!tokenize()) return error_;
        PredicateNode node;
        if (!parseOr(node, 0)) return error_;
        if (peek().kind != Tok::End) {
            fail("unexpected text", peek().pos);
            return error_;
        }
        return node;
    }

private:
    std::string_view s_;
    const Array& args_;
    size_t argIndex_ = 0;
    std::vector<Token> toks_;
    size_t at_ = 0;
    foundation::Error error_;

    bool fail(const std::string& what, size_t pos) {
        error_ = makeError(kInvalidRequestError, "Unable to parse the predicate format \"" + std::string(s_) +
                                                     "\": " + what + " at " + std::to_string(pos) + ".");
        return false;
    }

    const Token& peek(size_t ahead = 0) const { return toks_[std::min(at_ + ahead, toks_.size() - 1)]; }
    Token take() { return toks_[std::min(at_++, toks_.size() - 1)]; }

    // -- tokens
    bool tokenize() {
        size_t i = 0;
        while (true) {
            while (i < s_.size() && std::isspace(static_cast<unsigned char>(s_[i]))) ++i;
            Token t;
            t.pos = i;
            if (i >= s_.size()) {
                toks_.push_back(t);
                return true;
            }
            char c = s_[i];
            auto two = [&](const char* op) { return s_.compare(i, 2, op) == 0; };
            if (c == '(') {
                t.kind = Tok::LParen;
                ++i;
            } else if (c == ')') {
                t.kind = Tok::RParen;
                ++i;
            } else if (c == '{') {
                t.kind = Tok::LBrace;
                ++i;
            } else if (c == '}') {
                t.kind = Tok::RBrace;
                ++i;
            } else if (c == ',') {
                t.kind = Tok::Comma;
                ++i;
            } else if (c == '.' && !(i + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i + 1])))) {
                t.kind = Tok::Dot;
                ++i;
            } else if (two("&&")) {
                t.kind = Tok::And;
                i += 2;
            } else if (two("||")) {
                t.kind = Tok::Or;
                i += 2;
            } else if (two("==") || two("!=") || two("<>") || two("<=") || two(">=") || two("=<") || two("=>")) {
                t.kind = Tok::Op;
                t.text = std::string(s_.substr(i, 2));
                i += 2;
            } else if (c == '=' || c == '<' || c == '>') {
                t.kind = Tok::Op;
                t.text = std::string(1, c);
                ++i;
            } else if (c == '!') {
                t.kind = Tok::Not;
                ++i;
            } else if (c == '[') {
                size_t end = s_.find(']', i);
                if (end == std::string_view::npos) return fail("unterminated options", i);
                t.kind = Tok::Options;
                t.text = std::string(s_.substr(i + 1, end - i - 1));
                i = end + 1;
            } else if (c == '\'' || c == '"') {
                if (!readString(i, t)) return false;
            } else if (c == '$') {
                size_t j = i + 1;
                while (j < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[j])) || s_[j] == '_')) ++j;
                if (j == i + 1) return fail("empty variable name", i);
                t.kind = Tok::Variable;
                t.text = std::string(s_.substr(i + 1, j - i - 1));
                i = j;
            } else if (c == '%') {
                size_t j = i + 1;
                while (j < s_.size() && (s_[j] == 'l' || s_[j] == 'h' || s_[j] == 'q')) ++j;
                if (j >= s_.size()) return fail("incomplete argument", i);
                t.kind = Tok::Arg;
                t.text = std::string(1, s_[j]);
                if (!std::strchr("@Kdiuxfgs", s_[j])) return fail("unsupported argument conversion", i);
                i = j + 1;
            } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '.' ||
                       (c == '-' && i + 1 < s_.size() &&
                        (std::isdigit(static_cast<unsigned char>(s_[i + 1])) || s_[i + 1] == '.'))) {
                if (!readNumber(i, t)) return false;
            } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '#' || c == '@') {
                size_t j = i;
                if (c == '#') {
                    t.escaped = true;
                    ++j;
                }
                size_t start = j;
                while (j < s_.size() &&
                       (std::isalnum(static_cast<unsigned char>(s_[j])) || s_[j] == '_' || s_[j] == '@'))
                    ++j;
                if (j == start) return fail("empty identifier", i);
                t.kind = Tok::Ident;
                t.text = std::string(s_.substr(start, j - start));
                i = j;
                if (keywordIs(t, "AND"))
                    t.kind = Tok::And;
                else if (keywordIs(t, "OR"))
                    t.kind = Tok::Or;
                else if (keywordIs(t, "NOT"))
                    t.kind = Tok::Not;
            } else {
                return fail(std::string("unexpected character '") + c + "'", i);
            }
            toks_.push_back(std::move(t));
        }
    }

    bool readString(size_t& i, Token& t) {
        char quote = s_[i];
        size_t start = i++;
        std::string out;
        while (i < s_.size() && s_[i] != quote) {
            char c = s_[i++];
            if (c == '\\') {
                if (i >= s_.size()) break;
                char e = s_[i++];
                switch (e) {
                    case 'n':
                        out += '\n';
                        break;
                    case 't':
                        out += '\t';
                        break;
                    case 'r':
                        out += '\r';
                        break;
                    case '0':
                        out += '\0';
                        break;
                    default:
                        out += e;
                        break;
                }
            } else {
                out += c;
            }
        }
        if (i >= s_.size()) return fail("unterminated string", start);
        ++i;
        t.kind = Tok::String;
        t.text = std::move(out);
        return true;
    }

    bool readNumber(size_t& i, Token& t) {
        size_t start = i;
        bool neg = false;
        if (s_[i] == '-') {
            neg = true;
            ++i;
        }
        if (s_.compare(i, 2, "0x") == 0 || s_.compare(i, 2, "0X") == 0) {
            size_t j = i + 2;
            uint64_t v = 0;
            while (j < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[j]))) {
                if (v >> 60) return fail("number too large", start);
                v = v * 16 + static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(s_[j]))
                                                       ? s_[j] - '0'
                                                       : std::tolower(static_cast<unsigned char>(s_[j])) - 'a' + 10);
                ++j;
            }
            if (j == i + 2) return fail("bad hexadecimal number", start);
            t.kind = Tok::Number;
            t.number = neg ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
            i = j;
            return true;
        }
        size_t j = i;
        bool real = false;
        while (j < s_.size() && std::isdigit(static_cast<unsigned char>(s_[j]))) ++j;
        if (j < s_.size() && s_[j] == '.') {
            real = true;
            ++j;
            while (j < s_.size() && std::isdigit(static_cast<unsigned char>(s_[j]))) ++j;
        }
        if (j < s_.size() && (s_[j] == 'e' || s_[j] == 'E')) {
            size_t k = j + 1;
            if (k < s_.size() && (s_[k] == '+' || s_[k] == '-')) ++k;
            if (k < s_.size() && std::isdigit(static_cast<unsigned char>(s_[k]))) {
                real = true;
                j = k;
                while (j < s_.size() && std::isdigit(static_cast<unsigned char>(s_[j]))) ++j;
            }
        }
        std::string text(s_.substr(start, j - start));
        if (text == "-" || text == "." || text == "-.") return fail("bad number", start);
        t.kind = Tok::Number;
        if (!real) {
            errno = 0;
            char* end = nullptr;
            long long v = std::strtoll(text.c_str(), &end, 10);
            if (errno == ERANGE)
                t.number = std::strtod(text.c_str(), nullptr);
            else
                t.number = static_cast<int64_t>(v);
        } else {
            t.number = std::strtod(text.c_str(), nullptr);
        }
        if (t.number.isDouble() && !std::isfinite(*t.number.ifDouble())) return fail("number out of range", start);
        i = j;
        return true;
    }

    // -- grammar
    bool parseOr(PredicateNode& out, int depth) {
        if (depth > kMaxNesting) return fail("nesting too deep", peek().pos);
        PredicateNode first;
        if (!parseAnd(first, depth)) return false;
        if (peek().kind != Tok::Or) {
            out = std::move(first);
            return true;
        }
        out = PredicateNode{};
        out.kind = PredicateNode::Kind::Or;
        out.children.push_back(std::move(first));
        while (peek().kind == Tok::Or) {
            take();
            PredicateNode next;
            if (!parseAnd(next, depth)) return false;
            out.children.push_back(std::move(next));
        }
        return true;
    }

    bool parseAnd(PredicateNode& out, int depth) {
        PredicateNode first;
        if (!parseNot(first, depth)) return false;
        if (peek().kind != Tok::And) {
            out = std::move(first);
            return true;
        }
        out = PredicateNode{};
        out.kind = PredicateNode::Kind::And;
        out.children.push_back(std::move(first));
        while (peek().kind == Tok::And) {
            take();
            PredicateNode next;
            if (!parseNot(next, depth)) return false;
            out.children.push_back(std::move(next));
        }
        return true;
    }

    bool parseNot(PredicateNode& out, int depth) {
        if (depth > kMaxNesting) return fail("nesting too deep", peek().pos);
        if (peek().kind == Tok::Not) {
            take();
            PredicateNode child;
            if (!parseNot(child, depth + 1)) return false;
            out = PredicateNode{};
            out.kind = PredicateNode::Kind::Not;
            out.children.push_back(std::move(child));
            return true;
        }
        if (peek().kind == Tok::LParen && !looksLikeExpressionInParens()) {
            take();
            if (!parseOr(out, depth + 1)) return false;
            if (take().kind != Tok::RParen) return fail("expected ')'", peek().pos);
            return true;
        }
        if (keywordIs(peek(), "TRUEPREDICATE")) {
            take();
            out = PredicateNode{};
            out.kind = PredicateNode::Kind::True;
            return true;
        }
        if (keywordIs(peek(), "FALSEPREDICATE")) {
            take();
            out = PredicateNode{};
            out.kind = PredicateNode::Kind::False;
            return true;
        }
        return parseComparison(out);
    }

    // "(" opens a sub-predicate, except around a bare expression, which we do not support
    // anyway; treating every "(" as a sub-predicate keeps the grammar simple.
    bool looksLikeExpressionInParens() const { return false; }

    bool parseComparison(PredicateNode& out) {
        out = PredicateNode{};
        out.kind = PredicateNode::Kind::Comparison;
        if (keywordIs(peek(), "ANY") || keywordIs(peek(), "SOME")) {
            take();
            out.modifier = ComparisonModifier::Any;
        } else if (keywordIs(peek(), "ALL")) {
            take();
            out.modifier = ComparisonModifier::All;
        } else if (keywordIs(peek(), "NONE")) {
            take();
            out.modifier = ComparisonModifier::None;
        }
        if (!parseExpression(out.lhs, 0)) return false;
        bool negate = false;
        if (peek().kind == Tok::Not && keywordIs(peek(1), "IN")) {
            take();
            negate = true;
        }
        Token op = take();
        if (op.kind == Tok::Op) {
            const std::string& o = op.text;
            if (o == "=" || o == "==")
                out.op = ComparisonOp::Equal;
            else if (o == "!=" || o == "<>")
                out.op = ComparisonOp::NotEqual;
            else if (o == "<")
                out.op = ComparisonOp::Less;
            else if (o == "<=" || o == "=<")
                out.op = ComparisonOp::LessEqual;
            else if (o == ">")
                out.op = ComparisonOp::Greater;
            else
                out.op = ComparisonOp::GreaterEqual;
        } else if (keywordIs(op, "IN"))
            out.op = ComparisonOp::In;
        else if (keywordIs(op, "BETWEEN"))
            out.op = ComparisonOp::Between;
        else if (keywordIs(op, "CONTAINS"))
            out.op = ComparisonOp::Contains;
        else if (keywordIs(op, "BEGINSWITH"))
            out.op = ComparisonOp::BeginsWith;
        else if (keywordIs(op, "ENDSWITH"))
            out.op = ComparisonOp::EndsWith;
        else if (keywordIs(op, "LIKE"))
            out.op = ComparisonOp::Like;
        else if (keywordIs(op, "MATCHES"))
            return fail("MATCHES is not supported", op.pos);
        else
            return fail("expected an operator", op.pos);
        if (peek().kind == Tok::Options) {
            Token o = take();
            for (char c : o.text) {
                if (c == 'c' || c == 'C')
                    out.options |= CaseInsensitive;
                else if (c == 'd' || c == 'D')
                    out.options |= DiacriticInsensitive;
                else if (c == 'n' || c == 'N') {
                } else
                    return fail("unknown option '" + std::string(1, c) + "'", o.pos);
            }
        }
        if (!parseExpression(out.rhs, 0)) return false;
        if (negate) {
            PredicateNode inner = std::move(out);
            out = PredicateNode{};
            out.kind = PredicateNode::Kind::Not;
            out.children.push_back(std::move(inner));
        }
        return true;
    }

    bool argumentValue(const Token& t, Value& v) {
        if (argIndex_ >= args_.size()) return fail("missing argument", t.pos);
        v = args_[argIndex_++];
        return true;
    }

    bool parseExpression(Expression& e, int depth) {
        if (depth > kMaxNesting) return fail("nesting too deep", peek().pos);
        Token t = take();
        e = Expression{};
        switch (t.kind) {
            case Tok::String:
                e.constant = t.text;
                return true;
            case Tok::Number:
                e.constant = t.number;
                return true;
            case Tok::Variable:
                e.kind = Expression::Kind::Variable;
                e.variable = t.text;
                return true;
            case Tok::Arg: {
                Value v;
                if (!argumentValue(t, v)) return false;
                if (t.text == "K") {
                    if (!v.isString() || v.asString().empty()) return fail("%K needs a key path string", t.pos);
                    e.kind = Expression::Kind::KeyPath;
                    std::string_view path = v.asString();
                    size_t start = 0;
                    while (true) {
                        size_t dot = path.find('.', start);
                        e.keyPath.emplace_back(path.substr(start, dot - start));
                        if (dot == std::string_view::npos) break;
                        start = dot + 1;
                    }
                    return true;
                }
                e.constant = std::move(v);
                return true;
            }
            case Tok::LBrace: {
                e.kind = Expression::Kind::Aggregate;
                if (peek().kind == Tok::RBrace) {
                    take();
                    normalizeAggregate(e);
                    return true;
                }
                while (true) {
                    Expression element;
                    if (!parseExpression(element, depth + 1)) return false;
                    e.elements.push_back(std::move(element));
                    Token sep = take();
                    if (sep.kind == Tok::RBrace) break;
                    if (sep.kind != Tok::Comma) return fail("expected ',' or '}'", sep.pos);
                }
                normalizeAggregate(e);
                return true;
            }
            case Tok::Ident: {
                if (!t.escaped) {
                    if (keywordIs(t, "YES") || keywordIs(t, "TRUE")) {
                        e.constant = true;
                        return true;
                    }
                    if (keywordIs(t, "NO") || keywordIs(t, "FALSE")) {
                        e.constant = false;
                        return true;
                    }
                    if (keywordIs(t, "NIL") || keywordIs(t, "NULL")) return true;
                    if (keywordIs(t, "SELF")) {
                        e.kind = Expression::Kind::Self;
                        return true;
                    }
                    if (keywordIs(t, "CAST")) return parseCast(e, t);
                    if (isReservedWord(t.text)) return fail("unexpected keyword " + t.text, t.pos);
                }
                e.kind = Expression::Kind::KeyPath;
                e.keyPath.push_back(t.text);
                while (peek().kind == Tok::Dot) {
                    take();
                    Token part = take();
                    if (part.kind != Tok::Ident) return fail("expected a key after '.'", part.pos);
                    e.keyPath.push_back(part.text);
                }
                return true;
            }
            default:
                return fail("expected an expression", t.pos);
        }
    }

    // CAST(<seconds since 1970>, "NSDate"): the textual form of a date constant.
    bool parseCast(Expression& e, const Token& at) {
        if (take().kind != Tok::LParen) return fail("expected '(' after CAST", at.pos);
        Token n = take();
        if (n.kind != Tok::Number) return fail("CAST needs a number", n.pos);
        if (take().kind != Tok::Comma) return fail("expected ','", at.pos);
        Token type = take();
        if (type.kind != Tok::String || type.text != "NSDate") return fail("CAST supports only \"NSDate\"", type.pos);
        if (take().kind != Tok::RParen) return fail("expected ')'", at.pos);
        e.constant = foundation::Date{n.number.doubleValue()};
        return true;
    }

public:
    static void normalizeAggregate(Expression& e) {
        for (const auto& el : e.elements)
            if (el.kind != Expression::Kind::Constant) return;
        Array a;
        a.reserve(e.elements.size());
        for (auto& el : e.elements) a.push_back(std::move(el.constant));
        e = Expression{};
        e.constant = std::move(a);
    }
};

// ---------------------------------------------------------------- evaluation

struct Evaluator {
    const KeyValueSource& source;

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
        values(n.rhs, r, rmany);
        Value rhs = rmany ? Value(Array(r.begin(), r.end())) : (r.empty() ? Value() : std::move(r[0]));
        if (n.modifier == ComparisonModifier::Direct) {
            if (!lmany) return compareScalar(n.op, n.options, l.empty() ? Value() : l[0], rhs);
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
            if (compareScalar(n.op, n.options, v, rhs)) {
                ++hits;
                if (n.modifier != ComparisonModifier::All) break;
            }
        }
        if (n.modifier == ComparisonModifier::Any) return hits > 0;
        if (n.modifier == ComparisonModifier::None) return hits == 0;
        return hits == l.size();
    }
};

// ---------------------------------------------------------------- substitution and text

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
        Parser::normalizeAggregate(e);
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
                if (isReservedWord(e.keyPath[i]) ||
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

foundation::Result<Predicate> Predicate::parse(std::string_view format, const Array& arguments) {
    Parser parser(format, arguments);
    auto node = parser.run();
    if (!node) return node.error();
    return Predicate(std::make_shared<const PredicateNode>(std::move(node.value())));
}

Predicate Predicate::fromNode(PredicateNode node) {
    return Predicate(std::make_shared<const PredicateNode>(std::move(node)));
}

Predicate Predicate::truePredicate() { return fromNode(PredicateNode{}); }

foundation::Result<Predicate> Predicate::withSubstitutionVariables(const Dictionary& variables) const {
    PredicateNode copy = *root_;
    std::string missing;
    if (!substitute(copy, variables, missing))
        return makeError(kInvalidRequestError, "No value for the substitution variable $" + missing + ".");
    return fromNode(std::move(copy));
}

bool Predicate::hasVariables() const { return hasVariable(*root_); }

bool Predicate::evaluate(const KeyValueSource& source) const { return Evaluator{source}.node(*root_); }

std::string Predicate::format() const {
    std::string out;
    formatNode(out, *root_);
    return out;
}

}  // namespace store
