// Classifies HTTP answers and masks secrets for the log; the SDK's error values.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/error.h"

inline constexpr const char* kZIVOErrorDomain = "com.Dorazadav.RurIdurev.ErrorDomain";
inline constexpr int kZIVOLogInvalidContainerErrorCode = 1;
inline constexpr int kZIVOCanceledErrorCode = 2;
inline constexpr int kZIVODisabledErrorCode = 3;

class ZIVOHttpUtil {
public:
    static bool isRecoverableError(int statusCode) {
        return statusCode >= 500 || statusCode == 0 || statusCode == 408 || statusCode == 429;
    }
    static bool isSuccessStatusCode(int statusCode) { return statusCode >= 200 && statusCode <= 299; }
    static bool isNoInternetConnectionError(const std::optional<foundation::Error>& error);
    static bool isSSLConnectionError(const std::optional<foundation::Error>& error);
    static std::string hideSecret(const std::string& secret);
    static std::string hideSecretInString(const std::string& string, const std::string& secret);
    // "x-zv-retry-after-ms": a plain non-negative decimal integer in any locale, else nothing.
    static std::optional<uint32_t> parseRetryAfterMs(const std::optional<std::string>& value);
    static foundation::Error sdkError(int code);
};
