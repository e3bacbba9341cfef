// The head of an HTTP response as a transport receives it, one line at a time: status lines
// (an informational reply before the final one is forgotten), header fields, and the blank line
// that ends a head. Kept apart from the transport so that hostile heads can be tried without a
// server.
#pragma once

#include <string>
#include <string_view>

#include "platform/net/url_request.h"

namespace net {

class ResponseHeadParser {
public:
    explicit ResponseHeadParser(std::string url) : url_(std::move(url)) { response_.url = url_; }

    // One line, with or without its CR LF. True when the line ended a final head (a status of
    // 200 or more), which response() then holds; later lines (trailers) are ignored until the
    // next status line.
    bool addLine(std::string_view line);

    const HTTPURLResponse& response() const { return response_; }

private:
    std::string url_;
    HTTPURLResponse response_;
    bool inHeaders_ = true;
};

}  // namespace net
