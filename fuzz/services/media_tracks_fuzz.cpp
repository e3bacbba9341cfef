// The media track reader over arbitrary bytes: tracks or an error that names where it failed,
// never a crash or a read past the input; what it reads is within its limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/services/media_track_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto tracks = services::readMediaTracks({data, size});
    if (!tracks.ok()) {
        if (tracks.error().domain != services::kMediaTrackErrorDomain) std::abort();
        return 0;
    }
    if (tracks.value().size() > services::kMediaTrackMaximumTracks) std::abort();
    for (const auto& t : tracks.value()) {
        const auto upright = services::applyTransform(t.naturalSize, t.preferredTransform);
        if (!(upright.width >= 0) || !(upright.height >= 0)) std::abort();
    }
    return 0;
}
