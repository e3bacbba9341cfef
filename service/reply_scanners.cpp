// Scanners for values buried in service pages and error replies. Written as forward scans,
// not regular expressions: pages run to megabytes, and a backtracking engine recurses per
// character.
#include <cstring>

#include "service/request_machinery.h"

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// From pos: the first occurrence of "client_flags", any one character, "response".
size_t findClientFlagsResponse(std::string_view t, size_t pos) {
    static constexpr std::string_view a = "client_flags";
    static constexpr std::string_view b = "response";
    while (true) {
        size_t i = t.find(a, pos);
        if (i == std::string_view::npos) return i;
        size_t j = i + a.size() + 1;
        if (j <= t.size() && t.substr(j, b.size()) == b) return j + b.size();
        pos = i + 1;
    }
}

}  // namespace

std::optional<std::string> HXParseAuthV2FromString(std::string_view t) {
    if (t.find("_hx.pageProto") == std::string_view::npos) return std::nullopt;
    static constexpr std::string_view head = "_hx.pageProto['ClientFlags']";
    size_t pos = 0;
    while (true) {
        size_t h = t.find(head, pos);
        if (h == std::string_view::npos) return std::nullopt;
        pos = h + 1;
        size_t i = h + head.size();
        while (i < t.size() && isSpace(t[i])) ++i;
        if (i >= t.size() || t[i] != '=') continue;
        ++i;
        while (i < t.size() && isSpace(t[i])) ++i;
        if (i >= t.size() || t[i] != '[') continue;
        ++i;
        // Later choices of the lazy steps below only see a suffix of what the earliest ones
        // see, so when the earliest fail, this head cannot match at all; nor can a later head.
        size_t r = findClientFlagsResponse(t, i);
        if (r == std::string_view::npos) return std::nullopt;
        size_t s = t.find("https://", r);
        if (s == std::string_view::npos) return std::nullopt;
        size_t k = s + 8;
        while (true) {
            size_t q = t.find(",\"", k);
            if (q == std::string_view::npos) return std::nullopt;
            size_t v = q + 2;
            size_t e = v;
            while (e < t.size() && t[e] != '"') ++e;
            if (e > v) return std::string(t.substr(v, e - v));
            k = q + 1;
        }
    }
}

std::optional<std::string> HXSMSErrorCodeFromText(std::string_view t) {
    static constexpr std::string_view key = "error_code\":\"";
    size_t i = t.find(key);
    if (i == std::string_view::npos) return std::nullopt;
    size_t v = i + key.size();
    size_t e = t.find('"', v);
    if (e == std::string_view::npos) e = t.size();
    return std::string(t.substr(v, e - v));
}
