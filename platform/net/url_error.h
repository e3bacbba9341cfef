// The URL-loading error codes callers tell apart. Connection failures that mean "no network",
// "too slow" and "dropped mid-way" keep their own codes; everything else maps to the nearest
// platform code so that no failure passes for one of those three.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/error.h"

namespace net {

inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* kURLErrorFailingURLStringKey = "NSErrorFailingURLStringKey";

enum URLErrorCode : int64_t {
    kURLErrorUnknown = -1,
    kURLErrorCancelled = -999,
    kURLErrorBadURL = -1000,
    kURLErrorTimedOut = -1001,
    kURLErrorUnsupportedURL = -1002,
    kURLErrorCannotFindHost = -1003,
    kURLErrorCannotConnectToHost = -1004,
    kURLErrorNetworkConnectionLost = -1005,
    kURLErrorHTTPTooManyRedirects = -1007,
    kURLErrorNotConnectedToInternet = -1009,
    kURLErrorBadServerResponse = -1011,
    kURLErrorCannotDecodeContentData = -1016,
    kURLErrorDataLengthExceedsMaximum = -1103,
    kURLErrorSecureConnectionFailed = -1200,
    kURLErrorServerCertificateUntrusted = -1202,
};

// An error of the URL domain with a readable description and the failing URL.
foundation::Error urlError(int64_t code, const std::string& url, const std::string& detail = {});

}  // namespace net
