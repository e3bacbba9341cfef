#include "service/reachability.h"

#include <netinet/in.h>

#include "platform/foundation/notification_center.h"

std::shared_ptr<Reachability> Reachability::reachabilityWithHostName(const std::string& hostName) {
    auto target = net::ReachabilityTarget::withHostName(hostName);
    if (!target) return nullptr;
    return std::shared_ptr<Reachability>(new Reachability(std::move(target)));
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const sockaddr* hostAddress) {
    auto target = net::ReachabilityTarget::withAddress(hostAddress);
    if (!target) return nullptr;
    return std::shared_ptr<Reachability>(new Reachability(std::move(target)));
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&zero));
}

Reachability::~Reachability() { stopNotifier(); }

bool Reachability::startNotifier() {
    // The monitor is not kept alive by its own notifier: a dropped monitor just falls silent.
    std::weak_ptr<Reachability> weak = weak_from_this();
    if (!reachabilityRef_->setCallback([weak](uint32_t) {
            if (auto self = weak.lock())
                foundation::NotificationCenter::defaultCenter().post(kNetworkReachabilityChangedNotification, self);
        }))
        return false;
    return reachabilityRef_->scheduleWithLoop(net::EventLoop::main());
}

void Reachability::stopNotifier() {
    if (reachabilityRef_) reachabilityRef_->unschedule();
}

Reachability::NetworkStatus Reachability::currentReachabilityStatus() const {
    auto flags = reachabilityRef_->getFlags();
    if (!flags) return NotReachable;
    return networkStatusForFlags(*flags);
}

Reachability::NetworkStatus Reachability::networkStatusForFlags(uint32_t flags) {
    if (!(flags & net::kReachabilityReachable)) return NotReachable;
    if (flags & net::kReachabilityIsWWAN) return ReachableViaWWAN;
    bool automatic = (flags & net::kReachabilityConnectionOnTraffic) || (flags & net::kReachabilityConnectionOnDemand);
    if ((flags & net::kReachabilityConnectionRequired) &&
        ((flags & net::kReachabilityInterventionRequired) || !automatic))
        return NotReachable;
    return ReachableViaWiFi;
}

bool Reachability::connectionRequired() const {
    auto flags = reachabilityRef_->getFlags();
    return flags && (*flags & net::kReachabilityConnectionRequired);
}
