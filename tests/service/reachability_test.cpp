// The reachability monitor: the status table, unreadable flags, and change notifications that
// name the monitor, delivered on the main loop; plus the Linux routing-table reading.
#include <gtest/gtest.h>

#include <netinet/in.h>

#include <fstream>

#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/notification_center.h"
#include "service/reachability.h"
#include "tests/support/test_support.h"

using namespace net;

TEST(ReachabilityStatus, FlagsTable) {
    auto status = Reachability::networkStatusForFlags;
    EXPECT_EQ(status(kReachabilityReachable), Reachability::ReachableViaWiFi);
    EXPECT_EQ(status(kReachabilityReachable | kReachabilityIsWWAN), Reachability::ReachableViaWWAN);
    EXPECT_EQ(status(kReachabilityReachable | kReachabilityIsWWAN | kReachabilityConnectionRequired),
              Reachability::ReachableViaWWAN);
    EXPECT_EQ(status(kReachabilityReachable | kReachabilityConnectionRequired), Reachability::NotReachable);
    EXPECT_EQ(status(kReachabilityReachable | kReachabilityConnectionRequired | kReachabilityConnectionOnTraffic),
              Reachability::ReachableViaWiFi);
    EXPECT_EQ(status(kReachabilityReachable | kReachabilityConnectionRequired | kReachabilityConnectionOnDemand),
              Reachability::ReachableViaWiFi);
    EXPECT_EQ(status(kReachabilityReachable | kReachabilityConnectionRequired | kReachabilityConnectionOnDemand |
                     kReachabilityInterventionRequired),
              Reachability::NotReachable);
    EXPECT_EQ(status(0), Reachability::NotReachable);
    EXPECT_EQ(status(~kReachabilityReachable), Reachability::NotReachable);
}

namespace {
struct Monitor : ::testing::Test {
    std::shared_ptr<FakeReachabilityBackend> fake = std::make_shared<FakeReachabilityBackend>();
    void SetUp() override {
        dispatch::RunLoop::main();
        ReachabilityBackend::setShared(fake);
    }
    void TearDown() override { ReachabilityBackend::setShared(nullptr); }
};
}  // namespace

TEST_F(Monitor, FactoriesStatusAndUnreadableFlags) {
    EXPECT_FALSE(Reachability::reachabilityWithHostName(""));
    EXPECT_FALSE(Reachability::reachabilityWithHostName("bad host/name"));
    EXPECT_FALSE(Reachability::reachabilityWithAddress(nullptr));
    sockaddr unix{};
    unix.sa_family = AF_UNIX;
    EXPECT_FALSE(Reachability::reachabilityWithAddress(&unix));
    auto host = Reachability::reachabilityWithHostName("service.example.test");
    auto internet = Reachability::reachabilityForInternetConnection();
    ASSERT_TRUE(host && internet);
    fake->setFlags(kReachabilityReachable | kReachabilityConnectionRequired);
    EXPECT_EQ(host->currentReachabilityStatus(), Reachability::NotReachable);
    EXPECT_TRUE(host->connectionRequired());
    fake->setFlagsForHost("service.example.test", kReachabilityReachable | kReachabilityIsWWAN);
    EXPECT_EQ(host->currentReachabilityStatus(), Reachability::ReachableViaWWAN);
    EXPECT_EQ(internet->currentReachabilityStatus(), Reachability::NotReachable);
    fake->setFlags(std::nullopt);
    EXPECT_EQ(internet->currentReachabilityStatus(), Reachability::NotReachable);
    EXPECT_FALSE(internet->connectionRequired());
}

TEST_F(Monitor, ChangesPostTheNotificationWithTheMonitorOnTheMainLoop) {
    dispatch::ScopedVirtualClock clock;
    auto a = Reachability::reachabilityWithHostName("a.test");
    auto b = Reachability::reachabilityWithHostName("b.test");
    std::vector<const void*> senders;
    bool onMain = true;
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto id = center.addObserver(this, kNetworkReachabilityChangedNotification, [&](const foundation::Notification& n) {
        senders.push_back(n.object.get());
        onMain = onMain && dispatch::isMainThread();
    });
    ASSERT_TRUE(a->startNotifier());
    ASSERT_TRUE(b->startNotifier());
    // Each tells where the host stands as it starts, once the main loop turns.
    EXPECT_TRUE(senders.empty());
    clock->runUntilIdle();
    EXPECT_EQ(senders, (std::vector<const void*>{a.get(), b.get()}));
    senders.clear();
    std::thread([&] { fake->setFlags(0); }).join();  // a change seen off the main thread
    EXPECT_TRUE(senders.empty());                    // nothing until the main loop turns
    clock->runUntilIdle();
    ASSERT_EQ(senders.size(), 2u);
    EXPECT_TRUE(onMain);
    EXPECT_NE(std::find(senders.begin(), senders.end(), a.get()), senders.end());
    EXPECT_NE(std::find(senders.begin(), senders.end(), b.get()), senders.end());

    b->stopNotifier();
    senders.clear();
    fake->setFlags(kReachabilityReachable);
    clock->runUntilIdle();
    EXPECT_EQ(senders, (std::vector<const void*>{a.get()}));

    // A monitor that is gone posts nothing, and takes its notifier with it.
    a.reset();
    senders.clear();
    fake->setFlags(0);
    clock->runUntilIdle();
    EXPECT_TRUE(senders.empty());
    center.removeObserver(id);
}

TEST(LinuxReachability, DefaultRouteDecidesAndUnreadableMeansReachable) {
    hxtest::TempDir proc;
    std::filesystem::create_directories(proc / "net");
    auto write = [&](const std::string& name, const std::string& text) { std::ofstream(proc / "net" / name) << text; };
    const std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    write("route", header + "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n");
    write("ipv6_route", "");
    LinuxReachabilityBackend backend(EventLoop::main(), proc.path().string());
    ReachabilityTargetSpec remote;
    remote.hostName = "service.example.test";
    EXPECT_EQ(backend.hasDefaultRoute(), false);
    EXPECT_EQ(backend.flags(remote), 0u);
    ReachabilityTargetSpec loop;
    loop.hostName = "127.0.0.1";
    EXPECT_TRUE(*backend.flags(loop) & kReachabilityReachable);

    write("route", header + "eth0\t00000000\t0100A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    EXPECT_EQ(backend.flags(remote), static_cast<uint32_t>(kReachabilityReachable));
    write("route", header);
    write("ipv6_route", "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                        "fe800000000000000000000000000001 00000400 00000001 00000000 00000003     eth0\n");
    EXPECT_EQ(backend.hasDefaultRoute(), true);

    LinuxReachabilityBackend blind(EventLoop::main(), (proc / "missing").string());
    EXPECT_EQ(blind.hasDefaultRoute(), std::nullopt);
    EXPECT_EQ(blind.flags(remote), static_cast<uint32_t>(kReachabilityReachable));
}
