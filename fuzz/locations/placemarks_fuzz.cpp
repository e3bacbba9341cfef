// A placemark table: loaded or refused, never half-loaded; what loads is on the globe.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/services/geocoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    services::Geocoder::reset();
    const auto loaded = services::Geocoder::loadPlacemarks(foundation::Data(data, data + size));
    const auto places = services::Geocoder::placemarks();
    if (!loaded.ok() && !places.empty()) std::abort();
    for (const auto& p : places)
        if (std::fabs(p.coordinate.latitude) > 90 || std::fabs(p.coordinate.longitude) > 180 || !(p.radius >= 0))
            std::abort();
    return 0;
}
