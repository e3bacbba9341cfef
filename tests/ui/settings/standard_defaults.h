// The app's standard defaults, where the settings screens keep what they change.
#pragma once

#include <memory>

#include "platform/foundation/user_defaults.h"

namespace hxtest {

inline std::shared_ptr<foundation::UserDefaults> defaults() { return foundation::UserDefaults::standardUserDefaults(); }

}  // namespace hxtest
