// Strings kept as generic-password items of the keychain, under the service
// "<bundle identifier>.RurIdurev" unless another is given.
#pragma once

#include <optional>
#include <string>

#include "platform/security/keychain.h"

class ZIVOKeychainUtil {
public:
    ZIVOKeychainUtil() = delete;

    // "<bundle identifier>.RurIdurev", made once per process.
    static std::string defaultServiceName();

    static bool storeString(const std::string& string, const std::string& key, const std::string& serviceName);
    static bool storeString(const std::string& string, const std::string& key);
    // The stored string, or nothing; the keychain's status goes to statusCode when given.
    static std::optional<std::string> stringForKey(const std::string& key, const std::string& serviceName,
                                                   security::OSStatus* statusCode);
    static std::optional<std::string> stringForKey(const std::string& key, security::OSStatus* statusCode);
    // The string that was deleted, or nothing when there was none.
    static std::optional<std::string> deleteStringForKey(const std::string& key, const std::string& serviceName);
    static std::optional<std::string> deleteStringForKey(const std::string& key);
    // Deletes every item of the default service.
    static bool clear();

    static security::KeychainQuery generateItem(const std::string& key, const std::string& serviceName);
};
