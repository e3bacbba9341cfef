#include "ui/passcode/hxc_pad_lock_screen_view_controller.h"

HXCPadLockScreenViewController::HXCPadLockScreenViewController(
    std::weak_ptr<HXCPadLockScreenViewControllerDelegate> delegate, bool complexPin)
    : HXCPadLockScreenAbstractViewController(complexPin),
      delegate_(delegate),
      unlock_(padDisplay(), std::move(delegate), complexPin) {}

void HXCPadLockScreenViewController::biometricUnlockSucceeded() {
    if (auto d = delegate_.lock()) d->unlockWasSuccessful(unlock_);
}
