// The setup pad: the new PIN twice; a mismatch starts over.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/passcode_pin_entry.h"
#include "ui/passcode/hxc_pad_lock_screen_abstract_view_controller.h"

class HXCPadLockScreenSetupViewController : public HXCPadLockScreenAbstractViewController {
public:
    explicit HXCPadLockScreenSetupViewController(std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate> delegate,
                                                 bool complexPin = false,
                                                 std::optional<std::string> subtitleLabelText = std::nullopt);
    std::string className() const override { return "HXCPadLockScreenSetupViewController"; }

    HXCPinEntry& pinEntry() override { return setup_; }
    HXCPinSetup& setup() { return setup_; }
    std::shared_ptr<HXCPadLockScreenSetupViewControllerDelegate> setupScreenDelegate() const {
        return delegate_.lock();
    }
    const std::optional<std::string>& enteredPin() const { return setup_.enteredPin(); }
    const std::optional<std::string>& subtitleLabelText() const { return subtitle_; }
    void setPinNotMatchedText(const std::string& text) { setup_.pinNotMatchedText = text; }
    void setPinConfirmationText(const std::string& text) { setup_.pinConfirmationText = text; }

    void viewDidLoad() override;

private:
    std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate> delegate_;
    HXCPinSetup setup_;
    std::optional<std::string> subtitle_;
};
