// The answers to the passcode pads that the "Passcode Lock" screen presents, given by the
// settings view's root screen: turning the passcode on stores the new PIN; turning it off needs
// the current one. Until the settings screen is there (the shell's own tests), a placeholder
// screen answers them the same way.
#pragma once

#include <string>

#include "app/passcode_pin_entry.h"
#include "app/views.h"

class HXCPasscodeLock;

class HXPasscodeSettingsPads : public HXCPadLockScreenViewControllerDelegate,
                               public HXCPadLockScreenSetupViewControllerDelegate {
public:
    // The unlock pad that turns the passcode off.
    bool validatePin(const std::string& pin, HXCPinUnlock& pad) override;
    void unlockWasSuccessful(HXCPinUnlock& pad) override;
    void unlockWasUnsuccessful(const std::string& pin, int64_t afterAttemptNumber, HXCPinUnlock& pad) override;
    void unlockWasCancelled(HXCPinEntry& pad) override;
    // The setup pad that turns it on.
    void pinSet(const std::string& pin, HXCPinSetup& pad) override;

protected:
    // The lock whose settings the pads change.
    virtual HXCPasscodeLock& passcodeLockForPads();
};

class HXSettingsPlaceholderScreen : public HXPlaceholderScreen, public HXPasscodeSettingsPads {
public:
    HXSettingsPlaceholderScreen() : HXPlaceholderScreen(kHXViews[4].screen) {}
};
