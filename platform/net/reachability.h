// Network reachability of a target (a host name or a socket address): flags in the platform's
// bit layout, read on demand, and a change callback delivered on a loop. Where the flags come
// from is a backend: on Linux the routing table, watched through netlink; in tests a fake
// whose flags the test sets.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/net/event_loop.h"

namespace net {

enum ReachabilityFlags : uint32_t {
    kReachabilityTransientConnection = 1u << 0,
    kReachabilityReachable = 1u << 1,
    kReachabilityConnectionRequired = 1u << 2,
    kReachabilityConnectionOnTraffic = 1u << 3,
    kReachabilityInterventionRequired = 1u << 4,
    kReachabilityConnectionOnDemand = 1u << 5,
    kReachabilityIsLocalAddress = 1u << 16,
    kReachabilityIsDirect = 1u << 17,
    kReachabilityIsWWAN = 1u << 18,
};

// What a target points at: a host name, or an address (family and bytes).
struct ReachabilityTargetSpec {
    std::string hostName;  // empty for an address target
    int family = 0;        // AF_INET / AF_INET6 for an address target
    uint8_t address[16] = {0};

    bool isLoopback() const;
};

class ReachabilityBackend {
public:
    virtual ~ReachabilityBackend() = default;
    // The flags for the target now; none when they cannot be read.
    virtual std::optional<uint32_t> flags(const ReachabilityTargetSpec& target) = 0;
    // Calls listener (on the backend's loop) whenever the network may have changed.
    virtual uint64_t addListener(std::function<void()> listener) = 0;
    virtual void removeListener(uint64_t id) = 0;
    // Whether a target scheduled on a loop reports the flags once as it starts (the platform's
    // backends do; a test's device that has no network to report may not).
    virtual bool reportsWhenWatched() const { return true; }

    // The Linux backend on the main run loop, unless a test installed another.
    static std::shared_ptr<ReachabilityBackend> shared();
    static void setShared(std::shared_ptr<ReachabilityBackend> backend);
};

// The routing table decides: a default route (IPv4 or IPv6) means reachable, loopback targets
// always are, and when the table cannot be read the answer is "reachable" rather than a guess
// of "offline". Changes arrive as netlink route, address and link events on the loop.
class LinuxReachabilityBackend : public ReachabilityBackend {
public:
    // events: a descriptor to read netlink messages from instead of the kernel's route socket
    // (tests write messages into it); the backend owns and closes it.
    explicit LinuxReachabilityBackend(EventLoop& loop, std::string procRoot = "/proc", int events = -1);
    ~LinuxReachabilityBackend() override;
    std::optional<uint32_t> flags(const ReachabilityTargetSpec& target) override;
    uint64_t addListener(std::function<void()> listener) override;
    void removeListener(uint64_t id) override;
    // Whether the tables under procRoot name a default route; none when unreadable.
    std::optional<bool> hasDefaultRoute() const;
    // Whether one datagram holds a well-formed message about a link, an address or a route.
    // Anything else (other types, a truncated header, a length past the datagram) says nothing.
    static bool isNetworkChange(const uint8_t* data, size_t size);

private:
    void openNetlink();
    void onNetlink();
    EventLoop& loop_;
    std::string procRoot_;
    int socket_ = -1;
    uint64_t sourceId_ = 0;
    std::mutex mutex_;
    uint64_t nextId_ = 0;
    std::vector<std::pair<uint64_t, std::function<void()>>> listeners_;
};

// Flags set by the test, per host name or for every target.
class FakeReachabilityBackend : public ReachabilityBackend {
public:
    std::optional<uint32_t> flags(const ReachabilityTargetSpec& target) override;
    uint64_t addListener(std::function<void()> listener) override;
    void removeListener(uint64_t id) override;

    // Sets the flags of every target (or makes them unreadable) and tells the listeners.
    void setFlags(std::optional<uint32_t> flags);
    void setFlagsForHost(const std::string& host, std::optional<uint32_t> flags);

private:
    void notify();
    std::mutex mutex_;
    std::optional<uint32_t> flags_ = kReachabilityReachable;
    std::vector<std::pair<std::string, std::optional<uint32_t>>> hostFlags_;
    uint64_t nextId_ = 0;
    std::vector<std::pair<uint64_t, std::function<void()>>> listeners_;
};

// One target: flags on demand, and a callback with the flags as it starts watching and on every
// change while scheduled on a loop.
class ReachabilityTarget : public std::enable_shared_from_this<ReachabilityTarget> {
public:
    // None for an empty or malformed host name.
    static std::shared_ptr<ReachabilityTarget> withHostName(const std::string& hostName,
                                                            std::shared_ptr<ReachabilityBackend> backend = nullptr);
    // None for a null address or a family other than IPv4 and IPv6.
    static std::shared_ptr<ReachabilityTarget> withAddress(const sockaddr* address,
                                                           std::shared_ptr<ReachabilityBackend> backend = nullptr);
    ~ReachabilityTarget();

    std::optional<uint32_t> getFlags() const;
    const ReachabilityTargetSpec& spec() const { return spec_; }

    // The callback gets the flags after each change (a change the backend reports; the flags
    // may be the same as before).
    bool setCallback(std::function<void(uint32_t flags)> callback);
    // From now on the callback runs on loop: once with the current flags at the loop's next turn
    // (unless the backend says otherwise), then after each change. Scheduling again, or
    // unscheduling, drops what an earlier scheduling had posted and not yet delivered.
    bool scheduleWithLoop(EventLoop& loop);
    void unschedule();

private:
    ReachabilityTarget(ReachabilityTargetSpec spec, std::shared_ptr<ReachabilityBackend> backend);
    ReachabilityTargetSpec spec_;
    std::shared_ptr<ReachabilityBackend> backend_;
    std::function<void(uint32_t)> callback_;
    std::optional<uint64_t> listener_;
    std::atomic<uint64_t> scheduling_{0};
};

}  // namespace net
