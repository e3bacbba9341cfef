#include "platform/net/url_error.h"

namespace net {

namespace {
const char* describe(int64_t code) {
    switch (code) {
        case kURLErrorCancelled:
            return "cancelled";
        case kURLErrorBadURL:
            return "unsupported URL";
        case kURLErrorTimedOut:
            return "The request timed out.";
        case kURLErrorUnsupportedURL:
            return "unsupported URL";
        case kURLErrorCannotFindHost:
            return "A server with the specified hostname could not be found.";
        case kURLErrorCannotConnectToHost:
            return "Could not connect to the server.";
        case kURLErrorNetworkConnectionLost:
            return "The network connection was lost.";
        case kURLErrorHTTPTooManyRedirects:
            return "too many HTTP redirects";
        case kURLErrorNotConnectedToInternet:
            return "The Internet connection appears to be offline.";
        case kURLErrorBadServerResponse:
            return "The server returned a bad response.";
        case kURLErrorCannotDecodeContentData:
            return "cannot decode raw data";
        case kURLErrorDataLengthExceedsMaximum:
            return "resource exceeds maximum size";
        case kURLErrorSecureConnectionFailed:
            return "An SSL error has occurred and a secure connection to the server cannot be made.";
        case kURLErrorServerCertificateUntrusted:
            return "The certificate for this server is invalid.";
        default:
            return "An unknown error occurred.";
    }
}
}  // namespace

foundation::Error urlError(int64_t code, const std::string& url, const std::string& detail) {
    foundation::Dictionary info;
    std::string text = describe(code);
    if (!detail.empty()) text += " (" + detail + ")";
    info.set(foundation::kLocalizedDescriptionKey, foundation::Value(text));
    info.set(kURLErrorFailingURLStringKey, foundation::Value(url));
    return foundation::Error(kURLErrorDomain, code, std::move(info));
}

}  // namespace net
