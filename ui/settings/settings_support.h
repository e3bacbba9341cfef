#pragma once
// One-line helpers that the settings screens share: a localized text, the stored preferences, and
// whether quick settings follow places and beacons.

#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/bundle.h"
#include "platform/foundation/user_defaults.h"

namespace hxsettings {

inline std::string text(std::string_view key) { return foundation::localizedString(key); }

inline std::shared_ptr<foundation::UserDefaults> defaults() { return foundation::UserDefaults::standardUserDefaults(); }

// Quick settings switched by place or beacon ("useQSLocation").
inline bool awarenessOn() { return defaults()->boolForKey("useQSLocation"); }

}  // namespace hxsettings
