#include "app/passcode_lock_control.h"

#include "app/hxc_passcode_lock.h"
#include "platform/dispatch/dispatch.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"
#include "platform/services/local_authentication.h"

namespace {

constexpr const char* kShowSelector = "showPasscodeLockIfNeeded";
constexpr const char* kReason = "Authenticate to unlock";
// Answers of the biometric prompt that leave things as they are: the system cancelled it, or
// the device reported it cannot run now.
constexpr int64_t kBiometricsUnavailableNow = -1000;

bool canEvaluateBiometrics() {
    services::LAContext context;
    return context.canEvaluatePolicy(HXCPasscodeLock::biometricPolicy());
}

foundation::ApplicationState applicationState() { return foundation::Application::shared().applicationState(); }

}  // namespace

HXPasscodeLockControl::HXPasscodeLockControl(std::weak_ptr<HXPasscodeLockHost> host) : host_(std::move(host)) {}

HXPasscodeLockControl::~HXPasscodeLockControl() { dispatch::RunLoop::main().cancelPerforms(this); }

void HXPasscodeLockControl::cancelScheduledLock() {
    dispatch::RunLoop::main().cancelPerform(this, kShowSelector, foundation::Value());
}

void HXPasscodeLockControl::showPasscodeLockIfNeededForStartup(bool startup) {
    cancelScheduledLock();
    auto host = host_.lock();
    if (!host) return;
    host->rearmInitialLoad();
    auto& lock = HXCPasscodeLock::sharedLock();
    if (!host->isLockShown() && !lock.passcodeRequired()) return;

    // The work below finishes even when the app is on its way to the background.
    auto& application = foundation::Application::shared();
    const auto task = application.beginBackgroundTask("passcodeLock");
    struct EndTask {
        foundation::BackgroundTaskIdentifier id;
        ~EndTask() { foundation::Application::shared().endBackgroundTask(id); }
    } endTask{task};

    host->setLockShown(true);
    auto pad = host->makeUnlockPad();
    host->dismissPopover();
    if (auto shown = host->presentedUnlockPad()) {
        // One pad at a time: with biometrics only the prompt repeats over it.
        if (lock.useBiometricID() && canEvaluateBiometrics()) promptBiometrics(shown, true);
        return;
    }
    host->coverWithBlur();
    if (application.isInBackground()) return;  // the blur alone until the app comes back
    if (!lock.useBiometricID() || !canEvaluateBiometrics()) {
        host->presentUnlockPad(pad);
        return;
    }
    // Inactive (a system sheet or the switcher is over the app): the pad comes when it is active.
    if (applicationState() == foundation::ApplicationState::Inactive && !startup) return;
    promptBiometrics(pad, false);
}

void HXPasscodeLockControl::promptBiometrics(const std::shared_ptr<HXPasscodeUnlockPad>& pad, bool padShown) {
    std::weak_ptr<HXPasscodeLockControl> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, pad, padShown] {
        if (!weak.lock()) return;
        auto context = std::make_shared<services::LAContext>();
        context->setTouchIDAuthenticationAllowableReuseDuration(kBiometricReuseDuration);
        context->evaluatePolicy(HXCPasscodeLock::biometricPolicy(), kReason,
                                [weak, pad, padShown, context](bool success, std::optional<foundation::Error> error) {
                                    // Off the main thread: nothing here but the hand-over.
                                    const int64_t code = error ? error->code : 0;
                                    dispatch::Queue::main()->async([weak, pad, padShown, success, code] {
                                        auto self = weak.lock();
                                        if (!self) return;
                                        if (success) {
                                            self->unlockWasSuccessful(pad);
                                            return;
                                        }
                                        if (code == services::kLAErrorSystemCancel || code == kBiometricsUnavailableNow)
                                            return;
                                        if (foundation::Application::shared().isInBackground()) return;
                                        if (!padShown)
                                            if (auto host = self->host_.lock()) host->presentUnlockPad(pad);
                                        pad->showBiometricIDButton(true);
                                    });
                                });
    });
}

bool HXPasscodeLockControl::validatePin(const std::string& pin) {
    auto stored = HXCPasscodeLock::sharedLock().passcode();
    return stored && *stored == pin;
}

bool HXPasscodeLockControl::lockShown() const {
    auto host = host_.lock();
    return host && host->isLockShown();
}

bool HXPasscodeLockControl::callHandOver() const {
    auto host = host_.lock();
    return host && host->callHandOver();
}

bool HXPasscodeLockControl::focusReply() const {
    auto host = host_.lock();
    return host && host->focusReply();
}

void HXPasscodeLockControl::unlockWasSuccessful(const std::shared_ptr<HXPasscodeUnlockPad>& pad) {
    auto host = host_.lock();
    if (!host || !host->isLockShown()) return;
    host->setLockShown(false);
    host->removeBlur();
    host->dismissUnlockPad(pad);
    host->loadInitialData();
    host->resumeAfterUnlock();
    const auto accounts = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey("accountInfo");
    if (!accounts || accounts->empty())
        host->selectViewForIndex(4);
    else if (host->iPad())
        host->refreshMasterList();
    if (host->hasPendingURL()) {
        std::weak_ptr<HXPasscodeLockHost> weakHost = host_;
        const double delay = HXCPasscodeLock::sharedLock().passcodeRequired() ? kReplayDelay : 0.0;
        dispatch::Queue::main()->after(delay, [weakHost] {
            if (auto h = weakHost.lock()) h->reprocessURL();
        });
    }
    if (host->focusReply()) {
        std::weak_ptr<HXPasscodeLockHost> weakHost = host_;
        dispatch::Queue::main()->after(kReplayDelay, [weakHost] {
            auto h = weakHost.lock();
            if (!h) return;
            h->setFocusReply(false);
            foundation::NotificationCenter::defaultCenter().post(kFocusSMSReplyFieldNotification);
        });
    }
    // The lists that waited for the unlock reload now.
    foundation::NotificationCenter::defaultCenter().post(kPasscodeLockDismissedNotification);
}

void HXPasscodeLockControl::resignActive() {
    auto host = host_.lock();
    if (!host || host->isLockShown() || !HXCPasscodeLock::sharedLock().passcodeRequired()) return;
    if (host->callHandOver()) {
        // The dialer took the call over: that is no reason to lock.
        foundation::NotificationCenter::defaultCenter().post(kClearDialpadNumberNotification);
        host->setCallHandOver(false);
        return;
    }
    cancelScheduledLock();
    std::weak_ptr<HXPasscodeLockControl> weak = weak_from_this();
    dispatch::RunLoop::main().perform(
        shared_from_this(), kShowSelector, foundation::Value(), kResignLockDelay,
        [weak](const foundation::Value&) {
            if (auto self = weak.lock()) self->showPasscodeLockIfNeeded();
        },
        true);
}

void HXPasscodeLockControl::becomeActive() {
    if (lockShown())
        showPasscodeLockIfNeeded();
    else
        cancelScheduledLock();
}

void HXPasscodeLockControl::enteredBackground() {
    if (foundation::Application::shared().isInBackground()) showPasscodeLockIfNeeded();
}

void HXPasscodeLockControl::willEnterForeground() {
    if (auto host = host_.lock()) host->setCallHandOver(false);
}
