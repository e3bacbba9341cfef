// An HTTP cookie as a value, the Set-Cookie parser that fills in the defaults a response URL
// implies, and the Cookie header builder. Which stored cookies go to which URL is the cookie
// jar's business; the builder formats exactly the cookies it is given.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/net/http_headers.h"

namespace net {

struct Cookie {
    std::string name;
    std::string value;
    // Lower case. A leading "." marks a cookie for the domain and its subdomains (one set with
    // a Domain attribute); without it the cookie was set for exactly that host.
    std::string domain;
    std::string path = "/";
    // Seconds since 1970; none for a session cookie.
    std::optional<double> expiresDate;
    bool secure = false;
    bool httpOnly = false;

    bool isSessionOnly() const { return !expiresDate.has_value(); }

    // One Set-Cookie field value, as set by a response for url. The now argument anchors
    // Max-Age. Fails for a cookie a user agent must ignore (no "=", empty name, a Domain the
    // host does not belong to, a URL without a host).
    static foundation::Result<Cookie> parseSetCookie(std::string_view fieldValue, std::string_view url, double now);
    // Every cookie the Set-Cookie fields of a response set, in order; ignored ones left out.
    static std::vector<Cookie> cookiesWithResponseHeaderFields(const HeaderMap& headers, std::string_view url,
                                                               double now);
    // The value of a Cookie header for these cookies ("a=1; b=2"), or none for no cookies.
    static std::optional<std::string> requestHeaderValue(const std::vector<Cookie>& cookies);

    // The cookie as a property dictionary (for archives) and back; decoding checks every type.
    foundation::Dictionary properties() const;
    static foundation::Result<Cookie> fromProperties(const foundation::Dictionary& properties);

    friend bool operator==(const Cookie&, const Cookie&) = default;
};

// A date in any of the forms servers write in Expires (the lenient cookie-date grammar), as
// seconds since 1970; none when it is not a date.
std::optional<double> parseCookieDate(std::string_view text);

// The path a cookie gets from a request path when it names none.
std::string defaultCookiePath(std::string_view requestPath);

// Whether a cookie of cookiePath goes to requestPath: equal, or a prefix that ends at a "/" of
// either ("/voice" goes to "/voice/b/0", never to "/voicemail"). Empty paths count as "/".
bool cookiePathMatches(std::string_view cookiePath, std::string_view requestPath);

}  // namespace net
