// The unlock pad: the PIN is checked by its delegate; failures shake the dots, and with allowed
// attempts set the pad counts down to a lock-out (unlimited otherwise).
#pragma once

#include <memory>

#include "app/passcode_pin_entry.h"
#include "ui/passcode/hxc_pad_lock_screen_abstract_view_controller.h"

class HXCPadLockScreenViewController : public HXCPadLockScreenAbstractViewController {
public:
    HXCPadLockScreenViewController(std::weak_ptr<HXCPadLockScreenViewControllerDelegate> delegate, bool complexPin);
    std::string className() const override { return "HXCPadLockScreenViewController"; }

    HXCPinEntry& pinEntry() override { return unlock_; }
    HXCPinUnlock& unlock() { return unlock_; }
    std::shared_ptr<HXCPadLockScreenViewControllerDelegate> lockScreenDelegate() const { return delegate_.lock(); }
    int64_t totalAttempts() const { return unlock_.totalAttempts(); }
    int64_t remainingAttempts() const { return unlock_.remainingAttempts(); }
    void setAllowedAttempts(int64_t count) { unlock_.setAllowedAttempts(count); }
    void setLockedOutText(const std::string& text) { unlock_.lockedOutString = text; }
    void setPluralAttemptsLeftText(const std::string& text) { unlock_.pluralAttemptsLeftString = text; }
    void setSingleAttemptLeftText(const std::string& text) { unlock_.singleAttemptLeftString = text; }

protected:
    void biometricUnlockSucceeded() override;

private:
    std::weak_ptr<HXCPadLockScreenViewControllerDelegate> delegate_;
    HXCPinUnlock unlock_;
};
