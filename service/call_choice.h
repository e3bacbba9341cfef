// The callback choice the dial pad, the settings screen and the quick settings share, as the
// screens take it: whether the account's callback phone may change, whether the device places
// phone calls itself, the chooser's title and the choice, and whether a call request is under
// way. The application's calls (HXCalls, service/calls.h) implement it.
#pragma once

#include <cstdint>
#include <string>

class HXCallChoiceRole {
public:
    virtual ~HXCallChoiceRole() = default;
    virtual bool canChangeCallback() const = 0;
    // Whether the device places phone calls itself (the direct and dialer call methods).
    virtual bool canPlaceCalls() const = 0;
    virtual std::string forwardingNumberControllerTitle() const = 0;
    // Stores the choice; true when it changed.
    virtual bool isNewForwardingPhoneID(int64_t phoneID) = 0;
    // A callback call or a direct call is under way.
    virtual bool callRequestInFlight() const = 0;
};
