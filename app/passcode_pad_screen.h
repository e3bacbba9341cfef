// A passcode pad screen as the shell and the passcode settings screen drive it: a view controller
// that shows an HXCPinEntry (unlock or setup) and can show its biometric button. The screens
// themselves are in the screen library (ui/passcode), made through HXScreens.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/passcode_lock_control.h"
#include "app/passcode_pin_entry.h"
#include "platform/toolkit/view.h"
#include "platform/toolkit/view_controller.h"

// A plain view of frame filled with the lock's gradient, system blue at the top: what the shell's
// unlock pad and the passcode settings' pads show behind them.
toolkit::ViewPtr passcodeBackgroundViewWithFrame(const toolkit::Rect& frame);

class HXPasscodePadScreen : public toolkit::ViewController, public HXPasscodeUnlockPad {
public:
    // The PIN being typed on this pad.
    virtual HXCPinEntry& pinEntry() = 0;
    // A view placed behind the whole pad (the lock's gradient).
    virtual void setBackgroundView(toolkit::ViewPtr view) = 0;
    // Cancel's title; none removes it.
    virtual void setCancelButtonText(std::optional<std::string> text) = 0;
    // The biometric key, named after the kind of biometric unlock, where the lock offers one;
    // given before the pad's view loads (none: the pad has no such key).
    virtual void offerBiometricID(std::optional<std::string> name) = 0;
    void setErrorVibrateEnabled(bool on) { pinEntry().errorVibrateEnabled = on; }
};
