#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"

#include <fstream>
#include <sstream>

#include "RurIdurev/RurIdurev/Internals/Util/dispatcher_util.h"
#include "platform/foundation/notification_center.h"

namespace {

// A default route in the routing table is as close as this system gets to "reachable".
std::optional<uint32_t> routeTableFlags() {
    std::ifstream in("/proc/net/route");
    if (!in) return ZIVO_Reachability::kFlagReachable;
    std::string line;
    std::getline(in, line);
    bool any = false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string iface, destination;
        fields >> iface >> destination;
        any = true;
        if (destination == "00000000") return ZIVO_Reachability::kFlagReachable;
    }
    return any ? 0u : ZIVO_Reachability::kFlagReachable;
}

}  // namespace

std::shared_ptr<ZIVO_Reachability> ZIVO_Reachability::reachabilityForInternetConnection() {
    return std::shared_ptr<ZIVO_Reachability>(new ZIVO_Reachability(routeTableFlags));
}

std::shared_ptr<ZIVO_Reachability> ZIVO_Reachability::reachabilityWithFlagsSource(FlagsSource source) {
    return std::shared_ptr<ZIVO_Reachability>(new ZIVO_Reachability(std::move(source)));
}

ZIVO_Reachability::~ZIVO_Reachability() { notifying_ = false; }

ZIVONetworkStatus ZIVO_Reachability::networkStatusForFlags(uint32_t flags) {
    if (!(flags & kFlagReachable)) return ZIVONotReachable;
    if (flags & kFlagIsWWAN) return ZIVOReachableViaWWAN;
    if ((flags & (kFlagConnectionOnTraffic | kFlagConnectionOnDemand)) && !(flags & kFlagInterventionRequired)) {
        return ZIVOReachableViaWiFi;
    }
    return (flags & kFlagConnectionRequired) ? ZIVONotReachable : ZIVOReachableViaWiFi;
}

ZIVONetworkStatus ZIVO_Reachability::currentReachabilityStatus() const {
    auto flags = source_ ? source_() : std::nullopt;
    return flags ? networkStatusForFlags(*flags) : ZIVONotReachable;
}

bool ZIVO_Reachability::connectionRequired() const {
    auto flags = source_ ? source_() : std::nullopt;
    return flags && (*flags & kFlagConnectionRequired);
}

void ZIVO_Reachability::postChange() {
    std::weak_ptr<ZIVO_Reachability> weak = weak_from_this();
    ZIVODispatcherUtil::performBlockOnMainThread([weak] {
        auto self = weak.lock();
        if (!self || !self->notifying_) return;
        foundation::NotificationCenter::defaultCenter().post(kZVNetworkReachabilityChangedNotification, self);
    });
}

void ZIVO_Reachability::startNotifier() {
    if (notifying_.exchange(true)) return;
    // Observers learn the current state at once.
    postChange();
}

void ZIVO_Reachability::stopNotifier() { notifying_ = false; }

void ZIVO_Reachability::flagsChanged() {
    if (notifying_) postChange();
}
