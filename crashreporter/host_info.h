// Host and process facts for the crash capture, the reporter's error domain and its error
// builders. Normal context only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/time.h>

#include "platform/foundation/error.h"

inline constexpr const char* ZVCrashReporterErrorDomain = "ZVCrashReporterErrorDomain";
inline constexpr const char* ZVCrashReporterException = "ZVCrashReporterException";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";

enum ZVCrashReporterError : int {
    ZVCrashReporterErrorUnknown = 0,
    ZVCrashReporterErrorOperatingSystem = 1,
    ZVCrashReporterErrorCrashReportInvalid = 2,
    ZVCrashReporterErrorResourceBusy = 3,
};

struct ZVCrashHostInfoVersion {
    uint64_t major = 0;
    uint64_t minor = 0;
    uint64_t revision = 0;
};

class ZVCrashHostInfo {
public:
    // Null when "kern.osrelease" can't be read.
    static std::shared_ptr<ZVCrashHostInfo> currentHostInfo();
    // Parses a release text ("22.6.0"); a malformed one is logged and keeps what was scanned.
    static ZVCrashHostInfoVersion parseRelease(const std::string& release);
    ZVCrashHostInfoVersion darwinVersion() const { return version_; }

private:
    ZVCrashHostInfoVersion version_;
};

class ZVCrashProcessInfo {
public:
    static std::shared_ptr<ZVCrashProcessInfo> currentProcessInfo();
    // Null when the process can't be read.
    static std::shared_ptr<ZVCrashProcessInfo> initWithProcessID(int32_t pid);

    int32_t processID() const { return pid_; }
    const std::optional<std::string>& processName() const { return name_; }
    int32_t parentProcessID() const { return ppid_; }
    timeval startTime() const { return start_; }
    bool isTraced() const { return traced_; }

private:
    int32_t pid_ = 0;
    std::optional<std::string> name_;
    int32_t ppid_ = 0;
    timeval start_{};
    bool traced_ = false;
};

// A newly allocated NUL-terminated value (the caller frees it with free()), or null with errno kept.
char* zvcrash_sysctlbyname_string(const char* name);
bool zvcrash_sysctlbyname_int32(const char* name, int32_t* value);

// The length of the longest valid UTF-8 prefix of `bytes` (at most `length`), stopping at NUL.
// Overlong forms, surrogates and values above U+10FFFF end the prefix.
size_t zvcrash_sysctl_valid_utf8_bytes_max(const uint8_t* bytes, size_t length);

// Error builders; each does nothing when `out` is null.
void zvcrash_populate_error(foundation::Error* out, int code, const std::string& description,
                            const foundation::Error* underlying = nullptr);
void zvcrash_populate_mach_error(foundation::Error* out, int kr, const std::string& description);
void zvcrash_populate_posix_error(foundation::Error* out, int errnoValue, const std::string& description);

// The crash capture's diagnostic lines go to standard error; they are never written at crash time.
void zvcrash_log(const char* format, ...) __attribute__((format(printf, 1, 2)));
