#include "ui/passcode/hxc_pad_lock_screen_setup_view_controller.h"

#include "platform/dispatch/dispatch.h"

HXCPadLockScreenSetupViewController::HXCPadLockScreenSetupViewController(
    std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate> delegate, bool complexPin,
    std::optional<std::string> subtitleLabelText)
    : HXCPadLockScreenAbstractViewController(complexPin),
      delegate_(delegate),
      setup_(padDisplay(), std::move(delegate), complexPin),
      subtitle_(std::move(subtitleLabelText)) {}

void HXCPadLockScreenSetupViewController::viewDidLoad() {
    HXCPadLockScreenAbstractViewController::viewDidLoad();
    if (!subtitle_) return;
    // The subtitle shows once the controller is built, without animation.
    auto weak = weakSelf<HXCPadLockScreenSetupViewController>();
    dispatch::Queue::main()->async([weak] {
        if (auto self = weak.lock()) self->lockScreenView()->updateDetailLabelWithString(*self->subtitle_, false);
    });
}
