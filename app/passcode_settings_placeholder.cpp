#include "app/passcode_settings_placeholder.h"

#include "app/hxc_passcode_lock.h"
#include "platform/foundation/notification_center.h"
#include "platform/toolkit/view_controller.h"

namespace {

void dismissPad(HXCPinEntry& pad) {
    if (auto screen = pad.padScreen()) screen->dismiss(true);
}

}  // namespace

HXCPasscodeLock& HXPasscodeSettingsPads::passcodeLockForPads() { return HXCPasscodeLock::sharedLock(); }

bool HXPasscodeSettingsPads::validatePin(const std::string& pin, HXCPinUnlock&) {
    auto stored = passcodeLockForPads().passcode();
    return stored && *stored == pin;
}

void HXPasscodeSettingsPads::unlockWasSuccessful(HXCPinUnlock& pad) {
    auto& lock = passcodeLockForPads();
    lock.setPasscodeRequired(false);
    // Turning the passcode off forgets the PIN, in the keychain too.
    lock.setPasscode(std::nullopt);
    foundation::NotificationCenter::defaultCenter().post(kPasscodeSettingDidChangeNotification);
    dismissPad(pad);
}

void HXPasscodeSettingsPads::unlockWasUnsuccessful(const std::string&, int64_t, HXCPinUnlock&) {}

void HXPasscodeSettingsPads::unlockWasCancelled(HXCPinEntry& pad) { dismissPad(pad); }

void HXPasscodeSettingsPads::pinSet(const std::string& pin, HXCPinSetup& pad) {
    auto& lock = passcodeLockForPads();
    lock.setPasscodeRequired(true);
    lock.setPasscode(pin);
    foundation::NotificationCenter::defaultCenter().post(kPasscodeSettingDidChangeNotification);
    dismissPad(pad);
}
