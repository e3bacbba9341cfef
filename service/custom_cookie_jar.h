// The per-account cookie store. The network layer never keeps cookies; the request
// machinery feeds every response into the account's jar and asks it for each request's
// Cookie header, so that accounts never see one another's session.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/foundation/value.h"
#include "platform/net/cookie.h"
#include "platform/net/url_request.h"

class CustomCookieJar {
public:
    CustomCookieJar();
    // A jar holding a copy of cookies (an unarchived jar, or the sign-in web view's cookies).
    explicit CustomCookieJar(std::vector<net::Cookie> cookies);

    // Stores the cookies the response sets for its URL; ones that arrive already expired are
    // ignored and leave a stored namesake alone.
    void updateFromResponse(const net::HTTPURLResponse& response);
    // Sets the request's Cookie header from the matching cookies; with none it removes it.
    void addCookiesToRequest(net::URLRequest& request);
    // The stored cookies that match url, in store order; none when no cookie matches. Outside
    // callers hold lock() around it.
    std::optional<std::vector<net::Cookie>> cookiesForURL(const std::string& url);
    // The first stored cookie with the same name, domain and path.
    std::optional<net::Cookie> cookieMatchingCookie(const net::Cookie& cookie) const;
    void removeExpiredCookies();
    void empty();
    size_t numberOfCookies() const;

    std::vector<net::Cookie> _cookies() const;
    void set_cookies(std::vector<net::Cookie> cookies);

    // The jar's monitor, for callers that build a Cookie header themselves.
    foundation::RecursiveMutex& lock() const HX_RETURN_CAPABILITY(mutex_) { return mutex_; }

    // The cookie array as an archivable value (an array of property dictionaries), and a jar's
    // cookies back from one; malformed entries are dropped, never half-read.
    foundation::Value archiveValue() const;
    static std::vector<net::Cookie> cookiesFromArchiveValue(const foundation::Value& value);

    // The keyed archive of the cookie array (what the "cookies" preference keeps per account),
    // and the cookies of such an archive; an archive that is not one is an error.
    foundation::Result<foundation::Data> archivedCookies() const;
    static foundation::Result<std::vector<net::Cookie>> cookiesFromArchive(const foundation::Data& archive);

    // Where "now" comes from (seconds since 1970) for expiry; the process clock by default.
    void setClock(std::function<double()> wallNow);

private:
    mutable foundation::RecursiveMutex mutex_;
    std::vector<net::Cookie> cookies_ HX_GUARDED_BY(mutex_);
    std::function<double()> wallNow_ HX_GUARDED_BY(mutex_);
};
