// The SDK's reachability as the network layer drives it, and what the HTTP client does with
// connectivity failures: held while the network is away, retried while it is there.
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>

#include "RurIdurev/RurIdurev/Internals/HttpClient/http_client.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/reachability.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/reachability.h"
#include "platform/net/scripted_transport.h"
#include "platform/net/url_error.h"
#include "tests/RurIdurev/telemetry/telemetry_environment.h"

namespace {

constexpr const char* kURL = "https://in.example.test/logs";
constexpr const char* kRouteHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
constexpr const char* kDefaultRoute = "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";

std::vector<uint8_t> netlinkMessage(uint16_t type) {
    std::vector<uint8_t> m(NLMSG_SPACE(sizeof(rtmsg)));
    nlmsghdr header{};
    header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    header.nlmsg_type = type;
    std::memcpy(m.data(), &header, sizeof header);
    return m;
}

struct SendOutcome {
    bool done = false;
    std::optional<net::HTTPURLResponse> response;
    std::optional<foundation::Error> error;
};

void send(ZIVOHttpClient& client, SendOutcome& outcome) {
    client.sendAsync(kURL, "POST", {}, foundation::Data{'{', '}'},
                     [&outcome](const auto&, const auto& response, const auto& error) {
                         outcome.response = response;
                         outcome.error = error;
                         outcome.done = true;
                     });
}

// ---- Driven by netlink messages the test writes, over a routing table the test writes

class NetlinkDrivenReachability : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        dispatch::RunLoop::main();
        std::filesystem::create_directories(dir / "proc/net");
        writeRoutes("");
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds), 0);
        net::ReachabilityBackend::setShared(
            std::make_shared<net::LinuxReachabilityBackend>(net::EventLoop::main(), (dir / "proc").string(), fds[0]));
        transport = net::ScriptedTransport::create(net::EventLoop::main());
        transport->setHandler([](const net::URLRequest&) { return net::ScriptedTransport::Reply::ok("{}"); });
    }
    void TearDown() override {
        client.reset();
        clock->runUntilIdle();
        net::ReachabilityBackend::setShared(nullptr);
        ::close(fds[1]);
        TelemetryTest::TearDown();
    }
    void writeRoutes(const std::string& rows) { std::ofstream(dir / "proc/net/route") << kRouteHeader << rows; }
    void inject(uint16_t type) {
        auto m = netlinkMessage(type);
        ASSERT_EQ(::send(fds[1], m.data(), m.size(), 0), static_cast<ssize_t>(m.size()));
    }

    dispatch::ScopedVirtualClock clock;
    int fds[2] = {-1, -1};
    std::shared_ptr<net::ScriptedTransport> transport;
    std::shared_ptr<ZIVOHttpClient> client;
};

TEST_F(NetlinkDrivenReachability, AStalledCallGoesOutWhenARouteAppears) {
    client = ZIVOHttpClient::create(transport, ZIVO_Reachability::reachabilityForInternetConnection());
    // Starting the notifier tells the client at once: no default route, so it pauses.
    ASSERT_TRUE(clock->runUntil([&] { return client->isPaused(); }, 5));
    SendOutcome outcome;
    send(*client, outcome);
    clock->advance(3600);
    clock->runUntilIdle();
    EXPECT_EQ(transport->requestCount(), 0u);
    EXPECT_EQ(client->pendingCallCount(), 1u);

    // A message that is not about routes changes nothing, even with a route in the table now.
    writeRoutes(kDefaultRoute);
    inject(RTM_NEWNEIGH);
    clock->runUntilIdle();
    EXPECT_TRUE(client->isPaused());

    inject(RTM_NEWROUTE);
    ASSERT_TRUE(clock->runUntil([&] { return outcome.done; }, 5));
    EXPECT_FALSE(client->isPaused());
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->statusCode, 200);
    EXPECT_EQ(transport->requestCount(), 1u);

    writeRoutes("");
    inject(RTM_DELROUTE);
    EXPECT_TRUE(clock->runUntil([&] { return client->isPaused(); }, 5));
}

TEST_F(NetlinkDrivenReachability, TargetsByHostNameAndAddress) {
    EXPECT_FALSE(ZIVO_Reachability::reachabilityWithHostName(""));
    EXPECT_FALSE(ZIVO_Reachability::reachabilityWithHostName("no spaces allowed"));
    EXPECT_FALSE(ZIVO_Reachability::reachabilityWithAddress(nullptr));
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    EXPECT_FALSE(ZIVO_Reachability::reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&local)));

    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 remote6{};
    remote6.sin6_family = AF_INET6;
    remote6.sin6_addr.s6_addr[0] = 0x20;  // 2000::
    struct Case {
        const char* name;
        std::shared_ptr<ZIVO_Reachability> reachability;
        ZIVONetworkStatus withoutRoute;
    } cases[] = {
        {"localhost", ZIVO_Reachability::reachabilityWithHostName("localhost"), ZIVOReachableViaWiFi},
        {"127.0.0.1", ZIVO_Reachability::reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&loopback)),
         ZIVOReachableViaWiFi},
        {"a remote host", ZIVO_Reachability::reachabilityWithHostName("in.example.test"), ZIVONotReachable},
        {"a remote IPv6 address",
         ZIVO_Reachability::reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&remote6)), ZIVONotReachable},
        {"the internet", ZIVO_Reachability::reachabilityForInternetConnection(), ZIVONotReachable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.reachability);
        EXPECT_EQ(c.reachability->currentReachabilityStatus(), c.withoutRoute);
    }
    writeRoutes(kDefaultRoute);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.reachability->currentReachabilityStatus(), ZIVOReachableViaWiFi);
    }
}

TEST_F(NetlinkDrivenReachability, NotificationsOnlyWhileTheNotifierRuns) {
    auto reachability = ZIVO_Reachability::reachabilityForInternetConnection();
    int posted = 0;
    int observer = 0;
    foundation::NotificationCenter::defaultCenter().addObserver(
        &observer, kZVNetworkReachabilityChangedNotification, [&](const foundation::Notification&) { ++posted; },
        reachability.get());
    inject(RTM_NEWROUTE);
    clock->runUntilIdle();
    EXPECT_EQ(posted, 0);
    reachability->startNotifier();
    clock->runUntilIdle();
    EXPECT_EQ(posted, 1);  // the current state, at once
    inject(RTM_NEWROUTE);
    EXPECT_TRUE(clock->runUntil([&] { return posted == 2; }, 5));
    reachability->stopNotifier();
    clock->runUntilIdle();
    inject(RTM_DELROUTE);
    clock->runUntilIdle();
    EXPECT_EQ(posted, 2);
    foundation::NotificationCenter::defaultCenter().removeObserver(&observer);
}

// ---- Connectivity failures, with a reachability source the test sets

class ConnectivityFailure : public TelemetryTest {
protected:
    void SetUp() override {
        TelemetryTest::SetUp();
        dispatch::RunLoop::main();
        transport = net::ScriptedTransport::create(net::EventLoop::main());
        reachability = ZIVO_Reachability::reachabilityWithFlagsSource([this] { return flags.load(); });
        client = ZIVOHttpClient::create(transport, reachability);
        clock->runUntilIdle();
    }
    void TearDown() override {
        client.reset();
        clock->runUntilIdle();
        TelemetryTest::TearDown();
    }
    bool waitRequests(size_t n) {
        return clock->runUntil([&] { return transport->requestCount() >= n; }, 5);
    }
    // A call whose first attempt fails with code and whose second is answered.
    void sendFailingOnce(int64_t code, SendOutcome& outcome) {
        transport->clearRequests();
        transport->enqueue(net::ScriptedTransport::Reply::fail(code));
        transport->enqueue(net::ScriptedTransport::Reply::ok("{}"));
        send(*client, outcome);
    }

    dispatch::ScopedVirtualClock clock;
    std::atomic<uint32_t> flags{ZIVO_Reachability::kFlagReachable};
    std::shared_ptr<net::ScriptedTransport> transport;
    std::shared_ptr<ZIVO_Reachability> reachability;
    std::shared_ptr<ZIVOHttpClient> client;
};

// No internet, a lost connection and TLS failures at both ends of their range.
constexpr int64_t kConnectivityCodes[] = {net::kURLErrorNotConnectedToInternet, net::kURLErrorNetworkConnectionLost,
                                          -1200, -2000};

TEST_F(ConnectivityFailure, WhileTheNetworkIsThereTheCallIsRetriedAsStatusZero) {
    for (int64_t code : kConnectivityCodes) {
        SCOPED_TRACE(code);
        SendOutcome outcome;
        sendFailingOnce(code, outcome);
        ASSERT_TRUE(waitRequests(1));
        clock->runUntilIdle();
        EXPECT_FALSE(outcome.done);
        // The first retry waits from 5 to 10 s, as after a recoverable status.
        clock->advance(4.9);
        clock->runUntilIdle();
        EXPECT_EQ(transport->requestCount(), 1u);
        clock->advance(5.2);
        ASSERT_TRUE(clock->runUntil([&] { return outcome.done; }, 5));
        EXPECT_EQ(transport->requestCount(), 2u);
        ASSERT_TRUE(outcome.response);
        EXPECT_EQ(outcome.response->statusCode, 200);
        EXPECT_FALSE(client->isPaused());
    }
}

TEST_F(ConnectivityFailure, WhileTheNetworkIsAwayTheCallIsHeldUntilItReturns) {
    for (int64_t code : kConnectivityCodes) {
        SCOPED_TRACE(code);
        SendOutcome outcome;
        sendFailingOnce(code, outcome);
        // The network goes away; its announcement has not arrived when the failure does.
        flags = 0;
        ASSERT_TRUE(waitRequests(1));
        clock->runUntilIdle();
        clock->advance(3600);
        clock->runUntilIdle();
        EXPECT_FALSE(outcome.done);
        EXPECT_EQ(transport->requestCount(), 1u);
        EXPECT_EQ(client->pendingCallCount(), 1u);
        reachability->flagsChanged();  // announced: away, so pause
        clock->runUntilIdle();
        EXPECT_TRUE(client->isPaused());
        flags = ZIVO_Reachability::kFlagReachable;
        reachability->flagsChanged();  // back: resume sends the held call
        ASSERT_TRUE(clock->runUntil([&] { return outcome.done; }, 5));
        EXPECT_EQ(outcome.response->statusCode, 200);
        EXPECT_EQ(transport->requestCount(), 2u);
    }
}

TEST_F(ConnectivityFailure, AfterTheLastIntervalTheClientPausesAndTheCallFails) {
    for (int i = 0; i < 4; ++i) transport->enqueue(net::ScriptedTransport::Reply::fail(-1005));
    SendOutcome outcome;
    send(*client, outcome);
    ASSERT_TRUE(waitRequests(1));
    for (size_t n = 2; n <= 4; ++n) {
        clock->advance(1200);
        ASSERT_TRUE(waitRequests(n));
    }
    ASSERT_TRUE(clock->runUntil([&] { return outcome.done; }, 5));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, net::kURLErrorDomain);
    EXPECT_EQ(outcome.error->code, -1005);
    EXPECT_FALSE(outcome.response);
    EXPECT_TRUE(client->isPaused());
    EXPECT_EQ(client->pendingCallCount(), 0u);
}

// ---- A real kernel: a network namespace of the child's own, with only a loopback link

bool setLoopback(bool up, std::string* why) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return *why = "socket: " + std::string(std::strerror(errno)), false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags = static_cast<short>(up ? (request.ifr_flags | IFF_UP) : (request.ifr_flags & ~IFF_UP));
        ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (ok && up) {
        // A default route through the loopback link stands for the way out.
        rtentry route{};
        auto* any = reinterpret_cast<sockaddr_in*>(&route.rt_dst);
        any->sin_family = AF_INET;
        reinterpret_cast<sockaddr_in*>(&route.rt_genmask)->sin_family = AF_INET;
        route.rt_flags = RTF_UP;
        char device[] = "lo";
        route.rt_dev = device;
        ok = ::ioctl(fd, SIOCADDRT, &route) == 0 || errno == EEXIST;
    }
    if (!ok) *why = std::string(up ? "link up: " : "link down: ") + std::strerror(errno);
    ::close(fd);
    return ok;
}

void report(const std::string& text) {
    std::string line = text + "\n";
    (void)!::write(3, line.data(), line.size());
}

TEST(NamespaceChild, FollowsTheLoopbackLink) {
    if (!std::getenv("HX_NETNS_CHILD")) GTEST_SKIP() << "runs as the child of RealKernel.ACallWaitsForTheLinkToComeUp";
    // First, while the process has one thread: a user namespace needs that.
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        report(std::string("skip: network namespaces are refused here (unshare: ") + std::strerror(errno) + ")");
        return;
    }
    dispatch::RunLoop::main();
    dispatch::ScopedVirtualClock clock;
    auto transport = net::ScriptedTransport::create(net::EventLoop::main());
    transport->setHandler([](const net::URLRequest&) { return net::ScriptedTransport::Reply::ok("{}"); });
    auto client = ZIVOHttpClient::create(transport, ZIVO_Reachability::reachabilityForInternetConnection());
    ASSERT_TRUE(clock->runUntil([&] { return client->isPaused(); }, 5)) << "a new namespace has no route";
    SendOutcome outcome;
    send(*client, outcome);
    clock->runUntilIdle();
    ASSERT_EQ(transport->requestCount(), 0u);

    std::string why;
    ASSERT_TRUE(setLoopback(true, &why)) << why;
    ASSERT_TRUE(clock->runUntil([&] { return outcome.done; }, 5)) << "the kernel's events resume the client";
    EXPECT_EQ(transport->requestCount(), 1u);

    ASSERT_TRUE(setLoopback(false, &why)) << why;  // the link's routes go with it
    ASSERT_TRUE(clock->runUntil([&] { return client->isPaused(); }, 5));
    ASSERT_TRUE(setLoopback(true, &why)) << why;
    ASSERT_TRUE(clock->runUntil([&] { return !client->isPaused(); }, 5));
    report(::testing::Test::HasFailure() ? "failed" : "ok");
}

TEST(RealKernel, ACallWaitsForTheLinkToComeUp) {
    int fd = -1;
    pid_t pid = hxtest::spawnSelf("NamespaceChild.FollowsTheLoopbackLink", {"HX_NETNS_CHILD=1"}, &fd);
    ASSERT_GT(pid, 0);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (text.rfind("skip:", 0) == 0) GTEST_SKIP() << text;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_EQ(text, "ok\n");
}

}  // namespace
