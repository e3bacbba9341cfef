#include "platform/foundation/format.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "platform/foundation/strings.h"

namespace foundation {
namespace {

struct Spec {
    std::string flags;
    int width = -1;
    int precision = -1;
    std::string length;
    char conversion = 0;
};

class Arguments {
public:
    explicit Arguments(const std::vector<Value>& args) : args_(args) {}
    const Value& next() { return at(next_++); }
    const Value& at(size_t index) const { return index < args_.size() ? args_[index] : Value::null(); }
    // A positional reference moves the sequential cursor past it, as C's mixed use does in practice.
    const Value& positional(size_t oneBased) {
        next_ = oneBased;
        return at(oneBased - 1);
    }

private:
    const std::vector<Value>& args_;
    size_t next_ = 0;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads digits at i; returns -1 when there are none. Large values saturate so no overflow happens.
int readNumber(std::string_view f, size_t& i) {
    if (i >= f.size() || !isDigit(f[i])) return -1;
    long long n = 0;
    while (i < f.size() && isDigit(f[i])) {
        n = std::min(n * 10 + (f[i] - '0'), 100000LL);
        ++i;
    }
    return static_cast<int>(n);
}

// "*" or "*n$": a width or precision taken from the arguments.
int readStar(std::string_view f, size_t& i, Arguments& args) {
    ++i;  // '*'
    size_t j = i;
    const int pos = readNumber(f, j);
    if (pos > 0 && j < f.size() && f[j] == '$') {
        i = j + 1;
        return static_cast<int>(args.positional(static_cast<size_t>(pos)).int64Value());
    }
    return static_cast<int>(args.next().int64Value());
}

std::string cSpec(const Spec& s, const char* lengthAndConversion) {
    std::string out = "%" + s.flags;
    if (s.width >= 0) out += std::to_string(s.width);
    if (s.precision >= 0) out += "." + std::to_string(s.precision);
    out += lengthAndConversion;
    return out;
}

template <typename T>
std::string cFormat(const std::string& spec, T value) {
    char buffer[128];
    int n = std::snprintf(buffer, sizeof buffer, spec.c_str(), value);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), spec.c_str(), value);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::string textOf(const Value& v, bool objectConversion) {
    switch (v.type()) {
        case Value::Type::Null:
            return "(null)";
        case Value::Type::String:
            return v.asString();
        case Value::Type::Bool:
            // An object conversion of a boolean number prints 1/0, as numbers do.
            return objectConversion ? (*v.ifBool() ? "1" : "0") : v.stringValue();
        case Value::Type::Int:
        case Value::Type::Double:
            return v.stringValue();
        default:
            return v.description();
    }
}

// Width and precision for text count UTF-16 units, and precision never cuts a character.
std::string padText(std::string text, const Spec& s) {
    if (s.precision >= 0) text = truncateUtf16(text, static_cast<size_t>(s.precision));
    if (s.width > 0) {
        const size_t len = utf16Length(text);
        if (len < static_cast<size_t>(s.width)) {
            const std::string pad(static_cast<size_t>(s.width) - len, ' ');
            text = s.flags.find('-') != std::string::npos ? text + pad : pad + text;
        }
    }
    return text;
}

std::string formatInteger(const Spec& s, const Value& v) {
    const int64_t n = v.int64Value();
    const bool wide = s.length == "l" || s.length == "ll" || s.length == "q" || s.length == "z" || s.length == "t" ||
                      s.length == "j" || s.length == "L";
    const bool isSigned = s.conversion == 'd' || s.conversion == 'i';
    char conv[8] = {};
    if (isSigned) {
        if (wide) return cFormat(cSpec(s, "lld"), static_cast<long long>(n));
        int32_t narrow = static_cast<int32_t>(n);
        if (s.length == "h") narrow = static_cast<int16_t>(n);
        if (s.length == "hh") narrow = static_cast<int8_t>(n);  // NOLINT(bugprone-signed-char-misuse): %hhd is signed
        return cFormat(cSpec(s, "d"), static_cast<int>(narrow));
    }
    if (wide) {
        std::snprintf(conv, sizeof conv, "ll%c", s.conversion);
        return cFormat(cSpec(s, conv), static_cast<unsigned long long>(n));
    }
    uint32_t narrow = static_cast<uint32_t>(n);
    if (s.length == "h") narrow = static_cast<uint16_t>(n);
    if (s.length == "hh") narrow = static_cast<uint8_t>(n);
    std::snprintf(conv, sizeof conv, "%c", s.conversion);
    return cFormat(cSpec(s, conv), static_cast<unsigned>(narrow));
}

}  // namespace

std::string formatString(std::string_view f, const std::vector<Value>& arguments) {
    Arguments args(arguments);
    std::string out;
    out.reserve(f.size() + 16);
    size_t i = 0;
    while (i < f.size()) {
        const char c = f[i];
        if (c != '%') {
            out.push_back(c);
            ++i;
            continue;
        }
        const size_t start = i;
        ++i;
        if (i < f.size() && f[i] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        Spec spec;
        // "%n$": an explicit argument position.
        std::optional<size_t> position;
        {
            size_t j = i;
            const int pos = readNumber(f, j);
            if (pos > 0 && j < f.size() && f[j] == '$') {
                position = static_cast<size_t>(pos);
                i = j + 1;
            }
        }
        while (i < f.size() && std::string_view("-+ #0'").find(f[i]) != std::string_view::npos) {
            if (f[i] != '\'' && spec.flags.find(f[i]) == std::string::npos) spec.flags.push_back(f[i]);
            ++i;
        }
        if (i < f.size() && f[i] == '*') {
            spec.width = readStar(f, i, args);
            if (spec.width < 0) {
                spec.flags += '-';
                spec.width = -spec.width;
            }
        } else {
            spec.width = readNumber(f, i);
        }
        if (i < f.size() && f[i] == '.') {
            ++i;
            if (i < f.size() && f[i] == '*') {
                spec.precision = readStar(f, i, args);
            } else {
                const int p = readNumber(f, i);
                spec.precision = p < 0 ? 0 : p;
            }
        }
        while (i < f.size() && std::string_view("hlqLztj").find(f[i]) != std::string_view::npos) {
            spec.length.push_back(f[i]);
            ++i;
        }
        if (i >= f.size()) {
            out.append(f.substr(start));
            break;
        }
        spec.conversion = f[i++];
        auto argument = [&]() -> const Value& { return position ? args.positional(*position) : args.next(); };
        switch (spec.conversion) {
            case '@':
                out += padText(textOf(argument(), true), spec);
                break;
            case 's':
            case 'S':
                out += padText(textOf(argument(), false), spec);
                break;
            case 'c':
            case 'C': {
                std::string ch;
                const int64_t cp = argument().int64Value();
                if (cp > 0) appendUtf8(ch, static_cast<char32_t>(cp));
                Spec textSpec = spec;
                textSpec.precision = -1;
                out += padText(ch, textSpec);
                break;
            }
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 'o':
            case 'D':
            case 'U':
            case 'O': {
                Spec s = spec;
                if (s.conversion == 'D' || s.conversion == 'U' || s.conversion == 'O') {
                    // The upper-case forms are long conversions.
                    s.conversion = static_cast<char>(s.conversion - 'A' + 'a');
                    s.length = "l";
                }
                out += formatInteger(s, argument());
                break;
            }
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
            case 'a':
            case 'A': {
                const char conv[2] = {spec.conversion, 0};
                out += cFormat(cSpec(spec, conv), argument().doubleValue());
                break;
            }
            case 'p': {
                Spec s = spec;
                s.flags += '#';
                out += cFormat(cSpec(s, "llx"), static_cast<unsigned long long>(argument().int64Value()));
                break;
            }
            default:
                // Not a conversion: keep the text as written.
                out.append(f.substr(start, i - start));
                break;
        }
    }
    return out;
}

}  // namespace foundation
