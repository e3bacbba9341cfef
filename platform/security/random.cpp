#include "platform/security/random.h"

#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

namespace security {

namespace {

std::mutex& sourceMutex() {
    static std::mutex m;
    return m;
}

RandomSource& overrideSource() {
    static RandomSource source;
    return source;
}

}  // namespace

int32_t randomBytes(uint8_t* out, size_t count) {
    if (count == 0) return kRandomSuccess;
    if (!out) return kRandomFailure;
    RandomSource source;
    {
        std::lock_guard lock(sourceMutex());
        source = overrideSource();
    }
    int32_t status = kRandomSuccess;
    if (source) {
        status = source(out, count);
    } else {
        size_t done = 0;
        while (done < count && status == kRandomSuccess) {
            const size_t chunk = std::min<size_t>(count - done, INT_MAX);
            if (RAND_bytes(out + done, static_cast<int>(chunk)) != 1) status = kRandomFailure;
            done += chunk;
        }
    }
    if (status != kRandomSuccess) std::memset(out, 0, count);
    return status;
}

void setRandomSourceForTesting(RandomSource source) {
    std::lock_guard lock(sourceMutex());
    overrideSource() = std::move(source);
}

}  // namespace security
