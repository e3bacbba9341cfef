#include "platform/net/transport.h"

#include <mutex>

#include "platform/net/curl_transport.h"

namespace net {

namespace {
std::mutex gSharedMutex;
std::shared_ptr<Transport> gShared;
}  // namespace

std::shared_ptr<Transport> Transport::shared() {
    std::lock_guard lock(gSharedMutex);
    if (!gShared) gShared = CurlTransport::create(EventLoop::main());
    return gShared;
}

void Transport::setShared(std::shared_ptr<Transport> transport) {
    std::lock_guard lock(gSharedMutex);
    gShared = std::move(transport);
}

}  // namespace net
