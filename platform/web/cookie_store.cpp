#include "platform/web/cookie_store.h"

#include <algorithm>

#include "platform/clock/clock.h"
#include "platform/net/cookie_storage.h"
#include "platform/net/url_parts.h"

namespace web {

namespace {

std::string keyOf(const net::Cookie& c) { return c.name + '\n' + c.domain + '\n' + c.path; }

bool sameSlot(const net::Cookie& a, const net::Cookie& b) {
    return a.name == b.name && a.domain == b.domain && a.path == b.path;
}

bool expired(const net::Cookie& c, double now) { return c.expiresDate && *c.expiresDate <= now; }

std::string lowerHost(std::string host) {
    for (char& ch : host) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return host;
}

}  // namespace

bool cookieDomainMatches(std::string_view domain, std::string_view host) {
    if (domain.empty() || host.empty()) return false;
    if (domain.front() != '.') return domain == host;
    std::string_view bare = domain.substr(1);
    if (bare.empty()) return false;
    if (host == bare) return true;
    // A suffix counts only on a label boundary, and never for an address literal.
    return host.size() > bare.size() && host.ends_with(bare) && host[host.size() - bare.size() - 1] == '.' &&
           !net::isIPAddress(host);
}

bool cookiePathMatches(std::string_view cookiePath, std::string_view requestPath) {
    return net::cookiePathMatches(cookiePath, requestPath);
}

std::vector<net::Cookie> HTTPCookieStore::cookiesForURL(std::string_view url) const {
    auto parts = net::URLParts::parse(url);
    if (!parts || (parts->scheme != "http" && parts->scheme != "https")) return {};
    std::string host = lowerHost(parts->host);
    std::string path = parts->path.empty() ? "/" : parts->path;
    double now = clocks::wallNow();
    std::vector<net::Cookie> out;
    for (auto& c : allCookies()) {
        if (expired(c, now) || !cookieDomainMatches(c.domain, host) || !cookiePathMatches(c.path, path)) continue;
        if (c.secure && parts->scheme != "https") continue;
        out.push_back(c);
    }
    std::stable_sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.path.size() > b.path.size(); });
    return out;
}

void HTTPCookieStore::setCookiesFromResponse(const net::HeaderMap& headers, std::string_view url) {
    for (auto& c : net::Cookie::cookiesWithResponseHeaderFields(headers, url, clocks::wallNow())) setCookie(c);
}

std::shared_ptr<HTTPCookieStore> HTTPCookieStore::defaultStore() {
    static auto store = std::make_shared<SharedCookieStore>(net::HTTPCookieStorage::sharedHTTPCookieStorage());
    return store;
}

// ---- MemoryCookieStore

std::vector<net::Cookie> MemoryCookieStore::allCookies() const {
    std::lock_guard lock(mutex_);
    std::vector<net::Cookie> out;
    for (auto& e : entries_) out.push_back(e.cookie);
    return out;
}

void MemoryCookieStore::setCookie(const net::Cookie& cookie) {
    double now = clocks::wallNow();
    std::lock_guard lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](auto& e) { return sameSlot(e.cookie, cookie); });
    if (expired(cookie, now)) {
        if (it != entries_.end()) entries_.erase(it);
        return;
    }
    if (it != entries_.end())
        it->cookie = cookie;
    else
        entries_.push_back({cookie, now});
}

void MemoryCookieStore::deleteCookie(const net::Cookie& cookie) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [&](auto& e) { return sameSlot(e.cookie, cookie); });
}

void MemoryCookieStore::removeDataModifiedSince(double since) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [&](auto& e) { return e.created >= since; });
}

// ---- SharedCookieStore

std::vector<net::Cookie> SharedCookieStore::allCookies() const { return storage_.cookies(); }

void SharedCookieStore::setCookie(const net::Cookie& cookie) {
    double now = clocks::wallNow();
    if (expired(cookie, now)) {
        deleteCookie(cookie);
        return;
    }
    bool existed = false;
    for (auto& c : storage_.cookies())
        if (sameSlot(c, cookie)) existed = true;
    storage_.setCookie(cookie);
    std::lock_guard lock(mutex_);
    if (!existed || !created_.count(keyOf(cookie))) created_[keyOf(cookie)] = existed ? 0 : now;
}

void SharedCookieStore::deleteCookie(const net::Cookie& cookie) {
    for (auto& c : storage_.cookies())
        if (sameSlot(c, cookie)) storage_.deleteCookie(c);
    std::lock_guard lock(mutex_);
    created_.erase(keyOf(cookie));
}

void SharedCookieStore::removeDataModifiedSince(double since) {
    std::vector<net::Cookie> doomed;
    {
        std::lock_guard lock(mutex_);
        for (auto& c : storage_.cookies()) {
            auto it = created_.find(keyOf(c));
            if ((it == created_.end() ? 0.0 : it->second) >= since) doomed.push_back(c);
        }
        for (auto& c : doomed) created_.erase(keyOf(c));
    }
    for (auto& c : doomed) storage_.deleteCookie(c);
}

}  // namespace web
