// The pieces of an absolute http(s) URL that the network layer needs (scheme, host, port,
// path, query), and resolution of a redirect's Location against the URL it came from.
// Lenient by design: anything unparseable is reported, never guessed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace net {

struct URLParts {
    std::string scheme;  // lower case
    std::string host;    // lower case; IPv6 literals without brackets
    int port = -1;       // -1 when the URL names none
    std::string path;    // as written (percent escapes kept); "" when the URL has none
    std::string query;   // without "?"; empty when none
    bool hasQuery = false;

    // Parses an absolute URL with an authority ("scheme://host..."); nothing otherwise.
    static std::optional<URLParts> parse(std::string_view url);

    // The port that will be used: the explicit one or the scheme's default (80, 443).
    int effectivePort() const;
    // "scheme://host[:port]" as written (brackets around an IPv6 host).
    std::string origin() const;
};

// The URL a reference (a Location header value) points to from base; nothing when either is
// unusable. Follows the reference-resolution rules of URIs, dot segments included.
std::optional<std::string> resolveURL(std::string_view base, std::string_view reference);

// True for a dotted IPv4 or an IPv6 literal.
bool isIPAddress(std::string_view host);

}  // namespace net
