// Typing a PIN on a passcode pad, without the pad's views: the digits collected from the keys,
// the hardware keyboard and deletes; the unlock check with its attempts; the setup's two entries.
// What the pad should show goes to an HXCPinPadDisplay (the pad screen draws it). Main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The pad's parts that follow the PIN.
class HXCPinPadDisplay {
public:
    virtual ~HXCPinPadDisplay() = default;
    // Simple PIN: the dot at index filled or emptied (animated).
    virtual void selectDot(size_t index, bool selected) = 0;
    // Complex PIN: the field shows this many hidden characters.
    virtual void showPinLength(size_t length) = 0;
    // Delete in Cancel's place (true) or Cancel back (false); OK shown or hidden (complex).
    virtual void showDeleteButton(bool show) = 0;
    virtual void showOKButton(bool show) = 0;
    // Every dot emptied, Cancel shown, OK hidden, field emptied.
    virtual void reset() = 0;
    virtual void shake() = 0;
    virtual void fadeDetailText(const std::string& text) = 0;
    // The keys dimmed and disabled: locked out.
    virtual void lockPad() = 0;
    // The error vibration (system sound 4095).
    virtual void vibrate() = 0;
};

class HXCPinEntry;
namespace toolkit {
class ViewController;
}  // namespace toolkit

// Told of a cancel; the pad does not dismiss itself.
class HXCPadLockScreenDelegate {
public:
    virtual ~HXCPadLockScreenDelegate() = default;
    virtual void unlockWasCancelled(HXCPinEntry&) {}
};

class HXCPinEntry {
public:
    static constexpr size_t kSimplePinLength = 4;

    HXCPinEntry(std::shared_ptr<HXCPinPadDisplay> display, bool complexPin);
    virtual ~HXCPinEntry() = default;

    bool isComplexPin() const { return complexPin_; }
    const std::string& currentPin() const { return currentPin_; }
    bool errorVibrateEnabled = false;

    // A digit from a key; ignored past the fourth digit of a simple PIN, where the fourth one
    // hands the PIN over at once.
    void newPinSelected(int digit);
    void deleteFromPin();
    // OK (complex PIN only: a simple PIN is handed over by its fourth digit).
    void okSelected();
    void cancelSelected();
    // A hardware key: "\b" deletes, "\x1b" cancels, "\r" is OK (complex only), "0"-"9" digits;
    // nothing with modifiers. True when the key was taken.
    bool handleKey(const std::string& key, bool modifiers = false);

    void setDelegate(std::weak_ptr<HXCPadLockScreenDelegate> delegate) { delegate_ = std::move(delegate); }
    // The pad screen that shows this entry (none without one), for delegates that dismiss it.
    void setPadScreen(std::weak_ptr<toolkit::ViewController> screen) { padScreen_ = std::move(screen); }
    std::shared_ptr<toolkit::ViewController> padScreen() const { return padScreen_.lock(); }

protected:
    // The PIN is complete.
    virtual void processPin() {}
    void clearPin() { currentPin_.clear(); }
    HXCPinPadDisplay& display() { return *display_; }
    std::shared_ptr<HXCPadLockScreenDelegate> delegate() const { return delegate_.lock(); }

private:
    std::shared_ptr<HXCPinPadDisplay> display_;
    bool complexPin_;
    std::string currentPin_;
    std::weak_ptr<HXCPadLockScreenDelegate> delegate_;
    std::weak_ptr<toolkit::ViewController> padScreen_;
};

class HXCPinUnlock;
class HXCPadLockScreenViewControllerDelegate : public virtual HXCPadLockScreenDelegate {
public:
    // Not answered: no PIN is valid.
    virtual bool validatePin(const std::string&, HXCPinUnlock&) { return false; }
    virtual void unlockWasSuccessful(HXCPinUnlock&) {}
    virtual void unlockWasUnsuccessful(const std::string& pin, int64_t afterAttemptNumber, HXCPinUnlock&) {
        (void)pin;
        (void)afterAttemptNumber;
    }
    virtual void attemptsExpired(HXCPinUnlock&) {}
};

// The unlock pad: a PIN the delegate validates; attempts are unlimited unless set.
class HXCPinUnlock : public HXCPinEntry {
public:
    HXCPinUnlock(std::shared_ptr<HXCPinPadDisplay> display,
                 std::weak_ptr<HXCPadLockScreenViewControllerDelegate> delegate, bool complexPin = false);
    int64_t totalAttempts() const { return totalAttempts_; }
    int64_t remainingAttempts() const { return remainingAttempts_; }
    void setAllowedAttempts(int64_t count);
    std::string lockedOutString, pluralAttemptsLeftString, singleAttemptLeftString;

protected:
    void processPin() override;

private:
    std::weak_ptr<HXCPadLockScreenViewControllerDelegate> lockDelegate_;
    int64_t totalAttempts_ = 0;
    int64_t remainingAttempts_ = -1;  // never reaches 0: unlimited
};

class HXCPinSetup;
class HXCPadLockScreenSetupViewControllerDelegate : public virtual HXCPadLockScreenDelegate {
public:
    virtual void pinSet(const std::string& pin, HXCPinSetup&) { (void)pin; }
};

// The setup pad: the new PIN twice.
class HXCPinSetup : public HXCPinEntry {
public:
    HXCPinSetup(std::shared_ptr<HXCPinPadDisplay> display,
                std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate> delegate, bool complexPin = false);
    const std::optional<std::string>& enteredPin() const { return enteredPin_; }
    std::string pinNotMatchedText, pinConfirmationText;

protected:
    void processPin() override;

private:
    std::weak_ptr<HXCPadLockScreenSetupViewControllerDelegate> setupDelegate_;
    std::optional<std::string> enteredPin_;
};
