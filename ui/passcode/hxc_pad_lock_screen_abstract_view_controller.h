// The common passcode pad controller: its view is an HXCPadLockScreenView; it collects digits
// from the keys, the hardware keyboard and the biometric button into its PIN entry, whose unlock
// or setup logic the subclasses supply.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/passcode_pad_screen.h"
#include "ui/passcode/hxc_pad_lock_screen_view.h"

class HXCPadLockScreenAbstractViewController : public HXPasscodePadScreen {
public:
    std::string className() const override { return "HXCPadLockScreenAbstractViewController"; }

    std::shared_ptr<HXCPadLockScreenView> lockScreenView();
    bool isComplexPin() const { return complexPin_; }
    const std::string& currentPin() { return pinEntry().currentPin(); }
    bool tapSoundEnabled = false;

    // Texts.
    void setLockScreenTitle(const std::string& title);
    void setSubtitleText(const std::string& text);
    void setCancelButtonText(std::optional<std::string> text) override;
    void setDeleteButtonText(std::optional<std::string> text);
    void setEnterPasscodeLabelText(const std::string& text);

    void setBackgroundView(toolkit::ViewPtr view) override;
    void showBiometricIDButton(bool show) override;
    void cancelButtonDisabled(bool disabled);

    // The keys' actions.
    void newPinSelected(int digit) { pinEntry().newPinSelected(digit); }
    void deleteFromPin() { pinEntry().deleteFromPin(); }
    void buttonSelected(int digit);
    // A typed key ("\b", Escape, "\r", "0"-"9"): the digit's key shows its press as it is entered.
    void handleKey(const std::string& input);
    // The biometric prompt of the pad the application object shows.
    void showBiometricIDDialog();

    void offerBiometricID(std::optional<std::string> name) override { biometricIDName_ = std::move(name); }
    void loadView() override;
    void viewDidLoad() override;
    bool canBecomeFirstResponder() const override { return true; }
    std::vector<toolkit::KeyCommand> keyCommands() const override;
    toolkit::StatusBarStyle preferredStatusBarStyle() const override;

protected:
    explicit HXCPadLockScreenAbstractViewController(bool complexPin);
    // What the PIN entry draws on: this pad's view.
    std::shared_ptr<HXCPinPadDisplay> padDisplay() const { return display_; }
    // A success of the biometric prompt goes to the unlock pad's delegate.
    virtual void biometricUnlockSucceeded() {}

private:
    bool complexPin_;
    std::optional<std::string> biometricIDName_;
    std::shared_ptr<HXCPinPadDisplay> display_;
    std::shared_ptr<class HXCPadDisplay> padView_;
};
