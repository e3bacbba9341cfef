// The predicate format's tokenizer and recursive-descent parser.
#include <cctype>
#include <cmath>
#include <cstring>

#include "platform/store/predicate_internal.h"
#include "platform/store/store_error.h"

namespace store {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

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

}  // namespace

bool detail::isReservedWord(std::string_view s) {
    for (const char* w : kReserved) {
        if (s.size() != std::strlen(w)) continue;
        bool same = true;
        for (size_t i = 0; i < s.size() && same; ++i) same = std::toupper(static_cast<unsigned char>(s[i])) == w[i];
        if (same) return true;
    }
    return false;
}

namespace {

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
                    foldConstantAggregate(e);
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
                foldConstantAggregate(e);
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
                    if (detail::isReservedWord(t.text)) return fail("unexpected keyword " + t.text, t.pos);
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
    static void foldConstantAggregate(Expression& e) {
        for (const auto& el : e.elements)
            if (el.kind != Expression::Kind::Constant) return;
        Array a;
        a.reserve(e.elements.size());
        for (auto& el : e.elements) a.push_back(std::move(el.constant));
        e = Expression{};
        e.constant = std::move(a);
    }
};

}  // namespace

foundation::Result<PredicateNode> detail::parsePredicate(std::string_view format, const Array& arguments) {
    return Parser(format, arguments).run();
}

void detail::foldConstantAggregate(Expression& e) { Parser::foldConstantAggregate(e); }

}  // namespace store
