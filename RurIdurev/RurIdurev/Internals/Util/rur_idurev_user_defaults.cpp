#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"

#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/logger.h"

namespace {

std::mutex& userDefaultsMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::shared_ptr<ZIVORurIdurevUserDefaults>& userDefaultsSlot() {
    static auto* instance = new std::shared_ptr<ZIVORurIdurevUserDefaults>;
    return *instance;
}

std::string fullKey(const std::string& key) { return kZIVOUserDefaultsPrefix + key; }

void swapKeys(const std::string& oldKey, const std::string& newKey, const foundation::Value& value) {
    if (value.isNull()) return;
    zivo_platform::setDefaultsObject(newKey, value);
    zivo_platform::removeDefaultsObject(oldKey);
    ZIVOLogVerbose(kZIVOLogTag, "Migrating key " + oldKey + " -> " + newKey);
}

}  // namespace

std::shared_ptr<ZIVORurIdurevUserDefaults> ZIVORurIdurevUserDefaults::shared() {
    std::lock_guard lock(userDefaultsMutex());
    auto& slot = userDefaultsSlot();
    if (!slot) slot = std::make_shared<ZIVORurIdurevUserDefaults>();
    return slot;
}

void ZIVORurIdurevUserDefaults::resetSharedInstance() {
    std::lock_guard lock(userDefaultsMutex());
    userDefaultsSlot().reset();
}

foundation::Value ZIVORurIdurevUserDefaults::objectForKey(const std::string& key) const {
    return zivo_platform::defaultsObject(fullKey(key));
}

void ZIVORurIdurevUserDefaults::setObject(const foundation::Value& value, const std::string& key) {
    zivo_platform::setDefaultsObject(fullKey(key), value);
}

void ZIVORurIdurevUserDefaults::removeObjectForKey(const std::string& key) {
    zivo_platform::removeDefaultsObject(fullKey(key));
}

void ZIVORurIdurevUserDefaults::migrateKeys(const ZIVOUserDefaultsMigration& migratedKeys, const std::string& service) {
    const std::string marker = "310" + service + "UserDefaultsMigratedKey";
    if (!objectForKey(marker).isNull()) return;
    ZIVOLogVerbose(kZIVOLogTag, std::string("Migrating the old NSDefaults keys to new ones."));
    for (const auto& [newKey, oldKey] : migratedKeys) {
        if (const auto* single = std::get_if<std::string>(&oldKey)) {
            swapKeys(*single, newKey, zivo_platform::defaultsObject(*single));
            continue;
        }
        const std::string& prefix = std::get<ZIVOUserDefaultsPrefixKey>(oldKey).keyPrefix();
        for (const auto& key : zivo_platform::defaultsKeys()) {
            if (key.compare(0, prefix.size(), prefix) != 0) continue;
            swapKeys(key, newKey + key.substr(prefix.size()), zivo_platform::defaultsObject(key));
        }
    }
    setObject(true, marker);
}
