#include "service/http_extensions.h"

#include <string_view>

namespace {

std::string escape(std::string_view text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool reserved = c >= 0x80 || c < 0x20 || c == 0x7F ||
                        std::string_view(";:@&=/+%?").find(static_cast<char>(c)) != std::string_view::npos;
        if (reserved) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The text a value stands for in a form: strings as they are, numbers and booleans in their
// usual form, anything else its description.
std::string describe(const foundation::Value& value) {
    if (value.isString() || value.isNumber() || value.isBool()) return value.stringValue();
    if (value.isNull()) return "<null>";
    return value.description();
}

void appendPairs(std::string& out, const std::string& key, const foundation::Value& value) {
    auto append = [&](const foundation::Value& element) {
        out += key;
        out += '=';
        out += escape(describe(element));
        out += '&';
    };
    if (const auto* array = value.ifArray()) {
        for (const auto& element : *array) append(element);
    } else if (const auto* dict = value.ifDictionary()) {
        for (const auto& [k, element] : *dict) append(element);
    } else {
        append(value);
    }
}

}  // namespace

std::string formatForHTTP(const foundation::Dictionary& dictionary) {
    return formatForHTTPUsingEncoding(dictionary, StringEncoding::ASCII);
}

std::string formatForHTTPUsingEncoding(const foundation::Dictionary& dictionary, StringEncoding encoding) {
    return formatForHTTPUsingEncoding(dictionary, encoding, std::nullopt);
}

std::string formatForHTTPUsingEncoding(const foundation::Dictionary& dictionary, StringEncoding,
                                       const std::optional<std::vector<foundation::Key>>& ordering) {
    std::string out;
    std::vector<foundation::Key> keys = ordering ? *ordering : dictionary.keys();
    for (const auto& key : keys) {
        std::string escapedKey = escape(key.isString() ? key.string() : std::to_string(key.number()));
        appendPairs(out, escapedKey, dictionary.get(key));
    }
    if (!out.empty()) out.pop_back();
    return out;
}
