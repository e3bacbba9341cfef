// Response heads line by line as a server may send them: status lines of any shape, fields
// without a colon, informational replies, trailers. A head that completes has a final status and
// only fields with a name free of colons and line ends.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/net/response_head.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    net::ResponseHeadParser parser("http://127.0.0.1/");
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find('\n', from);
        size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (parser.addLine(text.substr(from, next - from))) {
            const auto& response = parser.response();
            if (response.statusCode < 200 || response.statusCode > 999) std::abort();
            if (response.url != "http://127.0.0.1/") std::abort();
            for (const auto& [name, value] : response.headers.fields()) {
                if (name.find_first_of(":\n") != std::string::npos) std::abort();
                if (value.find('\n') != std::string::npos) std::abort();
            }
            (void)response.mimeType();
            (void)response.expectedContentLength();
        }
        from = next;
    }
    return 0;
}
