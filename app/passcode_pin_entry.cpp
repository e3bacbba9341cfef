#include "app/passcode_pin_entry.h"

#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"

HXCPinEntry::HXCPinEntry(std::shared_ptr<HXCPinPadDisplay> display, bool complexPin)
    : display_(std::move(display)), complexPin_(complexPin) {}

void HXCPinEntry::newPinSelected(int digit) {
    if (digit < 0 || digit > 9) return;
    if (!complexPin_ && currentPin_.size() >= kSimplePinLength) return;
    currentPin_ += static_cast<char>('0' + digit);
    if (complexPin_)
        display_->showPinLength(currentPin_.size());
    else
        display_->selectDot(currentPin_.size() - 1, true);
    if (currentPin_.size() == 1) {
        display_->showDeleteButton(true);
        if (complexPin_) display_->showOKButton(true);
    }
    if (!complexPin_ && currentPin_.size() == kSimplePinLength) processPin();
}

void HXCPinEntry::deleteFromPin() {
    if (currentPin_.empty()) return;
    currentPin_.pop_back();
    if (complexPin_)
        display_->showPinLength(currentPin_.size());
    else
        display_->selectDot(currentPin_.size(), false);
    if (currentPin_.empty()) {
        display_->showDeleteButton(false);
        display_->showOKButton(false);
    }
}

void HXCPinEntry::okSelected() {
    if (complexPin_) processPin();
}

void HXCPinEntry::cancelSelected() {
    if (auto d = delegate()) d->unlockWasCancelled(*this);
}

bool HXCPinEntry::handleKey(const std::string& key, bool modifiers) {
    if (modifiers) return false;
    if (key == "\b") {
        deleteFromPin();
    } else if (key == "\x1b") {
        cancelSelected();
    } else if (key == "\r") {
        if (!complexPin_) return false;
        okSelected();
    } else if (key.size() == 1 && key[0] >= '0' && key[0] <= '9') {
        newPinSelected(key[0] - '0');
    } else {
        return false;
    }
    return true;
}

// ---- unlock

HXCPinUnlock::HXCPinUnlock(std::shared_ptr<HXCPinPadDisplay> display,
                           std::weak_ptr<HXCPadLockScreenViewControllerDelegate> delegate, bool complexPin)
    : HXCPinEntry(std::move(display), complexPin),
      lockedOutString(foundation::localizedString("You have been locked out.")),
      pluralAttemptsLeftString(foundation::localizedString("attempts left")),
      singleAttemptLeftString(foundation::localizedString("attempt left")),
      lockDelegate_(delegate) {
    setDelegate(std::move(delegate));
}

void HXCPinUnlock::setAllowedAttempts(int64_t count) {
    totalAttempts_ = 0;
    remainingAttempts_ = count;
}

void HXCPinUnlock::processPin() {
    const std::string pin = currentPin();
    auto d = lockDelegate_.lock();
    if (d && d->validatePin(pin, *this)) {
        d->unlockWasSuccessful(*this);
        return;
    }
    --remainingAttempts_;
    ++totalAttempts_;
    display().reset();
    display().shake();
    if (remainingAttempts_ > 1) {
        display().fadeDetailText(foundation::format("%ld %@", remainingAttempts_, pluralAttemptsLeftString));
    } else if (remainingAttempts_ == 1) {
        display().fadeDetailText(foundation::format("%ld %@", int64_t{1}, singleAttemptLeftString));
    } else if (remainingAttempts_ == 0) {
        display().fadeDetailText(foundation::format("%@", lockedOutString));
        display().lockPad();
        if (d) d->attemptsExpired(*this);
    }
    if (d) d->unlockWasUnsuccessful(pin, totalAttempts_, *this);
    clearPin();
    if (errorVibrateEnabled) display().vibrate();
}

// ---- setup

HXCPinSetup::HXCPinSetup(std::shared_ptr<HXCPinPadDisplay> display,
                         std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate> delegate, bool complexPin)
    : HXCPinEntry(std::move(display), complexPin),
      pinNotMatchedText(foundation::localizedString("Pincodes did not match.")),
      pinConfirmationText(foundation::localizedString("Re-enter your new pincode")),
      setupDelegate_(delegate) {
    setDelegate(std::move(delegate));
}

void HXCPinSetup::processPin() {
    if (!enteredPin_) {
        enteredPin_ = currentPin();
        clearPin();
        display().fadeDetailText(pinConfirmationText);
        display().reset();
        return;
    }
    if (currentPin() == *enteredPin_) {
        const std::string pin = currentPin();
        if (auto d = setupDelegate_.lock()) d->pinSet(pin, *this);
        return;
    }
    display().fadeDetailText(pinNotMatchedText);
    display().shake();
    display().reset();
    enteredPin_.reset();
    clearPin();
    if (errorVibrateEnabled) display().vibrate();
}
