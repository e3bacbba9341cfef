// Comparison of values and strings as predicates compare them ([c] and [d] options, LIKE).
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "platform/foundation/icu_text.h"
#include "platform/foundation/strings.h"
#include "platform/store/predicate.h"

namespace store {

using foundation::Value;

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
            l = foundation::asciiLowercase(lhs);
            r = foundation::asciiLowercase(rhs);
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
                // Text against a list of texts (ids, mostly): compared as they are, without the
                // general comparison's dispatch for every element.
                const std::string* text = options == 0 ? lhs.ifString() : nullptr;
                for (const auto& e : *a) {
                    if (const std::string* other = text ? e.ifString() : nullptr) {
                        if (*other == *text) return true;
                    } else if (compareScalar(ComparisonOp::Equal, options, lhs, e)) {
                        return true;
                    }
                }
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

}  // namespace store
