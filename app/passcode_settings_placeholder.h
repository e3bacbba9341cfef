// The settings view's root screen until the settings screen is built: a placeholder that answers
// the passcode pads the "Passcode Lock" screen presents, as the settings screen will. Turning the
// passcode on stores the new PIN; turning it off needs the current one.
#pragma once

#include <string>

#include "app/passcode_pin_entry.h"
#include "app/views.h"

class HXSettingsPlaceholderScreen : public HXPlaceholderScreen,
                                    public HXCPadLockScreenViewControllerDelegate,
                                    public HXCPadLockScreenSetupViewControllerDelegate {
public:
    HXSettingsPlaceholderScreen() : HXPlaceholderScreen(kHXViews[4].screen) {}

    // The unlock pad that turns the passcode off.
    bool validatePin(const std::string& pin, HXCPinUnlock& pad) override;
    void unlockWasSuccessful(HXCPinUnlock& pad) override;
    void unlockWasUnsuccessful(const std::string& pin, int64_t afterAttemptNumber, HXCPinUnlock& pad) override;
    void unlockWasCancelled(HXCPinEntry& pad) override;
    // The setup pad that turns it on.
    void pinSet(const std::string& pin, HXCPinSetup& pad) override;
};
