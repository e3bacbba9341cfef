#include "platform/net/http_headers.h"

#include <algorithm>

namespace net {

namespace {
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

void HeaderMap::set(std::string_view name, std::string_view value) {
    auto first =
        std::find_if(fields_.begin(), fields_.end(), [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
    if (first == fields_.end()) {
        fields_.emplace_back(std::string(name), std::string(value));
        return;
    }
    first->second = std::string(value);
    auto rest =
        std::remove_if(first + 1, fields_.end(), [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
    fields_.erase(rest, fields_.end());
}

void HeaderMap::add(std::string_view name, std::string_view value) {
    fields_.emplace_back(std::string(name), std::string(value));
}

bool HeaderMap::remove(std::string_view name) {
    auto rest = std::remove_if(fields_.begin(), fields_.end(),
                               [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
    bool removed = rest != fields_.end();
    fields_.erase(rest, fields_.end());
    return removed;
}

std::optional<std::string> unsafeRequestField(const HeaderMap& headers) {
    auto breaksLine = [](char c) { return c == '\r' || c == '\n' || c == '\0'; };
    for (const auto& [name, value] : headers.fields()) {
        if (name.empty()) return std::string("a header field has no name");
        for (char c : name)
            if (breaksLine(c) || c == ':' || c == ' ' || c == '\t')
                return std::string("a header field name holds a CR, LF, NUL, colon or blank");
        for (char c : value)
            if (breaksLine(c)) return "the value of the header field \"" + name + "\" holds a CR, LF or NUL character";
    }
    return std::nullopt;
}

std::optional<std::string> HeaderMap::get(std::string_view name) const {
    for (const auto& f : fields_)
        if (equalsIgnoringCase(f.first, name)) return f.second;
    return std::nullopt;
}

std::vector<std::string> HeaderMap::getAll(std::string_view name) const {
    std::vector<std::string> out;
    for (const auto& f : fields_)
        if (equalsIgnoringCase(f.first, name)) out.push_back(f.second);
    return out;
}

}  // namespace net
