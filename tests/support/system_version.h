// The device's system version set for one scope, for the looks that differ between versions.
#pragma once

#include "platform/toolkit/traits.h"

namespace hxtest {

struct SystemVersion {
    explicit SystemVersion(int v) { toolkit::Device::current().setSystemVersion(v); }
    ~SystemVersion() { toolkit::Device::current().reset(); }
    SystemVersion(const SystemVersion&) = delete;
    SystemVersion& operator=(const SystemVersion&) = delete;
};

}  // namespace hxtest
