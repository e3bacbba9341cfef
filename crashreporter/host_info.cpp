#include "crashreporter/host_info.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/kernel/sysctl.h"

void zvcrash_log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

std::shared_ptr<ZVCrashHostInfo> ZVCrashHostInfo::currentHostInfo() {
    char* release = zvcrash_sysctlbyname_string("kern.osrelease");
    if (!release) {
        int e = errno;
        zvcrash_log("[ZVCrashReporter] Failed to fetch kern.osrelease value %d: %s", e, std::strerror(e));
        return nullptr;
    }
    auto info = std::make_shared<ZVCrashHostInfo>();
    info->version_ = parseRelease(release);
    std::free(release);
    return info;
}

ZVCrashHostInfoVersion ZVCrashHostInfo::parseRelease(const std::string& release) {
    ZVCrashHostInfoVersion v;
    uint64_t* parts[3] = {&v.major, &v.minor, &v.revision};
    const char* p = release.c_str();
    bool ok = true;
    for (int i = 0; i < 3 && ok; ++i) {
        if (i > 0) {
            if (*p != '.') {
                ok = false;
                break;
            }
            ++p;
        }
        if (*p < '0' || *p > '9') {
            ok = false;
            break;
        }
        uint64_t value = 0;
        while (*p >= '0' && *p <= '9') value = value * 10 + static_cast<uint64_t>(*p++ - '0');
        *parts[i] = value;
    }
    if (!ok) zvcrash_log("[ZVCrashReporter] Unexpected kern.osrelease string format: %s", release.c_str());
    return v;
}

std::shared_ptr<ZVCrashProcessInfo> ZVCrashProcessInfo::currentProcessInfo() {
    return initWithProcessID(static_cast<int32_t>(::getpid()));
}

std::shared_ptr<ZVCrashProcessInfo> ZVCrashProcessInfo::initWithProcessID(int32_t pid) {
    kernel::kinfo_proc record;
    if (!kernel::proc_info(pid, &record)) return nullptr;
    auto info = std::make_shared<ZVCrashProcessInfo>();
    info->traced_ = record.traced;
    size_t n = zvcrash_sysctl_valid_utf8_bytes_max(reinterpret_cast<const uint8_t*>(record.comm), sizeof record.comm);
    if (n > 0) info->name_ = std::string(record.comm, n);
    info->pid_ = pid;
    info->ppid_ = record.ppid;
    info->start_ = record.start;
    return info;
}

char* zvcrash_sysctlbyname_string(const char* name) {
    char* buffer = nullptr;
    for (;;) {
        size_t size = 0;
        if (kernel::sysctlbyname(name, nullptr, &size) != 0) {
            std::free(buffer);
            return nullptr;
        }
        std::free(buffer);
        buffer = static_cast<char*>(std::malloc(size));
        if (!buffer) return nullptr;
        if (kernel::sysctlbyname(name, buffer, &size) == 0) return buffer;
        if (errno == ENOMEM) continue;
        int saved = errno;
        std::free(buffer);
        errno = saved;
        return nullptr;
    }
}

bool zvcrash_sysctlbyname_int32(const char* name, int32_t* value) {
    size_t size = sizeof *value;
    return kernel::sysctlbyname(name, value, &size) == 0;
}

size_t zvcrash_sysctl_valid_utf8_bytes_max(const uint8_t* bytes, size_t length) {
    size_t i = 0;
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) i = 3;
    while (i < length) {
        const uint8_t lead = bytes[i];
        if (lead == 0) break;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t need;
        uint32_t cp;
        if ((lead & 0xE0) == 0xC0) {
            need = 1;
            cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            need = 2;
            cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            need = 3;
            cp = lead & 0x07;
        } else
            break;
        if (length - i - 1 < need) break;
        bool ok = true;
        for (size_t k = 1; k <= need; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (bytes[i + k] & 0x3F);
        }
        if (!ok) break;
        // Overlong forms and surrogates would become invalid UTF-8 in every text made from the name.
        static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[need] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) break;
        i += need + 1;
    }
    return i;
}

void zvcrash_populate_error(foundation::Error* out, int code, const std::string& description,
                            const foundation::Error* underlying) {
    if (!out) return;
    foundation::Dictionary info;
    info[foundation::kLocalizedDescriptionKey] = description;
    if (underlying) {
        foundation::Dictionary u;
        u["domain"] = underlying->domain;
        u["code"] = underlying->code;
        info[kUnderlyingErrorKey] = std::move(u);
    }
    *out = foundation::Error(ZVCrashReporterErrorDomain, code, std::move(info));
}

void zvcrash_populate_mach_error(foundation::Error* out, int kr, const std::string& description) {
    if (!out) return;
    foundation::Error underlying("NSMachErrorDomain", kr);
    zvcrash_populate_error(out, ZVCrashReporterErrorOperatingSystem, description, &underlying);
}

void zvcrash_populate_posix_error(foundation::Error* out, int errnoValue, const std::string& description) {
    if (!out) return;
    foundation::Error underlying("NSPOSIXErrorDomain", errnoValue);
    zvcrash_populate_error(out, ZVCrashReporterErrorOperatingSystem, description, &underlying);
}
