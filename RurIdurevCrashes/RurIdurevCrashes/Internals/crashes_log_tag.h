// The tag of every diagnostic line of the crash reporting service.
#pragma once

inline constexpr const char* kZIVOCrashesLogTag = "RurIdurevCrashes";
