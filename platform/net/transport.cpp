#include "platform/net/transport.h"

#include <mutex>

#include "platform/net/curl_transport.h"
#include "platform/net/reachability.h"
#include "platform/net/url_parts.h"

namespace net {

namespace {
std::mutex gSharedMutex;
std::shared_ptr<Transport> gShared;
}  // namespace

std::shared_ptr<Transport> Transport::shared() {
    std::lock_guard lock(gSharedMutex);
    if (!gShared) {
        auto curl = CurlTransport::create(EventLoop::main());
        curl->setNetworkAvailable([](const std::string& url) {
            auto parts = URLParts::parse(url);
            if (!parts) return true;  // the exchange reports the bad URL itself
            auto target = ReachabilityTarget::withHostName(parts->host);
            if (!target) return true;
            auto flags = target->getFlags();
            return !flags || (*flags & kReachabilityReachable) != 0;
        });
        gShared = curl;
    }
    return gShared;
}

void Transport::setShared(std::shared_ptr<Transport> transport) {
    std::lock_guard lock(gSharedMutex);
    gShared = std::move(transport);
}

}  // namespace net
