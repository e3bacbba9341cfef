#include "platform/net/response_head.h"

namespace net {

bool ResponseHeadParser::addLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.substr(0, 5) == "HTTP/") {
        response_ = HTTPURLResponse{};
        response_.url = url_;
        size_t sp = line.find(' ');
        if (sp != std::string_view::npos) {
            int status = 0;
            for (size_t i = sp + 1; i < line.size() && i < sp + 4; ++i) {
                if (line[i] < '0' || line[i] > '9') break;
                status = status * 10 + (line[i] - '0');
            }
            response_.statusCode = status;
        }
        inHeaders_ = true;
        return false;
    }
    if (line.empty()) {
        if (inHeaders_ && response_.statusCode >= 200) {
            inHeaders_ = false;
            return true;
        }
        return false;
    }
    size_t colon = line.find(':');
    if (colon != std::string_view::npos && inHeaders_) {
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        response_.headers.add(line.substr(0, colon), value);
    }
    return false;
}

}  // namespace net
