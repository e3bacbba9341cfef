// The forwarder for the application delegate's URL-opening calls.
#pragma once

#include "RurIdurev/RurIdurev/Internals/DelegateForwarder/delegate_forwarder.h"

inline constexpr const char* kZIVOAppDelegateForwarderEnabledKey = "RurIdurevAppDelegateForwarderEnabled";
inline constexpr const char* kZIVOOpenURLOptionsSelector = "application:openURL:options:";
inline constexpr const char* kZIVOOpenURLSourceApplicationSelector =
    "application:openURL:sourceApplication:annotation:";

class ZIVOAppDelegateForwarder : public ZIVODelegateForwarder {
public:
    // Made once; reads its Info switch when made (as the class did at load).
    static std::shared_ptr<ZIVOAppDelegateForwarder> sharedInstance();
    static void resetSharedInstance();

    std::map<std::string, std::string> deprecatedSelectors() const override;

    // Calls in the platform's shapes, for the application shell.
    static ZIVODelegateCall openURLCall(const std::string& url, const foundation::Dictionary& options);
    static ZIVODelegateCall openURLCall(const std::string& url, const std::optional<std::string>& sourceApplication,
                                        const foundation::Value& annotation);

protected:
    std::optional<bool> callDelegate(ZIVOCustomDelegate& delegate, const ZIVODelegateCall& call,
                                     bool returnedValue) override;

private:
    ZIVOAppDelegateForwarder() = default;
};
