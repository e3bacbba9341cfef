#include "platform/foundation/uuid.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace foundation {

bool secureRandomBytes(void* buffer, size_t length) {
    auto* p = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::getrandom(p + done, length - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

UUID UUID::random() {
    Bytes b{};
    if (!secureRandomBytes(b.data(), b.size())) {
        // Without a secure source there is no acceptable fallback for identifiers.
        std::abort();
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return UUID(b);
}

std::optional<UUID> UUID::parse(std::string_view t) {
    if (t.size() != 36) return std::nullopt;
    Bytes b{};
    size_t byte = 0;
    for (size_t i = 0; i < t.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (t[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        const int hi = hex(t[i]);
        const int lo = i + 1 < t.size() ? hex(t[i + 1]) : -1;
        if (hi < 0 || lo < 0 || byte >= b.size()) return std::nullopt;
        b[byte++] = static_cast<uint8_t>(hi << 4 | lo);
        i += 2;
    }
    if (byte != b.size()) return std::nullopt;
    return UUID(b);
}

std::string UUID::string() const {
    char out[37];
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes_[0],
                  bytes_[1], bytes_[2], bytes_[3], bytes_[4], bytes_[5], bytes_[6], bytes_[7], bytes_[8], bytes_[9],
                  bytes_[10], bytes_[11], bytes_[12], bytes_[13], bytes_[14], bytes_[15]);
    return out;
}

bool UUID::isNil() const {
    for (uint8_t v : bytes_) {
        if (v) return false;
    }
    return true;
}

std::string globallyUniqueString() { return UUID::random().string() + "-" + std::to_string(::getpid()); }

}  // namespace foundation
