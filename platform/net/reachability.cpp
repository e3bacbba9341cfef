#include "platform/net/reachability.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/foundation/strings.h"

namespace net {

namespace {
std::mutex gBackendMutex;
std::shared_ptr<ReachabilityBackend> gBackend;

bool validHostName(const std::string& name) {
    if (name.empty() || name.size() > 253) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                  c == ':' || c == '_' || c == '[' || c == ']';
        if (!ok) return false;
    }
    return true;
}
}  // namespace

bool ReachabilityTargetSpec::isLoopback() const {
    if (!hostName.empty()) {
        const std::string h = foundation::asciiLowercase(hostName);
        if (h == "localhost" || h == "::1" || h == "[::1]") return true;
        in_addr v4{};
        if (inet_pton(AF_INET, h.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
        return false;
    }
    if (family == AF_INET) return address[0] == 127;
    if (family == AF_INET6) {
        static const uint8_t loop[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        return std::memcmp(address, loop, 16) == 0;
    }
    return false;
}

std::shared_ptr<ReachabilityBackend> ReachabilityBackend::shared() {
    std::lock_guard lock(gBackendMutex);
    if (!gBackend) gBackend = std::make_shared<LinuxReachabilityBackend>(EventLoop::main());
    return gBackend;
}

void ReachabilityBackend::setShared(std::shared_ptr<ReachabilityBackend> backend) {
    std::lock_guard lock(gBackendMutex);
    gBackend = std::move(backend);
}

// ---- Linux

LinuxReachabilityBackend::LinuxReachabilityBackend(EventLoop& loop, std::string procRoot, int events)
    : loop_(loop), procRoot_(std::move(procRoot)), socket_(events) {
    if (socket_ >= 0)
        sourceId_ = loop_.addFd(socket_, EventLoop::Readable | EventLoop::Watch, [this](int, int) { onNetlink(); });
}

LinuxReachabilityBackend::~LinuxReachabilityBackend() {
    if (sourceId_) loop_.removeFd(sourceId_);
    if (socket_ >= 0) ::close(socket_);
}

std::optional<bool> LinuxReachabilityBackend::hasDefaultRoute() const {
    bool readable = false;
    std::ifstream v4(procRoot_ + "/net/route");
    if (v4) {
        readable = true;
        std::string line;
        std::getline(v4, line);  // header
        while (std::getline(v4, line)) {
            std::istringstream fields(line);
            std::string iface, destination, gateway, flagsHex;
            if (!(fields >> iface >> destination >> gateway >> flagsHex)) continue;
            unsigned long flags = std::strtoul(flagsHex.c_str(), nullptr, 16);
            if (destination == "00000000" && (flags & 0x1 /* RTF_UP */)) return true;
        }
    }
    std::ifstream v6(procRoot_ + "/net/ipv6_route");
    if (v6) {
        readable = true;
        std::string line;
        while (std::getline(v6, line)) {
            std::istringstream fields(line);
            std::string destination, prefixLength, src, srcLength, nextHop, metric, refCount, use, flagsHex, iface;
            if (!(fields >> destination >> prefixLength >> src >> srcLength >> nextHop >> metric >> refCount >> use >>
                  flagsHex >> iface))
                continue;
            unsigned long flags = std::strtoul(flagsHex.c_str(), nullptr, 16);
            if (destination == std::string(32, '0') && prefixLength == "00" && (flags & 0x1) && iface != "lo" &&
                !(flags & 0x200 /* RTF_REJECT */))
                return true;
        }
    }
    if (!readable) return std::nullopt;
    return false;
}

std::optional<uint32_t> LinuxReachabilityBackend::flags(const ReachabilityTargetSpec& target) {
    if (target.isLoopback()) return kReachabilityReachable | kReachabilityIsLocalAddress | kReachabilityIsDirect;
    auto route = hasDefaultRoute();
    if (!route) return kReachabilityReachable;  // cannot tell: do not claim "offline"
    return *route ? static_cast<uint32_t>(kReachabilityReachable) : 0u;
}

void LinuxReachabilityBackend::openNetlink() {
    if (socket_ >= 0) return;
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) return;  // no change events; flags are still read on demand
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return;
    }
    socket_ = fd;
    sourceId_ = loop_.addFd(fd, EventLoop::Readable | EventLoop::Watch, [this](int, int) { onNetlink(); });
}

bool LinuxReachabilityBackend::isNetworkChange(const uint8_t* data, size_t size) {
    // Each message must have a whole header and a length that stays inside what is left of the
    // datagram, so a hostile length never walks past the buffer. Headers are copied out: the
    // bytes need not be aligned for one.
    size_t left = size;
    while (left >= sizeof(nlmsghdr)) {
        nlmsghdr h;
        std::memcpy(&h, data, sizeof h);
        if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > left) break;
        switch (h.nlmsg_type) {
            case NLMSG_DONE:
                return false;
            case RTM_NEWLINK:
            case RTM_DELLINK:
            case RTM_NEWADDR:
            case RTM_DELADDR:
            case RTM_NEWROUTE:
            case RTM_DELROUTE:
                return true;
            default:
                break;
        }
        // Messages follow each other at 4-byte boundaries.
        const size_t step = NLMSG_ALIGN(static_cast<size_t>(h.nlmsg_len));
        if (step >= left) break;
        data += step;
        left -= step;
    }
    return false;
}

void LinuxReachabilityBackend::onNetlink() {
    alignas(nlmsghdr) uint8_t buffer[8192];
    bool changed = false;
    for (;;) {
        sockaddr_nl from{};
        socklen_t fromLength = sizeof from;
        ssize_t n =
            ::recvfrom(socket_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n <= 0) break;
        // On the route socket only the kernel (port 0) speaks for the network; another process
        // could send to our port.
        if (fromLength >= sizeof from && from.nl_family == AF_NETLINK && from.nl_pid != 0) continue;
        changed = isNetworkChange(buffer, static_cast<size_t>(n)) || changed;
    }
    if (!changed) return;
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, l] : listeners_) listeners.push_back(l);
    }
    for (auto& l : listeners) l();
}

uint64_t LinuxReachabilityBackend::addListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    if (listeners_.empty()) openNetlink();
    uint64_t id = ++nextId_;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void LinuxReachabilityBackend::removeListener(uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(listeners_, [id](const auto& l) { return l.first == id; });
}

// ---- Fake

std::optional<uint32_t> FakeReachabilityBackend::flags(const ReachabilityTargetSpec& target) {
    std::lock_guard lock(mutex_);
    for (const auto& [host, f] : hostFlags_)
        if (host == target.hostName) return f;
    return flags_;
}

uint64_t FakeReachabilityBackend::addListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    uint64_t id = ++nextId_;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void FakeReachabilityBackend::removeListener(uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(listeners_, [id](const auto& l) { return l.first == id; });
}

void FakeReachabilityBackend::setFlags(std::optional<uint32_t> flags) {
    {
        std::lock_guard lock(mutex_);
        flags_ = flags;
    }
    notify();
}

void FakeReachabilityBackend::setFlagsForHost(const std::string& host, std::optional<uint32_t> flags) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(hostFlags_, [&](const auto& h) { return h.first == host; });
        hostFlags_.emplace_back(host, flags);
    }
    notify();
}

void FakeReachabilityBackend::notify() {
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, l] : listeners_) listeners.push_back(l);
    }
    for (auto& l : listeners) l();
}

// ---- Target

ReachabilityTarget::ReachabilityTarget(ReachabilityTargetSpec spec, std::shared_ptr<ReachabilityBackend> backend)
    : spec_(std::move(spec)), backend_(std::move(backend)) {}

ReachabilityTarget::~ReachabilityTarget() { unschedule(); }

std::shared_ptr<ReachabilityTarget> ReachabilityTarget::withHostName(const std::string& hostName,
                                                                     std::shared_ptr<ReachabilityBackend> backend) {
    if (!validHostName(hostName)) return nullptr;
    if (!backend) backend = ReachabilityBackend::shared();
    ReachabilityTargetSpec spec;
    spec.hostName = hostName;
    return std::shared_ptr<ReachabilityTarget>(new ReachabilityTarget(std::move(spec), std::move(backend)));
}

std::shared_ptr<ReachabilityTarget> ReachabilityTarget::withAddress(const sockaddr* address,
                                                                    std::shared_ptr<ReachabilityBackend> backend) {
    if (!address) return nullptr;
    ReachabilityTargetSpec spec;
    spec.family = address->sa_family;
    if (spec.family == AF_INET) {
        std::memcpy(spec.address, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
    } else if (spec.family == AF_INET6) {
        std::memcpy(spec.address, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
    } else {
        return nullptr;
    }
    if (!backend) backend = ReachabilityBackend::shared();
    return std::shared_ptr<ReachabilityTarget>(new ReachabilityTarget(std::move(spec), std::move(backend)));
}

std::optional<uint32_t> ReachabilityTarget::getFlags() const { return backend_->flags(spec_); }

bool ReachabilityTarget::setCallback(std::function<void(uint32_t)> callback) {
    callback_ = std::move(callback);
    return true;
}

bool ReachabilityTarget::scheduleWithLoop(EventLoop& loop) {
    unschedule();
    // A report posted for an earlier scheduling says nothing once the target was unscheduled.
    const uint64_t scheduling = ++scheduling_;
    std::weak_ptr<ReachabilityTarget> weak = weak_from_this();
    auto report = [weak, scheduling] {
        auto self = weak.lock();
        if (!self || self->scheduling_ != scheduling || !self->listener_ || !self->callback_) return;
        self->callback_(self->getFlags().value_or(0));
    };
    EventLoop* target = &loop;
    // Delivered on the loop the target is scheduled on, whatever thread saw the change.
    listener_ = backend_->addListener([target, report] { target->post(report); });
    // Where the network stands now, once, at the loop's next turn: a watcher that starts learns
    // it without waiting for a change.
    if (backend_->reportsWhenWatched()) loop.post(report);
    return true;
}

void ReachabilityTarget::unschedule() {
    ++scheduling_;
    if (!listener_) return;
    backend_->removeListener(*listener_);
    listener_.reset();
}

}  // namespace net
