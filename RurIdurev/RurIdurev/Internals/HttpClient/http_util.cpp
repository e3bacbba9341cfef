#include "RurIdurev/RurIdurev/Internals/HttpClient/http_util.h"

#include "platform/net/url_error.h"

bool ZIVOHttpUtil::isNoInternetConnectionError(const std::optional<foundation::Error>& error) {
    return error && error->domain == net::kURLErrorDomain &&
           (error->code == net::kURLErrorNotConnectedToInternet || error->code == net::kURLErrorNetworkConnectionLost);
}

bool ZIVOHttpUtil::isSSLConnectionError(const std::optional<foundation::Error>& error) {
    return error && error->domain == net::kURLErrorDomain && error->code >= -2000 && error->code <= -1200;
}

std::string ZIVOHttpUtil::hideSecret(const std::string& secret) {
    constexpr size_t kVisible = 8;
    size_t hidden = secret.size() > kVisible ? secret.size() - kVisible : secret.size();
    return std::string(hidden, '*') + secret.substr(hidden);
}

std::string ZIVOHttpUtil::hideSecretInString(const std::string& string, const std::string& secret) {
    if (secret.empty()) return string;
    std::string out;
    std::string masked = hideSecret(secret);
    size_t from = 0, at;
    while ((at = string.find(secret, from)) != std::string::npos) {
        out += string.substr(from, at - from) + masked;
        from = at + secret.size();
    }
    return out + string.substr(from);
}

std::optional<uint32_t> ZIVOHttpUtil::parseRetryAfterMs(const std::optional<std::string>& value) {
    if (!value) return std::nullopt;
    std::string text = *value;
    size_t b = text.find_first_not_of(" \t"), e = text.find_last_not_of(" \t");
    if (b == std::string::npos) return std::nullopt;
    text = text.substr(b, e - b + 1);
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(n);
}

foundation::Error ZIVOHttpUtil::sdkError(int code) {
    const char* text = code == kZIVOLogInvalidContainerErrorCode ? "Invalid log container."
                       : code == kZIVOCanceledErrorCode          ? "The operation was canceled."
                       : code == kZIVODisabledErrorCode          ? "The service is disabled."
                                                                 : "Canceled, connection paused with log deletion.";
    return foundation::Error(kZIVOErrorDomain, code, foundation::Dictionary{{"NSLocalizedDescription", text}});
}
