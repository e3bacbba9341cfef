// When the passcode lock covers the app and when it comes down: the application object's lock
// operations. The control decides; what it shows goes through HXPasscodeLockHost (the application
// object: its root, the pad screens, the blur, the initial load) so it can be driven on a virtual
// clock without screens. All operations run on the main thread; biometric replies come from
// another thread and are handed to the main queue before anything is shown.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/application.h"

// An unlock pad as the lock sees it.
class HXPasscodeUnlockPad {
public:
    virtual ~HXPasscodeUnlockPad() = default;
    virtual void showBiometricIDButton(bool show) = 0;
};

// What the lock asks of the application object.
class HXPasscodeLockHost {
public:
    virtual ~HXPasscodeLockHost() = default;
    // The one-time part of the initial data load runs again after the next unlock.
    virtual void rearmInitialLoad() = 0;
    // A new unlock pad (simple PIN, error vibration, the lock's background, no cancel title)
    // whose delegate is the application object; not shown yet.
    virtual std::shared_ptr<HXPasscodeUnlockPad> makeUnlockPad() = 0;
    // The tablet's popover, dismissed without animation.
    virtual void dismissPopover() = 0;
    // The unlock pad the root presents now, if it presents one.
    virtual std::shared_ptr<HXPasscodeUnlockPad> presentedUnlockPad() = 0;
    // Covers the root (and what it presents) with the blur where it is not already.
    virtual void coverWithBlur() = 0;
    virtual void presentUnlockPad(const std::shared_ptr<HXPasscodeUnlockPad>& pad) = 0;
    // Takes the blur from the root and from what it presents.
    virtual void removeBlur() = 0;
    virtual void dismissUnlockPad(const std::shared_ptr<HXPasscodeUnlockPad>& pad) = 0;
    virtual void loadInitialData() = 0;
    // The app resumes as on becoming active (the reachability notifier starts now).
    virtual void resumeAfterUnlock() = 0;
    // With no stored account the settings view is selected; else the tablet refreshes its
    // master list.
    virtual void selectViewForIndex(int index) = 0;
    virtual void refreshMasterList() = 0;
    virtual bool iPad() const = 0;
    // The URL-scheme call held while locked, replayed.
    virtual bool hasPendingURL() const = 0;
    virtual void reprocessURL() = 0;
    // The process-wide flags the lock shares with the rest of the application object: the lock
    // is up; a call was handed to the dialer (the next resignation does not lock); a reply from
    // a notification opened a conversation while locked (its field is focused after the unlock).
    virtual bool isLockShown() const = 0;
    virtual void setLockShown(bool shown) = 0;
    virtual bool callHandOver() const = 0;
    virtual void setCallHandOver(bool handOver) = 0;
    virtual bool focusReply() const = 0;
    virtual void setFocusReply(bool focus) = 0;
};

inline constexpr const char* kPasscodeLockDismissedNotification = "kPasscodeLockDismissedNotification";
inline constexpr const char* kFocusSMSReplyFieldNotification = "kFocusSMSReplyFieldNotification";
inline constexpr const char* kClearDialpadNumberNotification = "kClearDialpadNumberNotification";

class HXPasscodeLockControl : public std::enable_shared_from_this<HXPasscodeLockControl> {
public:
    // The lock comes this long after resigning active.
    static constexpr double kResignLockDelay = 30.0;
    // A recent unlock of the device itself answers the biometric prompt for this long.
    static constexpr double kBiometricReuseDuration = 30.0;
    // A URL held while locked runs this long after the unlock when a passcode is required.
    static constexpr double kReplayDelay = 0.85;

    explicit HXPasscodeLockControl(std::weak_ptr<HXPasscodeLockHost> host);
    ~HXPasscodeLockControl();

    // Puts the lock up when a passcode is required (or the lock is up already).
    void showPasscodeLockIfNeeded() { showPasscodeLockIfNeededForStartup(false); }
    void showPasscodeLockIfNeededForStartup(bool startup);

    // The unlock pad's delegate.
    bool validatePin(const std::string& pin);
    void unlockWasSuccessful(const std::shared_ptr<HXPasscodeUnlockPad>& pad);

    // The life cycle: resigning schedules the lock (a call handed to the dialer does not);
    // becoming active shows a lock that is up, or cancels the scheduled one; entering the
    // background locks at once; entering the foreground forgets the hand-over.
    void resignActive();
    void becomeActive();
    void enteredBackground();
    void willEnterForeground();

    // The host's flags (false without a host).
    bool lockShown() const;
    bool callHandOver() const;
    bool focusReply() const;

private:
    void cancelScheduledLock();
    // The biometric prompt for pad; a failure shows the pad (unless it is shown already, then
    // only its biometric button).
    void promptBiometrics(const std::shared_ptr<HXPasscodeUnlockPad>& pad, bool padShown);

    std::weak_ptr<HXPasscodeLockHost> host_;
};
