#include "platform/net/url_parts.h"

#include <arpa/inet.h>

#include "platform/foundation/strings.h"
#include "platform/foundation/url.h"

namespace net {

bool isIPAddress(std::string_view host) {
    std::string h(host);
    unsigned char buf[16];
    return inet_pton(AF_INET, h.c_str(), buf) == 1 || inet_pton(AF_INET6, h.c_str(), buf) == 1;
}

std::optional<URLParts> URLParts::parse(std::string_view url) {
    auto parsed = foundation::URL::parseLenient(url);
    if (!parsed || !parsed->scheme() || !parsed->hasAuthority()) return std::nullopt;
    std::string_view host = parsed->percentEncodedHost();
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) return std::nullopt;
    URLParts p;
    p.scheme = foundation::asciiLowercase(*parsed->scheme());
    p.host = foundation::asciiLowercase(host);
    if (parsed->port()) p.port = *parsed->port();
    p.path = parsed->percentEncodedPath();
    if (parsed->query()) {
        p.hasQuery = true;
        p.query = *parsed->query();
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
    if (!URLParts::parse(base)) return std::nullopt;
    auto from = foundation::URL::parseLenient(base);
    // Surrounding whitespace is not part of a header value's URL, and the fragment stays with
    // the client.
    while (!reference.empty() && (reference.front() == ' ' || reference.front() == '\t')) reference.remove_prefix(1);
    while (!reference.empty() && (reference.back() == ' ' || reference.back() == '\t')) reference.remove_suffix(1);
    if (size_t hashAt = reference.find('#'); hashAt != std::string_view::npos) reference = reference.substr(0, hashAt);
    auto ref = foundation::URL::parseLenient(reference);
    if (!from || !ref) return std::nullopt;
    auto target = from->resolve(ref->string());
    if (!target || !URLParts::parse(target->string())) return std::nullopt;
    // Without a fragment of its own the target carries none (the base's is the client's).
    std::string text = target->string();
    if (size_t hashAt = text.find('#'); hashAt != std::string::npos) text.resize(hashAt);
    return text;
}

}  // namespace net
