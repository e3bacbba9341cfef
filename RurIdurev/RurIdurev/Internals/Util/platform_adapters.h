// The few platform facilities the SDK core reads, in one place: the application's standard user
// defaults, the main bundle's identity and Info values, and base-64 text. Each is a thin call into
// the foundation layer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace zivo_platform {

// The application's standard user defaults (shared with the application's own keys).
foundation::Value defaultsObject(const std::string& key);
void setDefaultsObject(const std::string& key, const foundation::Value& value);
void removeDefaultsObject(const std::string& key);
std::vector<std::string> defaultsKeys();

// The main bundle: its identifier and a value of its Info dictionary (null when absent).
std::string bundleIdentifier();
foundation::Value infoValue(const std::string& key);

std::string base64Encode(const foundation::Data& data);
std::optional<foundation::Data> base64Decode(std::string_view text);

}  // namespace zivo_platform
