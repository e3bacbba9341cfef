// URLs (RFC 3986 references): parsing into components, resolving a relative reference against a
// base, building from decoded components, and percent-encoding with the per-component allowed sets.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/strings.h"

namespace foundation {

// Escapes, as %XX with upper-case hex digits, every UTF-8 byte of a character outside allowed.
std::string percentEncode(std::string_view text, const CharacterSet& allowed);
// One name or value of a query: the URL-query allowed set without what separates items and names
// from values ("&", "=", "+"; "#" is never allowed), so "Tom & Jerry" or "+44 #2" come back whole
// when the query is read.
std::string queryItemEncoded(std::string_view text);
// Decodes %XX escapes. Nothing when an escape is malformed ("%", "%4", "%G1") or when the decoded
// bytes are not UTF-8. "+" is left alone.
std::optional<std::string> percentDecode(std::string_view text);
// The same for binary payloads: only malformed escapes fail.
std::optional<Data> percentDecodeBytes(std::string_view text);

struct QueryItem {
    std::string name;
    std::optional<std::string> value;  // nothing for "name" without "="
    friend bool operator==(const QueryItem&, const QueryItem&) = default;
};

class URL {
public:
    // Parses an absolute URL or a relative reference. Fails on characters that must be escaped
    // (spaces, controls, non-ASCII, quotes, "<>\^`{|}"), malformed escapes, a port that is not a
    // number up to 65535, and brackets outside an IPv6 host.
    static std::optional<URL> parse(std::string_view text);
    // Parses text as peers write it (a Location header, a request line): what parse refuses
    // byte by byte is percent-encoded first (spaces, controls, non-ASCII, quotes, "<>\\^`{|}",
    // a "%" that starts no escape, brackets outside the host); the result still fails where the
    // structure does (a bad port, an unclosed host bracket).
    static std::optional<URL> parseLenient(std::string_view text);
    // "file://" plus the absolute path, percent-encoded.
    static URL fileURL(std::string_view path);

    // The text of the URL (recomposed from the components, which keeps what was parsed).
    const std::string& string() const { return text_; }

    // Components as written (still percent-encoded) ...
    const std::optional<std::string>& scheme() const { return scheme_; }
    bool hasAuthority() const { return hasAuthority_; }
    const std::optional<std::string>& percentEncodedUser() const { return user_; }
    const std::optional<std::string>& percentEncodedPassword() const { return password_; }
    const std::string& percentEncodedHost() const { return host_; }
    const std::string& percentEncodedPath() const { return path_; }
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }
    std::optional<int> port() const { return port_; }

    // ... and decoded once (nothing when absent or when its escapes do not decode).
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    // The host decoded, without IPv6 brackets; nothing when there is no authority.
    std::optional<std::string> host() const;
    std::string path() const;
    // The query's "name=value" pairs split at "&", names and values decoded once (an undecodable
    // piece is kept as written). An absent or empty query gives no items.
    std::vector<QueryItem> queryItems() const;

    bool isFileURL() const;
    std::string lastPathComponent() const;
    std::string pathExtension() const;

    // The target of reference resolved against this URL (RFC 3986 section 5.2), or nothing when the
    // reference does not parse.
    std::optional<URL> resolve(std::string_view reference) const;

    friend bool operator==(const URL& a, const URL& b) { return a.text_ == b.text_; }

private:
    friend struct URLComponents;
    void recompose();

    std::string text_;
    std::optional<std::string> scheme_;
    bool hasAuthority_ = false;
    std::optional<std::string> user_;
    std::optional<std::string> password_;
    std::string host_;
    std::optional<int> port_;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
};

// A URL assembled from decoded parts; url() escapes each with its component's allowed set (names
// and values of query items additionally escape "&", "=" and "+").
struct URLComponents {
    std::optional<std::string> scheme;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::optional<std::string> host;
    std::optional<int> port;
    std::string path;
    std::optional<std::vector<QueryItem>> queryItems;
    std::optional<std::string> fragment;

    // Nothing when the parts cannot form a URL (a bad scheme, a port out of range, or a path that
    // does not start with "/" while a host is present).
    std::optional<URL> url() const;
};

}  // namespace foundation
