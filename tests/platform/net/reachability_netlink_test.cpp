// The Linux reachability backend fed with netlink messages that the test writes itself, over a
// routing table that the test writes too: what counts as a change, and what a target then reads.
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "platform/net/reachability.h"
#include "tests/platform/net/poll_loop.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One netlink message of type with a zeroed payload of the given size.
Bytes message(uint16_t type, size_t payload = sizeof(rtmsg)) {
    Bytes m(NLMSG_SPACE(payload));
    nlmsghdr header{};
    header.nlmsg_len = NLMSG_LENGTH(payload);
    header.nlmsg_type = type;
    std::memcpy(m.data(), &header, sizeof header);
    return m;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes withLength(Bytes m, uint32_t length) {
    std::memcpy(m.data(), &length, sizeof length);  // nlmsg_len leads the header
    return m;
}

constexpr const char* kRouteHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
constexpr const char* kDefaultRoute = "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
constexpr const char* kSubnetRoute = "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";

TEST(NetlinkChange, OnlyWellFormedLinkAddressAndRouteMessagesCount) {
    struct Case {
        const char* name;
        Bytes datagram;
        bool change;
    } cases[] = {
        {"new route", message(RTM_NEWROUTE), true},
        {"deleted route", message(RTM_DELROUTE), true},
        {"link up or down", message(RTM_NEWLINK, sizeof(ifinfomsg)), true},
        {"link removed", message(RTM_DELLINK, sizeof(ifinfomsg)), true},
        {"new address", message(RTM_NEWADDR, sizeof(ifaddrmsg)), true},
        {"deleted address", message(RTM_DELADDR, sizeof(ifaddrmsg)), true},
        {"neighbour only", message(RTM_NEWNEIGH), false},
        {"no-op then route", concat({message(NLMSG_NOOP, 0), message(RTM_NEWROUTE)}), true},
        {"done ends the datagram", concat({message(NLMSG_DONE, 4), message(RTM_NEWROUTE)}), false},
        {"empty", Bytes{}, false},
        {"shorter than a header", Bytes(sizeof(nlmsghdr) - 1, 0), false},
        {"length past the datagram", withLength(message(RTM_NEWROUTE), 4096), false},
        {"length below a header", withLength(message(RTM_NEWROUTE), 8), false},
        {"bad second message after a neighbour",
         concat({message(RTM_NEWNEIGH), withLength(message(RTM_NEWLINK), 9999)}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A copy of exactly the datagram's size, so a read past it shows under the sanitizer.
        std::vector<uint8_t> exact(c.datagram);
        EXPECT_EQ(net::LinuxReachabilityBackend::isNetworkChange(exact.data(), exact.size()), c.change);
    }
}

class InjectedNetlink : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(proc / "net");
        writeRoutes("");
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds), 0);
        backend = std::make_shared<net::LinuxReachabilityBackend>(loop, proc.path().string(), fds[0]);
    }
    void TearDown() override { ::close(fds[1]); }

    void writeRoutes(const std::string& rows) { std::ofstream(proc / "net/route") << kRouteHeader << rows; }
    void inject(const Bytes& datagram) {
        ASSERT_EQ(::send(fds[1], datagram.data(), datagram.size(), 0), static_cast<ssize_t>(datagram.size()));
    }
    // A written datagram is readable at once: one pass reads it, the next runs what it posted.
    void settle() {
        for (int i = 0; i < 3; ++i) loop.runOnce(0);
    }

    hxtest::TempDir proc;
    hxtest::PollLoop loop;
    int fds[2] = {-1, -1};
    std::shared_ptr<net::LinuxReachabilityBackend> backend;
};

TEST_F(InjectedNetlink, ListenersHearOfRouteChangesAndNothingElse) {
    int heard = 0;
    backend->addListener([&] { ++heard; });
    inject(message(RTM_NEWNEIGH));
    inject(Bytes(3, 0xff));
    settle();
    EXPECT_EQ(heard, 0);
    // Several datagrams waiting at once make one call.
    inject(message(RTM_NEWROUTE));
    inject(message(RTM_NEWADDR, sizeof(ifaddrmsg)));
    settle();
    EXPECT_EQ(heard, 1);
    inject(message(RTM_DELLINK, sizeof(ifinfomsg)));
    settle();
    EXPECT_EQ(heard, 2);
}

TEST_F(InjectedNetlink, ATargetReadsTheTableAgainOnEachChange) {
    sockaddr_in any{};
    any.sin_family = AF_INET;
    auto internet = net::ReachabilityTarget::withAddress(reinterpret_cast<const sockaddr*>(&any), backend);
    sockaddr_in6 loopback6{};
    loopback6.sin6_family = AF_INET6;
    loopback6.sin6_addr = in6addr_loopback;
    auto local = net::ReachabilityTarget::withAddress(reinterpret_cast<const sockaddr*>(&loopback6), backend);
    ASSERT_TRUE(internet && local);
    std::vector<uint32_t> seen;
    internet->setCallback([&](uint32_t flags) { seen.push_back(flags); });
    writeRoutes(kSubnetRoute);  // a subnet is not the internet
    EXPECT_EQ(internet->getFlags(), 0u);
    EXPECT_EQ(local->getFlags().value_or(0) & net::kReachabilityReachable, net::kReachabilityReachable);

    // As it starts, the target reports where the network stands, once, at the loop's next turn.
    ASSERT_TRUE(internet->scheduleWithLoop(loop));
    EXPECT_TRUE(seen.empty());
    settle();
    ASSERT_EQ(seen, std::vector<uint32_t>{0u});

    writeRoutes(std::string(kSubnetRoute) + kDefaultRoute);
    inject(message(RTM_NEWROUTE));
    settle();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], net::kReachabilityReachable);

    writeRoutes(kSubnetRoute);
    inject(message(RTM_DELROUTE));
    settle();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2], 0u);

    // Unscheduled, the target hears nothing more; stopped and started again before the loop
    // turns (a trip to the background and back), it reports once for the last start.
    internet->unschedule();
    inject(message(RTM_NEWROUTE));
    settle();
    EXPECT_EQ(seen.size(), 3u);
    ASSERT_TRUE(internet->scheduleWithLoop(loop));
    internet->unschedule();
    ASSERT_TRUE(internet->scheduleWithLoop(loop));
    settle();
    EXPECT_EQ(seen.size(), 4u);
    internet->unschedule();
    ASSERT_TRUE(internet->scheduleWithLoop(loop));
    internet->unschedule();
    settle();
    EXPECT_EQ(seen.size(), 4u) << "nothing for a start that was undone";
}

}  // namespace
