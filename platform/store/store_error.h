// The error domain and codes of the object store, as its callers test them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/error.h"

namespace store {

// The file was written by an incompatible model of this store: the caller may delete it and
// start afresh.
inline constexpr int64_t kIncompatibleVersionHashError = 134100;
// The file is damaged or is not a database at all (SQLite's corrupt and not-a-database answers),
// at its opening or later. Its bytes may be all a user has: the caller may set it aside and
// start afresh; it must never delete it.
inline constexpr int64_t kDamagedStoreError = 134110;
// The path holds what the store cannot read as its own: tables or metadata written by another
// program, or a directory. The caller may set it aside and start afresh; it must never delete it.
inline constexpr int64_t kUnreadableStoreError = 134120;
// The store could not be opened for another reason (busy, permissions, disk full, ...): the
// file may be fine and must not be deleted.
inline constexpr int64_t kStoreOpenError = 134080;
inline constexpr int64_t kStoreSaveError = 134030;
inline constexpr int64_t kStoreTimeoutError = 134090;
inline constexpr int64_t kValidationError = 1550;
// A request that does not fit the model (unknown entity, key or template, bad predicate).
inline constexpr int64_t kInvalidRequestError = 134060;
inline constexpr int64_t kNoStoreError = 134070;

// userInfo keys beside the localized description.
inline constexpr const char* kSQLiteErrorCodeKey = "NSSQLiteErrorDomain";
inline constexpr const char* kStorePathKey = "NSFilePath";

foundation::Error makeError(int64_t code, std::string description);

}  // namespace store
