// Whether the device can reach the internet, with a change notification on the main thread.
// The status comes from the network layer's reachability target (on Linux the routing table,
// with changes announced by netlink while the notifier runs); tests may install a source of
// their own and drive changes through flagsChanged().
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <sys/socket.h>

enum ZIVONetworkStatus : int { ZIVONotReachable = 0, ZIVOReachableViaWiFi = 1, ZIVOReachableViaWWAN = 2 };

inline constexpr const char* kZVNetworkReachabilityChangedNotification = "kZVNetworkReachabilityChangedNotification";

namespace net {
class ReachabilityTarget;
}

class ZIVO_Reachability : public std::enable_shared_from_this<ZIVO_Reachability> {
public:
    static constexpr uint32_t kFlagReachable = 0x2;
    static constexpr uint32_t kFlagConnectionRequired = 0x4;
    static constexpr uint32_t kFlagConnectionOnTraffic = 0x8;
    static constexpr uint32_t kFlagInterventionRequired = 0x10;
    static constexpr uint32_t kFlagConnectionOnDemand = 0x20;
    static constexpr uint32_t kFlagIsWWAN = 0x40000;

    using FlagsSource = std::function<std::optional<uint32_t>()>;

    // None when the target cannot be made (an empty or malformed host name, an address of
    // another family than IPv4 or IPv6).
    static std::shared_ptr<ZIVO_Reachability> reachabilityWithHostName(const std::string& hostName);
    static std::shared_ptr<ZIVO_Reachability> reachabilityWithAddress(const sockaddr* address);
    // The IPv4 "any" address.
    static std::shared_ptr<ZIVO_Reachability> reachabilityForInternetConnection();
    // A reachability whose flags come from source (tests).
    static std::shared_ptr<ZIVO_Reachability> reachabilityWithFlagsSource(FlagsSource source);

    ~ZIVO_Reachability();

    void startNotifier();
    void stopNotifier();
    ZIVONetworkStatus currentReachabilityStatus() const;
    bool connectionRequired() const;
    static ZIVONetworkStatus networkStatusForFlags(uint32_t flags);
    // The source's flags changed: observers hear of it on the main thread while the notifier runs.
    void flagsChanged();
    bool isNotifying() const { return notifying_; }

private:
    ZIVO_Reachability(FlagsSource source, std::shared_ptr<net::ReachabilityTarget> target);
    static std::shared_ptr<ZIVO_Reachability> withTarget(std::shared_ptr<net::ReachabilityTarget> target);
    void postChange();

    FlagsSource source_;
    // Scheduled on the main loop while the notifier runs; touched on the main thread only.
    std::shared_ptr<net::ReachabilityTarget> target_;
    std::atomic<bool> notifying_{false};
};
