// The web view's cookie store: filled from every response and redirect a page load receives and
// the only source of the Cookie headers it sends. It is kept apart from the accounts' cookie
// jars. Cookies keep their creation dates so that "remove data modified since" can honour them.
//
// Web views share one store by default, backed by the process-wide cookie storage of the
// network layer: what the app copies there (an account's cookies before a re-sign-in) is what
// the sign-in page sees. A view can be given a private store instead.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/thread_annotations.h"
#include "platform/net/cookie.h"

namespace net {
class HTTPCookieStorage;
}

namespace web {

class HTTPCookieStore {
public:
    virtual ~HTTPCookieStore() = default;

    virtual std::vector<net::Cookie> allCookies() const = 0;
    // Stores cookie (replacing one with the same name, domain and path, keeping its creation
    // date); a cookie whose expiry has passed removes the stored one instead.
    virtual void setCookie(const net::Cookie& cookie) = 0;
    virtual void deleteCookie(const net::Cookie& cookie) = 0;
    // Removes every cookie created at or after since (seconds since 1970). Cookies whose
    // creation this store did not see count as created at 0, so removing since 1970 removes all.
    virtual void removeDataModifiedSince(double since) = 0;

    // The cookies to send to url now: the host equals the cookie's domain or ends with it on a
    // label boundary (host-only cookies: equal only), the path is the cookie's path or below it,
    // secure cookies only over https, expired ones never. Longer paths first.
    std::vector<net::Cookie> cookiesForURL(std::string_view url) const;
    // Stores every cookie of a response's Set-Cookie fields for url.
    void setCookiesFromResponse(const net::HeaderMap& headers, std::string_view url);

    // The store web views use when given none: over net::HTTPCookieStorage's shared storage.
    static std::shared_ptr<HTTPCookieStore> defaultStore();
};

// A store of its own, in memory.
class MemoryCookieStore : public HTTPCookieStore {
public:
    std::vector<net::Cookie> allCookies() const override;
    void setCookie(const net::Cookie& cookie) override;
    void deleteCookie(const net::Cookie& cookie) override;
    void removeDataModifiedSince(double since) override;

private:
    struct Entry {
        net::Cookie cookie;
        double created;
    };
    mutable foundation::Mutex mutex_;
    std::vector<Entry> entries_ HX_GUARDED_BY(mutex_);
};

// A store over a process-wide cookie storage; creation dates live here, keyed by the cookie's
// name, domain and path.
class SharedCookieStore : public HTTPCookieStore {
public:
    explicit SharedCookieStore(net::HTTPCookieStorage& storage) : storage_(storage) {}
    std::vector<net::Cookie> allCookies() const override;
    void setCookie(const net::Cookie& cookie) override;
    void deleteCookie(const net::Cookie& cookie) override;
    void removeDataModifiedSince(double since) override;

private:
    net::HTTPCookieStorage& storage_;
    mutable foundation::Mutex mutex_;
    std::map<std::string, double> created_ HX_GUARDED_BY(mutex_);
};

// True when a cookie for domain (lower case, a leading "." for domain cookies) goes to host.
bool cookieDomainMatches(std::string_view domain, std::string_view host);
// True when a cookie for cookiePath goes to requestPath.
bool cookiePathMatches(std::string_view cookiePath, std::string_view requestPath);

}  // namespace web
