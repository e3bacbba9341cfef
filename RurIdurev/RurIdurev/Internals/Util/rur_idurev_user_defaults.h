// The SDK's small persistent settings, kept in the application's standard user defaults behind
// the prefix "ZVRurIdurev", and the one-time move of keys an older SDK used.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/value.h"

inline constexpr const char* kZIVOUserDefaultsPrefix = "ZVRurIdurev";

// An old key that stands for every key beginning with the prefix.
class ZIVOUserDefaultsPrefixKey {
public:
    explicit ZIVOUserDefaultsPrefixKey(std::string prefix) : keyPrefix_(std::move(prefix)) {}
    const std::string& keyPrefix() const { return keyPrefix_; }

private:
    std::string keyPrefix_;
};

// One migration entry: the current full key and the old key (one key or a prefix).
using ZIVOUserDefaultsOldKey = std::variant<std::string, ZIVOUserDefaultsPrefixKey>;
using ZIVOUserDefaultsMigration = std::vector<std::pair<std::string, ZIVOUserDefaultsOldKey>>;

class ZIVORurIdurevUserDefaults {
public:
    static std::shared_ptr<ZIVORurIdurevUserDefaults> shared();
    static void resetSharedInstance();

    // A null value for an absent key.
    foundation::Value objectForKey(const std::string& key) const;
    void setObject(const foundation::Value& value, const std::string& key);
    void removeObjectForKey(const std::string& key);

    // Moves every old key's value to its current key once per service (a marker remembers it).
    void migrateKeys(const ZIVOUserDefaultsMigration& migratedKeys, const std::string& service);
};
