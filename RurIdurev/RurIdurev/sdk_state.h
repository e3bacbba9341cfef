// What a service asks of the SDK facade: whether the SDK is configured and enabled, and whether
// the facade itself is switching services. The facade installs itself here when it is made;
// without one the SDK counts as not configured.
#pragma once

#include <memory>

class ZIVOSdkState {
public:
    virtual ~ZIVOSdkState() = default;
    virtual bool isSdkConfigured() = 0;
    // The facade's +isEnabled (NO, with its own error line, when the SDK cannot be used).
    virtual bool isEnabled() = 0;
    virtual bool isEnabledStateUpdating() = 0;

    static std::shared_ptr<ZIVOSdkState> current();
    static void setCurrent(std::shared_ptr<ZIVOSdkState> state);
};
