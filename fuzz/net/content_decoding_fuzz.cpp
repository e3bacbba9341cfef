// Encoded response bodies (gzip, deflate zlib-wrapped or raw) as they arrive, in pieces of any
// size: a body fed in chunks must decode exactly as the same body fed whole (same verdict, same
// bytes, same end), since the network splits bodies wherever it likes.
// Layout: byte 0 picks the encoding, byte 1 seeds the chunk sizes, the rest is the body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/net/content_decoder.h"

namespace {

struct Outcome {
    bool ok = true;
    bool finished = false;
    foundation::Data plain;
};

Outcome decodeInChunks(std::string_view encoding, const uint8_t* body, size_t size, uint8_t seed) {
    Outcome out;
    auto decoder = net::ContentDecoder::forEncoding(encoding);
    if (!decoder) std::abort();  // every encoding tried here has a decoder
    size_t at = 0;
    uint32_t state = seed;
    do {
        size_t piece = size - at;
        if (seed != 0) {
            state = state * 1103515245u + 12345u;
            piece = std::min<size_t>(piece, 1 + (state >> 16) % 64);
        }
        if (!decoder->decode(body + at, piece, out.plain)) {
            out.ok = false;
            break;
        }
        at += piece;
    } while (at < size);
    out.finished = decoder->finished();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static constexpr std::string_view kEncodings[] = {"gzip", "deflate", "x-gzip", " Deflate "};
    const std::string_view encoding = kEncodings[data[0] % 4];
    const Outcome whole = decodeInChunks(encoding, data + 2, size - 2, 0);
    const Outcome pieces = decodeInChunks(encoding, data + 2, size - 2, data[1] | 1);
    if (whole.ok != pieces.ok) std::abort();
    if (whole.ok && (whole.finished != pieces.finished || whole.plain != pieces.plain)) std::abort();
    // Bytes decoded before a failure are a prefix of what the whole body gives up to it.
    if (!whole.ok && !pieces.ok) {
        const auto& shorter = whole.plain.size() < pieces.plain.size() ? whole.plain : pieces.plain;
        const auto& longer = whole.plain.size() < pieces.plain.size() ? pieces.plain : whole.plain;
        if (!std::equal(shorter.begin(), shorter.end(), longer.begin())) std::abort();
    }
    return 0;
}
