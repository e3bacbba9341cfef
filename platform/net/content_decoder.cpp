#include "platform/net/content_decoder.h"

#include <zlib.h>

#include <string>

#include "platform/net/http_headers.h"
#include "platform/net/url_error.h"

namespace net {

struct ContentDecoder::State {
    Kind kind;
    z_stream zs{};
    bool initialised = false;
    bool raw = false;          // deflate without the zlib wrapper
    bool ended = false;        // the stream's end marker was seen
    bool sawOutput = false;    // a raw retry is only possible before anything was produced
    size_t produced = 0;       // plain bytes produced so far
    foundation::Data pending;  // input kept for a raw retry of a deflate body

    bool init(bool rawDeflate) {
        if (initialised) inflateEnd(&zs);
        zs = z_stream{};
        int windowBits = kind == Kind::Gzip ? 15 + 16 : (rawDeflate ? -15 : 15);
        initialised = inflateInit2(&zs, windowBits) == Z_OK;
        raw = rawDeflate;
        return initialised;
    }
    ~State() {
        if (initialised) inflateEnd(&zs);
    }
};

ContentDecoder::ContentDecoder(Kind kind) : state_(std::make_unique<State>()) {
    state_->kind = kind;
    state_->init(false);
}

ContentDecoder::~ContentDecoder() = default;

std::unique_ptr<ContentDecoder> ContentDecoder::forEncoding(std::string_view contentEncoding) {
    std::string_view e = contentEncoding;
    while (!e.empty() && (e.front() == ' ' || e.front() == '\t')) e.remove_prefix(1);
    while (!e.empty() && (e.back() == ' ' || e.back() == '\t')) e.remove_suffix(1);
    if (equalsIgnoringCase(e, "gzip") || equalsIgnoringCase(e, "x-gzip"))
        return std::unique_ptr<ContentDecoder>(new ContentDecoder(Kind::Gzip));
    if (equalsIgnoringCase(e, "deflate")) return std::unique_ptr<ContentDecoder>(new ContentDecoder(Kind::Deflate));
    return nullptr;
}

foundation::Status ContentDecoder::decode(const uint8_t* data, size_t size, foundation::Data& out, size_t limit) {
    State& s = *state_;
    if (!s.initialised) return foundation::Error(kURLErrorDomain, kURLErrorCannotDecodeContentData);
    if (s.kind == Kind::Deflate && !s.raw && !s.sawOutput) s.pending.insert(s.pending.end(), data, data + size);
    s.zs.next_in = const_cast<Bytef*>(data);
    s.zs.avail_in = static_cast<uInt>(size);
    uint8_t buffer[16384];
    // Runs until the input is used up and inflate had room to spare: with the buffer filled,
    // inflate may still hold output for input it has already taken, which would otherwise come
    // out only with the next piece of the body, or never after the last one.
    bool bufferFilled = false;
    while ((s.zs.avail_in > 0 || bufferFilled) && !s.ended) {
        s.zs.next_out = buffer;
        s.zs.avail_out = sizeof buffer;
        int rc = inflate(&s.zs, Z_NO_FLUSH);
        size_t produced = sizeof buffer - s.zs.avail_out;
        bufferFilled = s.zs.avail_out == 0;
        if (produced) {
            if (produced > limit || s.produced > limit - produced)
                return foundation::Error(kURLErrorDomain, kURLErrorDataLengthExceedsMaximum);
            s.produced += produced;
            out.insert(out.end(), buffer, buffer + produced);
            s.sawOutput = true;
            s.pending.clear();
            s.pending.shrink_to_fit();
        }
        if (rc == Z_STREAM_END) {
            s.ended = true;
            break;
        }
        if (rc == Z_DATA_ERROR && s.kind == Kind::Deflate && !s.raw && !s.sawOutput) {
            // Not zlib-wrapped after all: start over on everything received as raw deflate.
            foundation::Data replay = std::move(s.pending);
            s.pending.clear();
            if (!s.init(true)) return foundation::Error(kURLErrorDomain, kURLErrorCannotDecodeContentData);
            return decode(replay.data(), replay.size(), out, limit);
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            return foundation::Error(kURLErrorDomain, kURLErrorCannotDecodeContentData);
        if (rc == Z_BUF_ERROR && produced == 0) break;
    }
    return foundation::Status::success();
}

bool ContentDecoder::finished() const { return state_->ended; }

}  // namespace net
