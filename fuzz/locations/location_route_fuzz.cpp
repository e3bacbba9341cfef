// A route file: parsed or refused; a parsed route's times never go back and its fixes are on the
// globe.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/services/location_route.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto route = services::parseLocationRoute(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!route.ok()) return 0;
    double last = 0;
    for (const auto& p : route.value()) {
        if (p.seconds < last || std::fabs(p.location.coordinate.latitude) > 90 ||
            std::fabs(p.location.coordinate.longitude) > 180 || !(p.location.horizontalAccuracy >= 0))
            std::abort();
        last = p.seconds;
    }
    return 0;
}
