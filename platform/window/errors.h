// The window front end's failures.
#pragma once

#include <string>

#include "platform/foundation/error.h"

namespace windowing {

inline constexpr const char* kWindowErrorDomain = "HXWindowErrorDomain";
inline constexpr int64_t kWindowScriptError = 1;   // an input script that cannot be played
inline constexpr int64_t kWindowDisplayError = 2;  // no window, renderer or texture could be made
inline constexpr int64_t kWindowScreenshotError = 3;
inline constexpr int64_t kWindowDropError = 4;  // a dropped file that is no picture, or nothing took it

inline foundation::Error windowError(int64_t code, const std::string& why) {
    return foundation::Error::withDescription(kWindowErrorDomain, code, why);
}

}  // namespace windowing
