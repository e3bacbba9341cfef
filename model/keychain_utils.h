// Small secrets (an account's sign-in values, the passcode lock's settings) kept as generic-
// password items of the keychain, addressed by a service name and a user name. Every item it
// writes is readable after the device's first unlock.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/error.h"

inline constexpr const char* kHXCKeychainUtilsErrorDomain = "HXCKeychainUtilsErrorDomain";
// A required argument (user name, service name or password) is missing.
inline constexpr int64_t kHXCKeychainMissingArgument = -2000;
// The item's attributes were found but its data was not readable, or it vanished meanwhile.
inline constexpr int64_t kHXCKeychainUnreadableItem = -1999;

class HXCKeychainUtils {
public:
    // An error out: nullptr when the caller does not want to know; reset() clears it.
    using ErrorOut = std::optional<foundation::Error>*;

    // The stored password, or none (without an error when there is no such item).
    static std::optional<std::string> getPasswordForUsername(const std::optional<std::string>& username,
                                                             const std::optional<std::string>& andServiceName,
                                                             ErrorOut error);
    // Adds the item, or (with updateExisting) changes a different stored value; true on success.
    static bool storeUsername(const std::optional<std::string>& username, const std::optional<std::string>& andPassword,
                              const std::optional<std::string>& forServiceName, bool updateExisting, ErrorOut error);
    static bool deleteItemForUsername(const std::optional<std::string>& username,
                                      const std::optional<std::string>& andServiceName, ErrorOut error);
};
