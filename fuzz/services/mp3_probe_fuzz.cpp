// The MPEG audio probe over arbitrary bytes: a format only with a positive duration, never a
// crash; a player made of the same bytes agrees with the probe.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/services/audio_player.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto probe = services::probeMP3({data, size});
    if (probe.format) {
        if (probe.format->sampleRate <= 0 || probe.format->channels <= 0 || !(probe.seconds >= 0)) std::abort();
    } else if (probe.seconds != 0 || probe.broken) {
        std::abort();
    }
    const auto player = services::AudioPlayer::withData({data, size});
    if (player->format() != probe.format || player->duration() != probe.seconds) std::abort();
    return 0;
}
