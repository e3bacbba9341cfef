// Streaming removal of a response's Content-Encoding (gzip, x-gzip, deflate) so that callers
// only ever see the body itself. "deflate" is accepted both zlib-wrapped and raw, since
// servers send either.
#pragma once

#include <memory>
#include <string_view>

#include "platform/foundation/error.h"

namespace net {

class ContentDecoder {
public:
    // A decoder for the Content-Encoding value; nullptr when the body needs no decoding (no
    // encoding, "identity", or one this layer passes through unchanged).
    static std::unique_ptr<ContentDecoder> forEncoding(std::string_view contentEncoding);

    ~ContentDecoder();
    // Decodes the next chunk, appending the plain bytes to out. Once the stream has produced
    // more than limit bytes in all, decoding stops at once with kURLErrorDataLengthExceedsMaximum,
    // so a small body that inflates to gigabytes never gets that far.
    foundation::Status decode(const uint8_t* data, size_t size, foundation::Data& out,
                              size_t limit = static_cast<size_t>(-1));
    // Whether the encoded stream ended properly (false for a truncated body).
    bool finished() const;

private:
    enum class Kind { Gzip, Deflate };
    explicit ContentDecoder(Kind kind);
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace net
