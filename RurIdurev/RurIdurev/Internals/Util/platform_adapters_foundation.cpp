// The adapters over the foundation layer's user defaults, main bundle and app home.
#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/user_defaults.h"

namespace zivo_platform {

namespace {

struct State {
    std::mutex mutex;
    std::shared_ptr<foundation::UserDefaults> defaults;
    foundation::Dictionary pinnedInfo;
    std::filesystem::path applicationSupportOverride;
    std::filesystem::path executableOverride;
};

State& state() {
    static auto* s = new State;
    return *s;
}

std::shared_ptr<foundation::UserDefaults> standardDefaults() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.defaults) {
        // The SDK's own file beside the app's: "<bundle identifier>.RurIdurev.plist". Builds whose
        // bundle had no identifier kept it as "hxconnect.plist"; such a file is taken over once.
        const std::filesystem::path directory = foundation::preferencesDirectory();
        const std::filesystem::path file =
            directory / (foundation::Bundle::main().bundleIdentifier().value_or("hxconnect") + ".RurIdurev.plist");
        const std::filesystem::path earlier = directory / "hxconnect.plist";
        std::error_code ec;
        if (!std::filesystem::exists(file, ec) && std::filesystem::is_regular_file(earlier, ec))
            std::filesystem::rename(earlier, file, ec);
        s.defaults = std::make_shared<foundation::UserDefaults>(file);
    }
    return s.defaults;
}

}  // namespace

void setStandardUserDefaults(std::shared_ptr<foundation::UserDefaults> defaults) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.defaults = std::move(defaults);
}

foundation::Value defaultsObject(const std::string& key) { return standardDefaults()->objectForKey(key); }

void setDefaultsObject(const std::string& key, const foundation::Value& value) {
    auto defaults = standardDefaults();
    // A value a property list cannot hold is refused by the store and the old value stays.
    (void)defaults->setObject(value, key);
    (void)defaults->synchronize();
}

void removeDefaultsObject(const std::string& key) {
    auto defaults = standardDefaults();
    defaults->removeObjectForKey(key);
    (void)defaults->synchronize();
}

std::vector<std::string> defaultsKeys() {
    std::vector<std::string> keys;
    for (const auto& [key, value] : standardDefaults()->dictionaryRepresentation())
        if (key.isString()) keys.push_back(key.string());
    return keys;
}

std::string bundleIdentifier() { return foundation::Bundle::main().bundleIdentifier().value_or(std::string()); }

foundation::Value infoValue(const std::string& key) {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        if (const auto* pinned = s.pinnedInfo.find(key)) return *pinned;
    }
    return foundation::Bundle::main().objectForInfoDictionaryKey(key);
}

void setInfoValueForTesting(const std::string& key, const foundation::Value& value) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (value.isNull())
        s.pinnedInfo.remove(key);
    else
        s.pinnedInfo.set(key, value);
}

std::filesystem::path applicationSupportDirectory() {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        if (!s.applicationSupportOverride.empty()) return s.applicationSupportOverride;
    }
    return foundation::applicationSupportDirectory();
}

void setApplicationSupportDirectoryForTesting(std::filesystem::path directory) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.applicationSupportOverride = std::move(directory);
}

std::filesystem::path executablePath() {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        if (!s.executableOverride.empty()) return s.executableOverride;
    }
    return foundation::Bundle::executablePath();
}

void setExecutablePathForTesting(std::filesystem::path path) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.executableOverride = std::move(path);
}

std::optional<std::filesystem::path> appStoreReceiptURL() {
    const auto storeKit = foundation::Bundle::main().resourcesDirectory() / "StoreKit";
    std::error_code ec;
    for (const char* name : {"sandboxReceipt", "receipt"})
        if (std::filesystem::is_regular_file(storeKit / name, ec)) return storeKit / name;
    return std::nullopt;
}

}  // namespace zivo_platform
