#include "platform/services/audio_output.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/foundation/files.h"

namespace services {

namespace {

std::mutex outputMutex;
std::shared_ptr<AudioOutput> sharedOutput;

// Big- and little-endian readers over bounded bytes (a short read gives nullopt).
struct Reader {
    const uint8_t* data;
    size_t size;
    std::optional<uint64_t> get(size_t at, size_t n, bool big) const {
        if (at > size || n > size - at) return std::nullopt;
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v |= uint64_t{data[at + (big ? i : n - 1 - i)]} << (8 * (n - 1 - i));
        return v;
    }
    bool tag(size_t at, std::string_view four) const {
        return at <= size && size - at >= 4 && std::memcmp(data + at, four.data(), 4) == 0;
    }
};

std::optional<PCMSound> samplesOf(const Reader& r, size_t at, size_t bytes, long rate, int channels, bool bigEndian) {
    if (rate <= 0 || channels <= 0 || channels > 8 || at > r.size) return std::nullopt;
    bytes = std::min(bytes, r.size - at) / 2 * 2;
    auto samples = std::make_shared<std::vector<int16_t>>(bytes / 2);
    for (size_t i = 0; i < samples->size(); ++i) (*samples)[i] = static_cast<int16_t>(*r.get(at + 2 * i, 2, bigEndian));
    samples->resize(samples->size() / static_cast<size_t>(channels) * static_cast<size_t>(channels));
    return PCMSound{std::move(samples), rate, channels};
}

// CAF: "caff", version 1, then chunks of a four-letter type and a 64-bit size; the description
// first (sample rate as a double, 'lpcm', flags with bit 1 for little-endian, ..., channels, bits).
std::optional<PCMSound> readCAF(const Reader& r) {
    if (!r.tag(0, "caff") || !r.tag(8, "desc")) return std::nullopt;
    const size_t desc = 20;
    auto rateBits = r.get(desc, 8, true);
    auto flags = r.get(desc + 12, 4, true);
    auto channels = r.get(desc + 24, 4, true);
    auto bits = r.get(desc + 28, 4, true);
    if (!rateBits || !flags || !channels || !bits || !r.tag(desc + 8, "lpcm") || *bits != 16 || (*flags & 1))
        return std::nullopt;
    const double rate = std::bit_cast<double>(*rateBits);
    for (size_t at = 8; at + 12 <= r.size;) {
        auto size = r.get(at + 4, 8, true);
        if (!size || *size > r.size) return std::nullopt;
        // The data chunk begins with a 32-bit edit count.
        if (r.tag(at, "data") && *size >= 4)
            return samplesOf(r, at + 16, static_cast<size_t>(*size - 4), std::lround(rate), static_cast<int>(*channels),
                             !(*flags & 2));
        at += 12 + static_cast<size_t>(*size);
    }
    return std::nullopt;
}

// RIFF WAVE: a "fmt " chunk of format 1 (PCM), 16 bits a sample, then a "data" chunk.
std::optional<PCMSound> readWAVE(const Reader& r) {
    if (!r.tag(0, "RIFF") || !r.tag(8, "WAVE")) return std::nullopt;
    std::optional<long> rate;
    int channels = 0;
    for (size_t at = 12; at + 8 <= r.size;) {
        auto size = r.get(at + 4, 4, false);
        if (!size) return std::nullopt;
        if (r.tag(at, "fmt ")) {
            auto format = r.get(at + 8, 2, false), count = r.get(at + 10, 2, false), hz = r.get(at + 12, 4, false),
                 bits = r.get(at + 22, 2, false);
            if (!format || !count || !hz || !bits || *format != 1 || *bits != 16) return std::nullopt;
            rate = static_cast<long>(*hz);
            channels = static_cast<int>(*count);
        } else if (r.tag(at, "data") && rate) {
            return samplesOf(r, at + 8, static_cast<size_t>(*size), *rate, channels, false);
        }
        at += 8 + static_cast<size_t>(*size) + (*size & 1);
    }
    return std::nullopt;
}

}  // namespace

std::shared_ptr<AudioOutput> AudioOutput::shared() {
    std::lock_guard lock(outputMutex);
    return sharedOutput;
}

void AudioOutput::setShared(std::shared_ptr<AudioOutput> output) {
    std::lock_guard lock(outputMutex);
    sharedOutput = std::move(output);
}

size_t frameAt(const PCMSound& sound, double seconds) {
    if (!(seconds > 0)) return 0;
    return std::min(sound.frames(), static_cast<size_t>(std::llround(seconds * static_cast<double>(sound.rate))));
}

std::optional<PCMSound> readPCMSoundFile(const std::filesystem::path& file) {
    auto bytes = foundation::files::readData(file);
    if (!bytes.ok()) return std::nullopt;
    const Reader r{bytes->data(), bytes->size()};
    if (auto caf = readCAF(r)) return caf;
    return readWAVE(r);
}

}  // namespace services
