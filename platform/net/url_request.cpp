#include "platform/net/url_request.h"

#include <cctype>
#include <charconv>

namespace net {

std::string HTTPURLResponse::mimeType() const {
    auto type = headers.get("Content-Type");
    if (!type) return "";
    std::string out;
    for (char c : *type) {
        if (c == ';') break;
        if (c == ' ' || c == '\t') continue;
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

long long HTTPURLResponse::expectedContentLength() const {
    auto length = headers.get("Content-Length");
    if (!length) return -1;
    long long n = -1;
    auto [ptr, ec] = std::from_chars(length->data(), length->data() + length->size(), n);
    if (ec != std::errc() || ptr != length->data() + length->size() || n < 0) return -1;
    return n;
}

}  // namespace net
