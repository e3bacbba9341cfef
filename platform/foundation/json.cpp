#include "platform/foundation/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/data_format_detail.h"

namespace foundation {

namespace {

// Deep enough for any reply the service sends, shallow enough that the recursion stays far from
// the stack's end on every thread the parser runs on.
constexpr int kMaxDepth = 512;

// What one parsed value costs once decoded, beyond the bytes of its text: its slot in an array (with
// the array's spare capacity) or its dictionary entry with the key and the key's index. A string
// costs its bytes beyond what fits in the slot as well.
constexpr size_t kBytesPerValue = 96;
constexpr size_t kInlineStringBytes = 15;

Error jsonError(std::string message, size_t offset) {
    Dictionary info;
    info.set(kLocalizedDescriptionKey, Value(message + " (offset " + std::to_string(offset) + ")"));
    info.set("NSDebugDescription", Value(std::move(message)));
    info.set("NSJSONSerializationErrorIndex", Value(static_cast<int64_t>(offset)));
    return Error(kCocoaErrorDomain, kJSONReadCorruptError, std::move(info));
}

// Bytes a string scan can pass without a closer look: everything except '"', '\\', control
// characters and the bytes of multi-byte UTF-8 sequences.
struct PlainTable {
    bool plain[256];
    constexpr PlainTable() : plain() {
        for (int c = 0; c < 256; ++c) plain[c] = c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
    }
};
constexpr PlainTable kPlain;

int hexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void appendUTF8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Parser {
public:
    explicit Parser(std::string_view text)
        : begin_(reinterpret_cast<const unsigned char*>(text.data())), p_(begin_), end_(begin_ + text.size()) {}
    // The elements of the array under member of a top-level object go to sink as they are parsed.
    Parser(std::string_view text, std::string_view member, const JSONArraySink& sink) : Parser(text) {
        streamedMember_ = member;
        sink_ = &sink;
    }

    Result<Value> run() {
        // A UTF-8 byte order mark is tolerated in front of the text.
        if (end_ - p_ >= 3 && p_[0] == 0xEF && p_[1] == 0xBB && p_[2] == 0xBF) p_ += 3;
        Value out;
        skipSpace();
        if (p_ == end_) return jsonError("No value", offset());
        if (!parseValue(out, 0)) return jsonError(std::move(message_), errorOffset_);
        skipSpace();
        if (p_ != end_) return jsonError("Garbage at end", offset());
        return out;
    }

private:
    size_t offset() const { return static_cast<size_t>(p_ - begin_); }

    bool fail(const char* message, const unsigned char* at) {
        message_ = message;
        errorOffset_ = static_cast<size_t>(at - begin_);
        return false;
    }

    void skipSpace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    // Counts a value's decoded size against the budget; false (with the error) once it is spent.
    bool charge(size_t bytes) {
        decoded_ += bytes;
        if (decoded_ <= kJSONMaximumDecodedBytes) return true;
        return fail("Too large to decode", p_);
    }
    static size_t stringCost(const std::string& s) { return s.size() > kInlineStringBytes ? s.size() + 1 : 0; }

    bool parseValue(Value& out, int depth) {
        if (!charge(kBytesPerValue)) return false;
        switch (*p_) {
            case '{':
                return parseObject(out, depth + 1);
            case '[':
                return parseArray(out, depth + 1);
            case '"': {
                std::string s;
                if (!parseString(s) || !charge(stringCost(s))) return false;
                out = Value(std::move(s));
                return true;
            }
            case 't':
                return parseLiteral("true", 4, Value(true), out);
            case 'f':
                return parseLiteral("false", 5, Value(false), out);
            case 'n':
                return parseLiteral("null", 4, Value(), out);
            default:
                if (*p_ == '-' || (*p_ >= '0' && *p_ <= '9')) return parseNumber(out);
                return fail("Invalid value", p_);
        }
    }

    bool parseLiteral(const char* word, size_t n, Value v, Value& out) {
        if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return fail("Invalid value", p_);
        p_ += n;
        out = std::move(v);
        return true;
    }

    bool parseNumber(Value& out) {
        const unsigned char* start = p_;
        bool negative = false;
        if (*p_ == '-') {
            negative = true;
            ++p_;
        }
        if (p_ == end_ || *p_ < '0' || *p_ > '9') return fail("Invalid number", start);
        uint64_t mantissa = 0;
        bool overflow = false;
        if (*p_ == '0') {
            ++p_;
            if (p_ < end_ && *p_ >= '0' && *p_ <= '9') return fail("Leading zero in number", start);
        } else {
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
                const unsigned digit = *p_ - '0';
                if (mantissa > (UINT64_MAX - digit) / 10) overflow = true;
                mantissa = mantissa * 10 + digit;
                ++p_;
            }
        }
        bool integral = true;
        if (p_ < end_ && *p_ == '.') {
            integral = false;
            ++p_;
            if (p_ == end_ || *p_ < '0' || *p_ > '9') return fail("Invalid number", start);
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            integral = false;
            ++p_;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (p_ == end_ || *p_ < '0' || *p_ > '9') return fail("Invalid number", start);
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
        }
        if (integral && !overflow) {
            if (!negative && mantissa <= static_cast<uint64_t>(INT64_MAX)) {
                out = Value(static_cast<int64_t>(mantissa));
                return true;
            }
            if (negative && mantissa <= static_cast<uint64_t>(INT64_MAX) + 1) {
                out = Value(static_cast<int64_t>(0 - mantissa));
                return true;
            }
        }
        double d = 0;
        auto first = reinterpret_cast<const char*>(start);
        auto last = reinterpret_cast<const char*>(p_);
        auto [ptr, ec] = std::from_chars(first, last, d);
        if (ec == std::errc::result_out_of_range) {
            // Underflow reads as the nearest representable value; overflow is not a number we can keep.
            std::string copy(first, last);
            d = std::strtod(copy.c_str(), nullptr);
            if (!std::isfinite(d)) return fail("Number out of range", start);
        } else if (ec != std::errc() || ptr != last) {
            return fail("Invalid number", start);
        }
        out = Value(d);
        return true;
    }

    bool parseHex4(uint32_t& cp) {
        if (end_ - p_ < 4) return fail("Invalid \\u escape", p_);
        cp = 0;
        for (int i = 0; i < 4; ++i) {
            int h = hexDigit(p_[i]);
            if (h < 0) return fail("Invalid \\u escape", p_);
            cp = cp << 4 | static_cast<uint32_t>(h);
        }
        p_ += 4;
        return true;
    }

    // p_ is at the opening quote.
    bool parseString(std::string& out) {
        const unsigned char* quote = p_;
        const unsigned char* s = p_ + 1;
        const unsigned char* run = s;
        for (;;) {
            while (s < end_ && kPlain.plain[*s]) ++s;
            if (s == end_) return fail("Unterminated string", quote);
            const unsigned char c = *s;
            if (c == '"') {
                out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(s - run));
                p_ = s + 1;
                return true;
            }
            if (c == '\\') {
                out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(s - run));
                p_ = s + 1;
                if (!parseEscape(out)) return false;
                s = run = p_;
                continue;
            }
            if (c < 0x20) return fail("Unescaped control character in string", s);
            const size_t n = detail::utf8SequenceLength(s, end_);
            if (n == 0) return fail("Invalid UTF-8 in string", s);
            s += n;
        }
    }

    // p_ is just after the backslash.
    bool parseEscape(std::string& out) {
        if (p_ == end_) return fail("Unterminated string", p_);
        const unsigned char e = *p_++;
        switch (e) {
            case '"':
                out += '"';
                return true;
            case '\\':
                out += '\\';
                return true;
            case '/':
                out += '/';
                return true;
            case 'b':
                out += '\b';
                return true;
            case 'f':
                out += '\f';
                return true;
            case 'n':
                out += '\n';
                return true;
            case 'r':
                out += '\r';
                return true;
            case 't':
                out += '\t';
                return true;
            case 'u': {
                const unsigned char* at = p_ - 2;
                uint32_t cp;
                if (!parseHex4(cp)) return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF) return fail("Unpaired low surrogate in \\u escape", at);
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
                        return fail("Unpaired high surrogate in \\u escape", at);
                    p_ += 2;
                    uint32_t low;
                    if (!parseHex4(low)) return false;
                    if (low < 0xDC00 || low > 0xDFFF) return fail("Unpaired high surrogate in \\u escape", at);
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUTF8(out, cp);
                return true;
            }
            default:
                return fail("Invalid escape", p_ - 2);
        }
    }

    // The elements of an array, each parsed into the value next() gives and then handed to
    // done(): kept in an array, or passed on to the sink one at a time.
    template <typename Next, typename Done>
    bool parseElements(int depth, Next&& next, Done&& done) {
        if (depth > kMaxDepth) return fail("Too deeply nested", p_);
        ++p_;
        skipSpace();
        if (p_ < end_ && *p_ == ']') {
            ++p_;
            return true;
        }
        for (;;) {
            skipSpace();
            if (p_ == end_) return fail("Unterminated array", p_);
            Value& element = next();
            if (!parseValue(element, depth)) return false;
            done(element);
            skipSpace();
            if (p_ == end_) return fail("Unterminated array", p_);
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ == ']') {
                ++p_;
                return true;
            }
            return fail("Expected ',' or ']' in array", p_);
        }
    }

    bool parseArray(Value& out, int depth) {
        Array array;
        if (!parseElements(
                depth, [&]() -> Value& { return array.emplace_back(); }, [](Value&) {}))
            return false;
        out = Value(std::move(array));
        return true;
    }

    bool streamArray(int depth) {
        sink_->begin();
        Value element;
        size_t before = decoded_;
        return parseElements(
            depth,
            [&]() -> Value& {
                before = decoded_;
                return element;
            },
            [&](Value& parsed) {
                sink_->element(parsed);
                parsed = Value();
                // Handed over and freed: what the element cost is free again.
                decoded_ = before;
            });
    }

    bool parseObject(Value& out, int depth) {
        if (depth > kMaxDepth) return fail("Too deeply nested", p_);
        ++p_;
        Dictionary dict;
        skipSpace();
        if (p_ < end_ && *p_ == '}') {
            ++p_;
            out = Value(std::move(dict));
            return true;
        }
        std::string key;
        for (;;) {
            skipSpace();
            if (p_ == end_) return fail("Unterminated object", p_);
            if (*p_ != '"') return fail("Expected string key in object", p_);
            key.clear();
            if (!parseString(key) || !charge(stringCost(key))) return false;
            skipSpace();
            if (p_ == end_ || *p_ != ':') return fail("Expected ':' after key", p_);
            ++p_;
            skipSpace();
            if (p_ == end_) return fail("Unterminated object", p_);
            const bool streamed = sink_ && depth == 1 && *p_ == '[' && key == streamedMember_;
            // A repeated key keeps its first place and takes the last value.
            Value& slot = dict[Key(std::move(key))];
            if (streamed) {
                slot = Value(Array());
                if (!streamArray(depth + 1)) return false;
            } else if (!parseValue(slot, depth)) {
                return false;
            }
            skipSpace();
            if (p_ == end_) return fail("Unterminated object", p_);
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ == '}') {
                ++p_;
                out = Value(std::move(dict));
                return true;
            }
            return fail("Expected ',' or '}' in object", p_);
        }
    }

    const unsigned char* begin_;
    const unsigned char* p_;
    const unsigned char* end_;
    std::string message_;
    size_t errorOffset_ = 0;
    std::string_view streamedMember_;
    const JSONArraySink* sink_ = nullptr;
    size_t decoded_ = 0;  // the estimated size of what the parse holds decoded now
};

class Writer {
public:
    explicit Writer(JSONWriteOptions options) : options_(options) {}

    bool write(const Value& v, int depth) {
        if (depth > kMaxDepth) return fail("Too deeply nested");
        switch (v.type()) {
            case Value::Type::Null:
                out_ += "null";
                return true;
            case Value::Type::Bool:
                out_ += *v.ifBool() ? "true" : "false";
                return true;
            case Value::Type::Int: {
                char buf[24];
                auto r = std::to_chars(buf, buf + sizeof buf, *v.ifInt());
                out_.append(buf, r.ptr);
                return true;
            }
            case Value::Type::Double: {
                const double d = *v.ifDouble();
                if (!std::isfinite(d)) return fail("Invalid number (infinite or NaN) in JSON write");
                char buf[40];
                auto r = std::to_chars(buf, buf + sizeof buf, d);
                out_.append(buf, r.ptr);
                return true;
            }
            case Value::Type::String:
                return writeString(*v.ifString());
            case Value::Type::Data:
                return fail("Invalid type in JSON write (data)");
            case Value::Type::Date:
                return fail("Invalid type in JSON write (date)");
            case Value::Type::Array: {
                const Array& a = *v.ifArray();
                if (a.empty()) {
                    out_ += "[]";
                    return true;
                }
                out_ += '[';
                bool first = true;
                for (const Value& item : a) {
                    if (!first) out_ += ',';
                    first = false;
                    newline(depth + 1);
                    if (!write(item, depth + 1)) return false;
                }
                newline(depth);
                out_ += ']';
                return true;
            }
            case Value::Type::Dictionary: {
                const Dictionary& d = *v.ifDictionary();
                if (d.empty()) {
                    out_ += "{}";
                    return true;
                }
                std::vector<const Dictionary::Entry*> entries;
                entries.reserve(d.size());
                for (const auto& e : d) {
                    if (!e.first.isString()) return fail("Invalid (non-string) key in JSON dictionary");
                    entries.push_back(&e);
                }
                if (options_.sortedKeys) {
                    std::sort(entries.begin(), entries.end(),
                              [](auto* a, auto* b) { return a->first.string() < b->first.string(); });
                }
                out_ += '{';
                bool first = true;
                for (const auto* e : entries) {
                    if (!first) out_ += ',';
                    first = false;
                    newline(depth + 1);
                    if (!writeString(e->first.string())) return false;
                    out_ += options_.pretty ? ": " : ":";
                    if (!write(e->second, depth + 1)) return false;
                }
                newline(depth);
                out_ += '}';
                return true;
            }
        }
        return fail("Invalid type in JSON write");
    }

    std::string take() { return std::move(out_); }
    const std::string& message() const { return message_; }

private:
    bool fail(const char* message) {
        message_ = message;
        return false;
    }

    void newline(int depth) {
        if (!options_.pretty) return;
        out_ += '\n';
        out_.append(static_cast<size_t>(depth) * 2, ' ');
    }

    bool writeString(const std::string& s) {
        if (!detail::isValidUTF8(s)) return fail("Invalid UTF-8 in string");
        static constexpr char kHex[] = "0123456789abcdef";
        out_ += '"';
        size_t run = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            out_.append(s, run, i - run);
            run = i + 1;
            switch (c) {
                case '"':
                    out_ += "\\\"";
                    break;
                case '\\':
                    out_ += "\\\\";
                    break;
                case '\n':
                    out_ += "\\n";
                    break;
                case '\r':
                    out_ += "\\r";
                    break;
                case '\t':
                    out_ += "\\t";
                    break;
                case '\b':
                    out_ += "\\b";
                    break;
                case '\f':
                    out_ += "\\f";
                    break;
                default:
                    out_ += "\\u00";
                    out_ += kHex[c >> 4];
                    out_ += kHex[c & 15];
            }
        }
        out_.append(s, run, std::string::npos);
        out_ += '"';
        return true;
    }

    JSONWriteOptions options_;
    std::string out_;
    std::string message_;
};

}  // namespace

Result<Value> parseJSON(std::string_view text) { return Parser(text).run(); }

Result<Value> parseJSON(std::string_view text, std::string_view member, const JSONArraySink& sink) {
    return Parser(text, member, sink).run();
}

Result<std::string> toJSON(const Value& value, JSONWriteOptions options) {
    Writer writer(options);
    if (!writer.write(value, 0)) {
        Dictionary info;
        info.set(kLocalizedDescriptionKey, Value(writer.message()));
        info.set("NSDebugDescription", Value(writer.message()));
        return Error(kCocoaErrorDomain, kJSONReadCorruptError, std::move(info));
    }
    return writer.take();
}

}  // namespace foundation
