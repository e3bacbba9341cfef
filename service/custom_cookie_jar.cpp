#include "service/custom_cookie_jar.h"

#include <algorithm>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/strings.h"
#include "platform/net/url_parts.h"

namespace {

double processWallNow() { return dispatch::wallNow(); }

// Whether a cookie of domain (lower case, maybe with a leading dot) goes to host. The match
// needs a label boundary, so that "example.test" never reaches "badexample.test".
bool domainMatches(const std::string& host, const std::string& domain) {
    std::string bare = (!domain.empty() && domain[0] == '.') ? domain.substr(1) : domain;
    if (host == bare) return true;
    return host.size() > bare.size() && host.compare(host.size() - bare.size(), bare.size(), bare) == 0 &&
           host[host.size() - bare.size() - 1] == '.';
}

bool sameCookie(const net::Cookie& a, const net::Cookie& b) {
    return a.name == b.name && a.domain == b.domain && a.path == b.path;
}

}  // namespace

CustomCookieJar::CustomCookieJar() : wallNow_(processWallNow) {}

CustomCookieJar::CustomCookieJar(std::vector<net::Cookie> cookies)
    : cookies_(std::move(cookies)), wallNow_(processWallNow) {}

void CustomCookieJar::setClock(std::function<double()> wallNow) {
    std::lock_guard lock(mutex_);
    wallNow_ = wallNow ? std::move(wallNow) : processWallNow;
}

void CustomCookieJar::updateFromResponse(const net::HTTPURLResponse& response) {
    if (response.headers.empty()) return;
    std::lock_guard lock(mutex_);
    double now = wallNow_();
    auto parsed = net::Cookie::cookiesWithResponseHeaderFields(response.headers, response.url, now);
    if (parsed.empty()) return;
    removeExpiredCookies();
    for (auto& cookie : parsed) {
        if (cookie.name.empty()) continue;
        if (cookie.expiresDate && *cookie.expiresDate <= now) continue;
        auto it =
            std::find_if(cookies_.begin(), cookies_.end(), [&](const net::Cookie& c) { return sameCookie(c, cookie); });
        if (it != cookies_.end()) cookies_.erase(it);
        cookies_.push_back(std::move(cookie));
    }
}

std::optional<std::vector<net::Cookie>> CustomCookieJar::cookiesForURL(const std::string& url) {
    std::lock_guard lock(mutex_);
    if (cookies_.empty()) return std::nullopt;
    removeExpiredCookies();
    auto parts = net::URLParts::parse(url);
    std::string host = parts ? parts->host : std::string();
    std::string path = parts ? parts->path : std::string();
    std::string scheme = parts ? parts->scheme : std::string();
    std::vector<net::Cookie> matching;
    for (const auto& cookie : cookies_) {
        if (cookie.name.empty()) continue;
        if (!domainMatches(host, foundation::asciiLowercase(cookie.domain))) continue;
        if (!net::cookiePathMatches(cookie.path, path)) continue;
        if (cookie.secure && scheme != "https") continue;
        matching.push_back(cookie);
    }
    if (matching.empty()) return std::nullopt;
    return matching;
}

void CustomCookieJar::addCookiesToRequest(net::URLRequest& request) {
    std::lock_guard lock(mutex_);
    // The jar speaks for the header alone: a value left from another host (a redirect's
    // request starts as a copy of the last one) must never go out.
    request.removeValueForHTTPHeaderField("Cookie");
    auto cookies = cookiesForURL(request.url());
    if (!cookies) return;
    if (auto header = net::Cookie::requestHeaderValue(*cookies)) request.setValue(*header, "Cookie");
}

std::optional<net::Cookie> CustomCookieJar::cookieMatchingCookie(const net::Cookie& cookie) const {
    std::lock_guard lock(mutex_);
    for (const auto& c : cookies_)
        if (sameCookie(c, cookie)) return c;
    return std::nullopt;
}

void CustomCookieJar::removeExpiredCookies() {
    std::lock_guard lock(mutex_);
    double now = wallNow_();
    std::erase_if(cookies_, [&](const net::Cookie& c) { return c.expiresDate && !(*c.expiresDate > now); });
}

void CustomCookieJar::empty() {
    std::lock_guard lock(mutex_);
    cookies_.clear();
}

size_t CustomCookieJar::numberOfCookies() const {
    std::lock_guard lock(mutex_);
    return cookies_.size();
}

std::vector<net::Cookie> CustomCookieJar::_cookies() const {
    std::lock_guard lock(mutex_);
    return cookies_;
}

void CustomCookieJar::set_cookies(std::vector<net::Cookie> cookies) {
    std::lock_guard lock(mutex_);
    cookies_ = std::move(cookies);
}

foundation::Value CustomCookieJar::archiveValue() const {
    std::lock_guard lock(mutex_);
    foundation::Array array;
    for (const auto& c : cookies_) array.emplace_back(c.properties());
    return foundation::Value(std::move(array));
}

std::vector<net::Cookie> CustomCookieJar::cookiesFromArchiveValue(const foundation::Value& value) {
    std::vector<net::Cookie> cookies;
    for (const auto& entry : value.asArray()) {
        if (!entry.isDictionary()) continue;
        auto cookie = net::Cookie::fromProperties(entry.asDictionary());
        if (cookie) cookies.push_back(std::move(cookie.value()));
    }
    return cookies;
}

foundation::Result<foundation::Data> CustomCookieJar::archivedCookies() const {
    return foundation::archivedData(archiveValue());
}

foundation::Result<std::vector<net::Cookie>> CustomCookieJar::cookiesFromArchive(const foundation::Data& archive) {
    auto value = foundation::unarchivedValue(archive);
    if (!value) return value.error();
    if (!value->isArray())
        return foundation::Error::withDescription(foundation::kCocoaErrorDomain, foundation::kArchiveReadCorruptError,
                                                  "the archive does not hold a cookie array");
    return cookiesFromArchiveValue(value.value());
}
