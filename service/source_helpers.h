#pragma once
// One-line helpers that the service's own sources share: a localized text, posting a notification,
// an API path. Not part of the service's interface.

#include <memory>
#include <string>
#include <string_view>

#include "model/phone_extensions.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/value.h"
#include "service/request_machinery.h"

namespace hxservice {

// The service's own user agent for the pages and calls it requests itself.
inline constexpr const char* kUserAgent =
    "Mozilla/5.0 (iPhone; CPU iPhone OS 8_1_3 like Mac OS X) AppleWebKit/600.1.4 (KHTML, like Gecko) Mobile/12B466";

inline std::string localized(const char* key) { return PhoneExtensions::localizedString(key); }

inline void post(const std::string& name, std::shared_ptr<void> object = nullptr, foundation::Dictionary info = {}) {
    foundation::NotificationCenter::defaultCenter().post(name, std::move(object), std::move(info));
}

// The path of a web client endpoint ("account/get?alt=json").
inline std::string api(std::string_view endpoint) { return std::string(kHXApiPath) + std::string(endpoint); }

}  // namespace hxservice
