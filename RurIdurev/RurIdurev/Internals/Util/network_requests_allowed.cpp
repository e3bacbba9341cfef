#include "RurIdurev/RurIdurev/Internals/Util/network_requests_allowed.h"

#include <atomic>

#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"

namespace {

// 0 not loaded, 1 forbidden, 2 allowed.
std::atomic<int> cached{0};

}  // namespace

bool ZIVONetworkRequestsAllowed::isAllowed() {
    int value = cached.load(std::memory_order_acquire);
    if (value == 0) {
        auto stored = ZIVORurIdurevUserDefaults::shared()->objectForKey(kZIVONetworkRequestsAllowedKey);
        const int loaded = stored.isNull() || stored.boolValue() ? 2 : 1;
        // A concurrent set() wins over this load.
        int expected = 0;
        cached.compare_exchange_strong(expected, loaded, std::memory_order_acq_rel);
        value = cached.load(std::memory_order_acquire);
    }
    return value == 2;
}

void ZIVONetworkRequestsAllowed::set(bool allowed) {
    ZIVORurIdurevUserDefaults::shared()->setObject(allowed, kZIVONetworkRequestsAllowedKey);
    cached.store(allowed ? 2 : 1, std::memory_order_release);
}

void ZIVONetworkRequestsAllowed::reset() { cached.store(0, std::memory_order_release); }
