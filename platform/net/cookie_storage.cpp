#include "platform/net/cookie_storage.h"

#include <algorithm>

namespace net {

namespace {
bool sameCookie(const Cookie& a, const Cookie& b) {
    return a.name == b.name && a.domain == b.domain && a.path == b.path;
}
}  // namespace

HTTPCookieStorage& HTTPCookieStorage::sharedHTTPCookieStorage() {
    static HTTPCookieStorage storage;
    return storage;
}

void HTTPCookieStorage::setCookie(const Cookie& cookie) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) { return sameCookie(c, cookie); });
    if (it != cookies_.end())
        *it = cookie;
    else
        cookies_.push_back(cookie);
}

void HTTPCookieStorage::deleteCookie(const Cookie& cookie) {
    std::lock_guard lock(mutex_);
    std::erase_if(cookies_, [&](const Cookie& c) { return sameCookie(c, cookie); });
}

std::vector<Cookie> HTTPCookieStorage::cookies() const {
    std::lock_guard lock(mutex_);
    return cookies_;
}

void HTTPCookieStorage::removeAllCookies() {
    std::lock_guard lock(mutex_);
    cookies_.clear();
}

}  // namespace net
