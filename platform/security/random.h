// Bytes from the system's secure random source, with a status like the platform call's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/foundation/value.h"

namespace security {

inline constexpr int32_t kRandomSuccess = 0;
// The status when the random source could not deliver (the platform's generic failure).
inline constexpr int32_t kRandomFailure = -1;

// Fills `count` bytes at `out`; 0 on success, a non-zero status otherwise (the buffer is then
// zeroed, never left half-random).
int32_t randomBytes(uint8_t* out, size_t count);

// Tests replace the source to see how callers handle a failing one. An empty function restores
// the system source. The replacement is process-wide and guarded.
using RandomSource = std::function<int32_t(uint8_t* out, size_t count)>;
void setRandomSourceForTesting(RandomSource source);

}  // namespace security
