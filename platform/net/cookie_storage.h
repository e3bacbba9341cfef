// The process-wide cookie store ("the shared cookie storage"): cookies that outlive any one
// connection and that components without an account's jar (a web view) may read. The network
// layer itself never fills or reads it.
#pragma once

#include <mutex>
#include <vector>

#include "platform/net/cookie.h"

namespace net {

class HTTPCookieStorage {
public:
    static HTTPCookieStorage& sharedHTTPCookieStorage();

    // Stores cookie, replacing a stored one with the same name, domain and path.
    void setCookie(const Cookie& cookie);
    void deleteCookie(const Cookie& cookie);
    std::vector<Cookie> cookies() const;
    void removeAllCookies();

private:
    mutable std::mutex mutex_;
    std::vector<Cookie> cookies_;
};

}  // namespace net
