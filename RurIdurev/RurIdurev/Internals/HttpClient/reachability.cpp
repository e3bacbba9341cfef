#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"

#include <netinet/in.h>

#include "RurIdurev/RurIdurev/Internals/Util/dispatcher_util.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/reachability.h"

ZIVO_Reachability::ZIVO_Reachability(FlagsSource source, std::shared_ptr<net::ReachabilityTarget> target)
    : source_(std::move(source)), target_(std::move(target)) {}

std::shared_ptr<ZIVO_Reachability> ZIVO_Reachability::withTarget(std::shared_ptr<net::ReachabilityTarget> target) {
    if (!target) return nullptr;
    auto raw = target.get();
    return std::shared_ptr<ZIVO_Reachability>(
        new ZIVO_Reachability([raw] { return raw->getFlags(); }, std::move(target)));
}

std::shared_ptr<ZIVO_Reachability> ZIVO_Reachability::reachabilityWithHostName(const std::string& hostName) {
    return withTarget(net::ReachabilityTarget::withHostName(hostName));
}

std::shared_ptr<ZIVO_Reachability> ZIVO_Reachability::reachabilityWithAddress(const sockaddr* address) {
    return withTarget(net::ReachabilityTarget::withAddress(address));
}

std::shared_ptr<ZIVO_Reachability> ZIVO_Reachability::reachabilityForInternetConnection() {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&any));
}

std::shared_ptr<ZIVO_Reachability> ZIVO_Reachability::reachabilityWithFlagsSource(FlagsSource source) {
    return std::shared_ptr<ZIVO_Reachability>(new ZIVO_Reachability(std::move(source), nullptr));
}

ZIVO_Reachability::~ZIVO_Reachability() {
    notifying_ = false;
    // The target stops listening as it goes; its callback only holds this object weakly.
    if (auto target = std::move(target_))
        ZIVODispatcherUtil::performBlockOnMainThread([target] { target->unschedule(); });
}

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
    std::weak_ptr<ZIVO_Reachability> weak = weak_from_this();
    ZIVODispatcherUtil::performBlockOnMainThread([weak] {
        auto self = weak.lock();
        if (!self || !self->notifying_) return;
        if (self->target_) {
            // The target calls back on the main loop after each change the network layer sees.
            self->target_->setCallback([weak](uint32_t) {
                if (auto again = weak.lock()) again->flagsChanged();
            });
            // The target reports the current state as it starts, and each change after it.
            self->target_->scheduleWithLoop(net::EventLoop::main());
            return;
        }
        // Observers learn the source's current state at once.
        self->postChange();
    });
}

void ZIVO_Reachability::stopNotifier() {
    notifying_ = false;
    std::weak_ptr<ZIVO_Reachability> weak = weak_from_this();
    ZIVODispatcherUtil::performBlockOnMainThread([weak] {
        auto self = weak.lock();
        if (self && self->target_ && !self->notifying_) self->target_->unschedule();
    });
}

void ZIVO_Reachability::flagsChanged() {
    if (notifying_) postChange();
}
