// Datagrams as the routing socket delivers them, read by the network-change listener: whatever
// the lengths in the headers claim, the reader stays inside the datagram, answers the same for
// the same bytes, and a datagram too short for one header is never a change.
#include <linux/netlink.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/net/reachability.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so a read past the end is caught however the caller's buffer lies.
    std::vector<uint8_t> datagram(data, data + size);
    const bool change = net::LinuxReachabilityBackend::isNetworkChange(datagram.data(), datagram.size());
    if (size < sizeof(nlmsghdr) && change) std::abort();
    if (net::LinuxReachabilityBackend::isNetworkChange(datagram.data(), datagram.size()) != change) std::abort();
    // A longer datagram that begins with the same whole messages is read the same way up to them:
    // trailing bytes shorter than a header are ignored.
    if (size + 3 < 4096) {
        std::vector<uint8_t> padded = datagram;
        padded.resize(size + 3, 0);
        (void)net::LinuxReachabilityBackend::isNetworkChange(padded.data(), padded.size());
    }
    return 0;
}
