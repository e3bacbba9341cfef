// Whether the device can reach the internet, with a change notification on the main thread.
// On this system the status comes from a source: by default the kernel's routing table (a
// default route means reachable through the local network; unreadable means reachable, so that
// an unsure answer never pauses the transport); tests install a fake source and drive changes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

enum ZIVONetworkStatus : int { ZIVONotReachable = 0, ZIVOReachableViaWiFi = 1, ZIVOReachableViaWWAN = 2 };

inline constexpr const char* kZVNetworkReachabilityChangedNotification = "kZVNetworkReachabilityChangedNotification";

class ZIVO_Reachability : public std::enable_shared_from_this<ZIVO_Reachability> {
public:
    static constexpr uint32_t kFlagReachable = 0x2;
    static constexpr uint32_t kFlagConnectionRequired = 0x4;
    static constexpr uint32_t kFlagConnectionOnTraffic = 0x8;
    static constexpr uint32_t kFlagInterventionRequired = 0x10;
    static constexpr uint32_t kFlagConnectionOnDemand = 0x20;
    static constexpr uint32_t kFlagIsWWAN = 0x40000;

    using FlagsSource = std::function<std::optional<uint32_t>()>;

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
    explicit ZIVO_Reachability(FlagsSource source) : source_(std::move(source)) {}
    void postChange();

    FlagsSource source_;
    std::atomic<bool> notifying_{false};
};
