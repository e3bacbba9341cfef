// The few platform facilities the SDK core reads, in one place: the application's standard user
// defaults, the main bundle's identity and Info values, and base-64 text. Each is a thin call into
// the foundation layer.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace foundation {
class UserDefaults;
}

namespace zivo_platform {

// The application shares its standard user defaults with the SDK at launch; without that the SDK
// opens "<bundle identifier>.plist" in the app home's preferences itself.
void setStandardUserDefaults(std::shared_ptr<foundation::UserDefaults> defaults);

// The application's standard user defaults (shared with the application's own keys).
foundation::Value defaultsObject(const std::string& key);
void setDefaultsObject(const std::string& key, const foundation::Value& value);
void removeDefaultsObject(const std::string& key);
std::vector<std::string> defaultsKeys();

// The main bundle: its identifier and a value of its Info dictionary (null when absent).
std::string bundleIdentifier();
foundation::Value infoValue(const std::string& key);
// Tests pin Info values (a null value removes the pin); pinned values win over the bundle's.
void setInfoValueForTesting(const std::string& key, const foundation::Value& value);

// The running executable's path (tests may pretend to be another; empty restores the real one).
std::filesystem::path executablePath();
void setExecutablePathForTesting(std::filesystem::path path);

// The main bundle's store receipt: the file "StoreKit/sandboxReceipt" (a sandbox install) or
// "StoreKit/receipt" among its resources; none when it holds neither.
std::optional<std::filesystem::path> appStoreReceiptURL();

// The first Application Support directory of the user domain (under the app home).
std::filesystem::path applicationSupportDirectory();
// Tests put the directory elsewhere (an empty path restores the app home's).
void setApplicationSupportDirectoryForTesting(std::filesystem::path directory);

std::string base64Encode(const foundation::Data& data);
std::optional<foundation::Data> base64Decode(std::string_view text);

}  // namespace zivo_platform
