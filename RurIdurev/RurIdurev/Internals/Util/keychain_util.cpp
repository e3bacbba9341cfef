#include "RurIdurev/RurIdurev/Internals/Util/keychain_util.h"

#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/foundation/strings.h"

namespace {

std::shared_ptr<security::Keychain> keychain() { return security::Keychain::defaultKeychain(); }

}  // namespace

std::string ZIVOKeychainUtil::defaultServiceName() {
    static const std::string name = zivo_platform::bundleIdentifier() + "." + "RurIdurev";
    return name;
}

security::KeychainQuery ZIVOKeychainUtil::generateItem(const std::string& key, const std::string& serviceName) {
    return security::KeychainQuery::item(serviceName, key);
}

bool ZIVOKeychainUtil::storeString(const std::string& string, const std::string& key, const std::string& serviceName) {
    security::KeychainItem item;
    item.service = serviceName;
    item.account = key;
    item.data = foundation::Data(string.begin(), string.end());
    item.accessibility = security::Accessibility::AfterFirstUnlockThisDeviceOnly;
    auto kc = keychain();
    security::OSStatus status = kc->add(item);
    if (status == security::errSecDuplicateItem) {
        (void)kc->remove(generateItem(key, serviceName));
        status = kc->add(item);
    }
    if (status == security::errSecSuccess) {
        ZIVOLogVerbose(kZIVOLogTag,
                       "Stored a string with key='" + key + "', service='" + serviceName + "' to keychain.");
        return true;
    }
    ZIVOLogWarning(kZIVOLogTag, "Failed to store item with key='" + key + "', service='" + serviceName +
                                    "' to keychain. OS Status code " + std::to_string(status));
    return false;
}

bool ZIVOKeychainUtil::storeString(const std::string& string, const std::string& key) {
    return storeString(string, key, defaultServiceName());
}

std::optional<std::string> ZIVOKeychainUtil::stringForKey(const std::string& key, const std::string& serviceName,
                                                          security::OSStatus* statusCode) {
    auto query = generateItem(key, serviceName);
    query.returnData = true;
    security::KeychainMatch match;
    security::OSStatus status = keychain()->copyMatching(query, &match);
    if (statusCode) *statusCode = status;
    if (status == security::errSecSuccess && match.data) {
        ZIVOLogVerbose(kZIVOLogTag,
                       "Retrieved a string with key='" + key + "', service='" + serviceName + "' from keychain.");
        // Bytes that are not UTF-8 are not a string this SDK stored.
        return foundation::stringFromUtf8(*match.data);
    }
    ZIVOLogWarning(kZIVOLogTag, "Failed to retrieve item with key='" + key + "', service='" + serviceName +
                                    "' from keychain. OS Status code " + std::to_string(status));
    return std::nullopt;
}

std::optional<std::string> ZIVOKeychainUtil::stringForKey(const std::string& key, security::OSStatus* statusCode) {
    security::OSStatus status = security::errSecSuccess;
    auto string = stringForKey(key, defaultServiceName(), &status);
    // Builds whose bundle had no identifier kept their items under ".RurIdurev"; an item found
    // only there moves to this service, so a key stored then still opens what it locked.
    const std::string earlier = std::string(".") + "RurIdurev";
    if (!string && status == security::errSecItemNotFound && defaultServiceName() != earlier) {
        security::OSStatus earlierStatus = security::errSecSuccess;
        auto moved = stringForKey(key, earlier, &earlierStatus);
        if (moved && storeString(*moved, key)) {
            (void)keychain()->remove(generateItem(key, earlier));
            string = std::move(moved);
            status = security::errSecSuccess;
        }
    }
    if (statusCode) *statusCode = status;
    return string;
}

std::optional<std::string> ZIVOKeychainUtil::deleteStringForKey(const std::string& key,
                                                                const std::string& serviceName) {
    // Read from the service the item is deleted from, so that the answer is the deleted string.
    auto string = stringForKey(key, serviceName, nullptr);
    if (!string) return std::nullopt;
    security::OSStatus status = keychain()->remove(generateItem(key, serviceName));
    if (status == security::errSecSuccess) {
        ZIVOLogVerbose(kZIVOLogTag,
                       "Deleted a string with key='" + key + "', service='" + serviceName + "' from keychain.");
        return string;
    }
    ZIVOLogWarning(kZIVOLogTag, "Failed to delete item with key='" + key + "', service='" + serviceName +
                                    "' from keychain. OS Status code " + std::to_string(status));
    return std::nullopt;
}

std::optional<std::string> ZIVOKeychainUtil::deleteStringForKey(const std::string& key) {
    return deleteStringForKey(key, defaultServiceName());
}

bool ZIVOKeychainUtil::clear() { return keychain()->removeAll(defaultServiceName()) == security::errSecSuccess; }
