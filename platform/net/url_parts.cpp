#include "platform/net/url_parts.h"

#include <arpa/inet.h>

#include <vector>

#include "platform/foundation/strings.h"

namespace net {

namespace {

bool isSchemeChar(char c, bool first) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    if (first) return false;
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// Length of the scheme (before ':'), or 0 when the text does not start with one.
size_t schemeLength(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == ':') return i;
        if (!isSchemeChar(s[i], i == 0)) return 0;
    }
    return 0;
}

std::string removeDotSegments(std::string_view path) {
    std::vector<std::string> out;
    size_t i = 0;
    bool absolute = !path.empty() && path[0] == '/';
    if (absolute) i = 1;
    bool trailingSlash = false;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos) j = path.size();
        std::string_view seg = path.substr(i, j - i);
        bool last = j == path.size();
        if (seg == ".") {
            trailingSlash = true;
        } else if (seg == "..") {
            if (!out.empty()) out.pop_back();
            trailingSlash = true;
        } else {
            out.emplace_back(seg);
            trailingSlash = false;
        }
        if (last) break;
        i = j + 1;
    }
    std::string result = absolute ? "/" : "";
    for (size_t k = 0; k < out.size(); ++k) {
        if (k) result += '/';
        result += out[k];
    }
    if (trailingSlash && !result.empty() && result.back() != '/') result += '/';
    return result;
}

}  // namespace

bool isIPAddress(std::string_view host) {
    std::string h(host);
    unsigned char buf[16];
    return inet_pton(AF_INET, h.c_str(), buf) == 1 || inet_pton(AF_INET6, h.c_str(), buf) == 1;
}

std::optional<URLParts> URLParts::parse(std::string_view url) {
    size_t schemeLen = schemeLength(url);
    if (schemeLen == 0 || url.substr(schemeLen, 3) != "://") return std::nullopt;
    URLParts p;
    p.scheme = foundation::asciiLowercase(url.substr(0, schemeLen));
    std::string_view rest = url.substr(schemeLen + 3);
    size_t hashAt = rest.find('#');
    if (hashAt != std::string_view::npos) rest = rest.substr(0, hashAt);
    size_t authorityEnd = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view tail = authorityEnd == std::string_view::npos ? std::string_view{} : rest.substr(authorityEnd);
    if (size_t at = authority.rfind('@'); at != std::string_view::npos) authority = authority.substr(at + 1);
    std::string_view hostPart = authority;
    std::string_view portPart;
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        hostPart = authority.substr(1, close - 1);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return std::nullopt;
            portPart = after.substr(1);
        }
    } else if (size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        hostPart = authority.substr(0, colon);
        portPart = authority.substr(colon + 1);
    }
    if (hostPart.empty()) return std::nullopt;
    p.host = foundation::asciiLowercase(hostPart);
    if (!portPart.empty()) {
        if (portPart.size() > 5) return std::nullopt;
        int port = 0;
        for (char c : portPart) {
            if (c < '0' || c > '9') return std::nullopt;
            port = port * 10 + (c - '0');
        }
        if (port > 65535) return std::nullopt;
        p.port = port;
    }
    size_t q = tail.find('?');
    p.path = std::string(tail.substr(0, q));
    if (q != std::string_view::npos) {
        p.hasQuery = true;
        p.query = std::string(tail.substr(q + 1));
    }
    return p;
}

int URLParts::effectivePort() const {
    if (port >= 0) return port;
    if (scheme == "https") return 443;
    if (scheme == "http") return 80;
    return -1;
}

std::string URLParts::origin() const {
    std::string o = scheme + "://";
    o += host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port >= 0) o += ":" + std::to_string(port);
    return o;
}

std::optional<std::string> resolveURL(std::string_view base, std::string_view reference) {
    auto b = URLParts::parse(base);
    if (!b) return std::nullopt;
    // Surrounding whitespace is not part of a header value's URL.
    while (!reference.empty() && (reference.front() == ' ' || reference.front() == '\t')) reference.remove_prefix(1);
    while (!reference.empty() && (reference.back() == ' ' || reference.back() == '\t')) reference.remove_suffix(1);
    if (size_t hashAt = reference.find('#'); hashAt != std::string_view::npos) reference = reference.substr(0, hashAt);
    if (size_t len = schemeLength(reference); len > 0) {
        if (!URLParts::parse(reference)) return std::nullopt;
        return std::string(reference);
    }
    if (reference.substr(0, 2) == "//") {
        std::string candidate = b->scheme + ":" + std::string(reference);
        if (!URLParts::parse(candidate)) return std::nullopt;
        return candidate;
    }
    std::string origin = b->origin();
    if (reference.empty()) return origin + b->path + (b->hasQuery ? "?" + b->query : "");
    if (reference[0] == '?') return origin + (b->path.empty() ? "/" : b->path) + std::string(reference);
    std::string_view refPath = reference;
    std::string_view refQuery;
    if (size_t q = reference.find('?'); q != std::string_view::npos) {
        refPath = reference.substr(0, q);
        refQuery = reference.substr(q);
    }
    std::string merged;
    if (!refPath.empty() && refPath[0] == '/') {
        merged = std::string(refPath);
    } else {
        std::string basePath = b->path.empty() ? "/" : b->path;
        merged = basePath.substr(0, basePath.rfind('/') + 1) + std::string(refPath);
    }
    return origin + removeDotSegments(merged) + std::string(refQuery);
}

}  // namespace net
