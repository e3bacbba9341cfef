// Reachability of one target (the service host, an address, or the internet at large), with
// "kNetworkReachabilityChangedNotification" posted on the main loop at every change; the
// notification's object is the monitor, so observers can tell several apart.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/net/reachability.h"

inline constexpr const char* kNetworkReachabilityChangedNotification = "kNetworkReachabilityChangedNotification";

class Reachability : public std::enable_shared_from_this<Reachability> {
public:
    enum NetworkStatus : int { NotReachable = 0, ReachableViaWiFi = 1, ReachableViaWWAN = 2 };

    // Null when the platform cannot make a target of it.
    static std::shared_ptr<Reachability> reachabilityWithHostName(const std::string& hostName);
    static std::shared_ptr<Reachability> reachabilityWithAddress(const sockaddr* hostAddress);
    // The zero IPv4 address: the internet at large.
    static std::shared_ptr<Reachability> reachabilityForInternetConnection();

    ~Reachability();

    // Posts the notification on every change from now on (on the main loop); true when running.
    bool startNotifier();
    void stopNotifier();

    NetworkStatus currentReachabilityStatus() const;
    static NetworkStatus networkStatusForFlags(uint32_t flags);
    bool connectionRequired() const;

    const std::shared_ptr<net::ReachabilityTarget>& reachabilityRef() const { return reachabilityRef_; }

private:
    explicit Reachability(std::shared_ptr<net::ReachabilityTarget> target) : reachabilityRef_(std::move(target)) {}
    std::shared_ptr<net::ReachabilityTarget> reachabilityRef_;
};
