// The application object's passcode lock operations: the lock's host (pads, blur, the unlock's
// follow-up, an object of its own), the unlock pad's delegate and the pads' background.
#include <utility>

#include "app/connect_app_delegate.h"
#include "app/hxc_passcode_lock.h"
#include "app/passcode_pad_screen.h"
#include "app/views.h"
#include "model/account.h"
#include "platform/dispatch/dispatch.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/navigation_controller.h"
#include "platform/toolkit/traits.h"
#include "platform/toolkit/window.h"
#include "service/request_machinery.h"

namespace {

// Every covered view carries one blur view with this tag.
constexpr long kBlurTag = 997;

std::shared_ptr<toolkit::ViewController> sharedController(toolkit::ViewController* controller) {
    if (!controller) return nullptr;
    return std::dynamic_pointer_cast<toolkit::ViewController>(controller->shared_from_this());
}

// The renderer draws no blur: without a stand-in the cover would be clear and a snapshot taken
// in the background (the app switcher's) would show the messages it is there to hide. The dark
// blur's own tint, opaque, hides them as the blur would.
toolkit::Color coverColor() { return toolkit::Color::rgb(28.0 / 255, 28.0 / 255, 30.0 / 255); }

std::shared_ptr<toolkit::View> makeBlurView(unsigned autoresizing) {
    auto blur = std::make_shared<toolkit::VisualEffectView>(toolkit::BlurEffectStyle::Dark);
    blur->setBackgroundColor(coverColor());
    blur->setFrame(toolkit::Rect{{0, 0}, toolkit::Device::current().screen().bounds().size});
    blur->setTag(kBlurTag);
    blur->setAutoresizingMask(autoresizing);
    return blur;
}

// The lock's unlock pad where the screen library makes none (the shell's own tests): it has no
// keys, so only a successful biometric prompt takes it down.
class HXPasscodePadPlaceholder : public HXPlaceholderScreen, public HXPasscodeUnlockPad {
public:
    HXPasscodePadPlaceholder() : HXPlaceholderScreen("HXCPadLockScreenViewController") {}
    void showBiometricIDButton(bool show) override { biometricButtonShown_ = show; }
    bool biometricButtonShown() const { return biometricButtonShown_; }

private:
    bool biometricButtonShown_ = false;
};

}  // namespace

// What the lock control asks of the shell: the pads, the blur over the window's root, the
// follow-up of an unlock and the flags the lock shares with the rest of the application object.
class HXShellPasscodeHost final : public HXPasscodeLockHost {
public:
    explicit HXShellPasscodeHost(HX_ConnectAppDelegate& app) : app_(app) {}
    void rearmInitialLoad() override { app_.rearmInitialData(); }
    std::shared_ptr<HXPasscodeUnlockPad> makeUnlockPad() override;
    void dismissPopover() override { app_.dismissPopoverAnimated(false); }
    std::shared_ptr<HXPasscodeUnlockPad> presentedUnlockPad() override;
    void coverWithBlur() override;
    void presentUnlockPad(const std::shared_ptr<HXPasscodeUnlockPad>& pad) override;
    void removeBlur() override;
    void dismissUnlockPad(const std::shared_ptr<HXPasscodeUnlockPad>& pad) override;
    void loadInitialData() override { app_.loadInitialData(); }
    void resumeAfterUnlock() override;
    void selectViewForIndex(int index) override { app_.selectViewForIndex(index); }
    void refreshMasterList() override { app_.refreshMasterList(); }
    bool iPad() const override { return app_.iPad(); }
    bool hasPendingURL() const override { return app_.pendingURL().has_value(); }
    void reprocessURL() override { app_.reprocessURL(); }
    bool isLockShown() const override { return app_.lockShown; }
    void setLockShown(bool shown) override { app_.lockShown = shown; }
    bool callHandOver() const override { return app_.callHandOver(); }
    void setCallHandOver(bool handOver) override { app_.setCallHandOver(handOver); }
    bool focusReply() const override { return app_.focusReply(); }
    void setFocusReply(bool focus) override { app_.setFocusReply(focus); }

private:
    toolkit::ViewController* root() const {
        auto* window = app_.window();
        return window ? window->rootViewController().get() : nullptr;
    }
    HX_ConnectAppDelegate& app_;
};

std::shared_ptr<HXPasscodeLockControl> HX_ConnectAppDelegate::passcodeLockControl() {
    if (!passcodeControl_) {
        auto self = weakWebClient().lock();
        if (!self) return nullptr;
        if (!passcodeHost_) passcodeHost_ = std::make_shared<HXShellPasscodeHost>(*this);
        // The host shares the application object's lifetime.
        passcodeControl_ = std::make_shared<HXPasscodeLockControl>(
            std::weak_ptr<HXPasscodeLockHost>(std::shared_ptr<HXPasscodeLockHost>(self, passcodeHost_.get())));
    }
    return passcodeControl_;
}

bool HX_ConnectAppDelegate::useSpotlight() const { return HXCPasscodeLock::sharedLock().useSpotlight(); }

void HX_ConnectAppDelegate::showPasscodeLockIfNeeded() { showPasscodeLockIfNeededForStartup(false); }

void HX_ConnectAppDelegate::showPasscodeLockIfNeededForStartup(bool startup) {
    if (auto control = passcodeLockControl()) control->showPasscodeLockIfNeededForStartup(startup);
}

toolkit::ViewPtr passcodeBackgroundViewWithFrame(const toolkit::Rect& frame) {
    auto view = std::make_shared<toolkit::View>(frame);
    auto gradient = std::make_shared<toolkit::GradientLayer>();
    gradient->colors = {toolkit::Color::systemBlue(), toolkit::Color::rgb(0, 31.0 / 255.0, 83.0 / 255.0, 1)};
    auto& sublayers = view->layer().gradientSublayers;
    sublayers.insert(sublayers.begin(), gradient);
    return view;
}

bool HX_ConnectAppDelegate::validatePin(const std::string& pin, HXCPinUnlock&) {
    auto stored = HXCPasscodeLock::sharedLock().passcode();
    return stored && *stored == pin;
}

void HX_ConnectAppDelegate::unlockWasSuccessful(HXCPinUnlock& pad) {
    auto control = passcodeLockControl();
    if (!control) return;
    control->unlockWasSuccessful(std::dynamic_pointer_cast<HXPasscodeUnlockPad>(pad.padScreen()));
}

std::shared_ptr<HXPasscodeUnlockPad> HXShellPasscodeHost::makeUnlockPad() {
    auto self = std::dynamic_pointer_cast<HX_ConnectAppDelegate>(app_.weakWebClient().lock());
    std::shared_ptr<toolkit::ViewController> controller;
    std::shared_ptr<HXPasscodeUnlockPad> pad;
    if (auto screen = app_.screens().makePadLockScreen(
            std::weak_ptr<HXCPadLockScreenViewControllerDelegate>(
                std::static_pointer_cast<HXCPadLockScreenViewControllerDelegate>(self)),
            false)) {
        screen->setErrorVibrateEnabled(true);
        screen->offerBiometricID(HXCPasscodeLock::sharedLock().offeredBiometricID());
        const auto frame = screen->view()->frame();
        screen->setBackgroundView(passcodeBackgroundViewWithFrame(frame));
        // The app's pad cannot be cancelled: no title, and a cancel that arrives does nothing.
        screen->setCancelButtonText(std::nullopt);
        controller = screen;
        pad = screen;
    } else {
        auto placeholder = std::make_shared<HXPasscodePadPlaceholder>();
        controller = placeholder;
        pad = placeholder;
    }
    controller->modalPresentationStyle =
        app_.iPad() ? toolkit::ModalPresentationStyle::FormSheet : toolkit::ModalPresentationStyle::FullScreen;
    controller->modalTransitionStyle = toolkit::ModalTransitionStyle::CrossDissolve;
    return pad;
}

std::shared_ptr<HXPasscodeUnlockPad> HXShellPasscodeHost::presentedUnlockPad() {
    if (!root()) return nullptr;
    return std::dynamic_pointer_cast<HXPasscodeUnlockPad>(sharedController(root()->presentedViewController()));
}

void HXShellPasscodeHost::coverWithBlur() {
    if (!this->root()) return;
    auto& root = *this->root();
    toolkit::ViewController* presenter = root.presentedViewController() ? root.presentedViewController() : &root;
    const unsigned flexible = toolkit::kFlexibleWidth | toolkit::kFlexibleHeight;
    if (app_.iPad()) {
        if (!root.view()->viewWithTag(kBlurTag)) {
            root.view()->addSubview(makeBlurView(flexible));
            if (presenter != &root) presenter->view()->addSubview(makeBlurView(toolkit::kAutoresizeNone));
        }
    } else if (!presenter->view()->viewWithTag(kBlurTag)) {
        presenter->view()->addSubview(makeBlurView(flexible));
    }
}

void HXShellPasscodeHost::presentUnlockPad(const std::shared_ptr<HXPasscodeUnlockPad>& pad) {
    auto controller = std::dynamic_pointer_cast<toolkit::ViewController>(pad);
    if (!this->root() || !controller) return;
    auto& root = *this->root();
    toolkit::ViewController* presenter = root.presentedViewController() ? root.presentedViewController() : &root;
    presenter->present(controller, false);
}

void HXShellPasscodeHost::removeBlur() {
    if (!this->root()) return;
    auto& root = *this->root();
    if (auto* blur = root.view()->viewWithTag(kBlurTag)) blur->removeFromSuperview();
    if (auto* presented = root.presentedViewController())
        if (auto* blur = presented->view()->viewWithTag(kBlurTag)) blur->removeFromSuperview();
}

void HXShellPasscodeHost::resumeAfterUnlock() {
    const bool held = std::exchange(app_.webClient().heldUntilUnlock, false);
    // An account kept without its session token asks for the sign-in it could not ask for behind
    // the lock.
    if (held && app_.account() && !app_.account()->username().empty() && !app_.account()->authV2()) app_.displayLogin();
    app_.resumeActive();
    if (app_.webClient().firstReachabilityHandled || !app_.serviceReach_) {
        // The host's status came while the lock held the first load back: it goes now.
        if (held) app_.loadInitialData();
        return;
    }
    // The host's monitoring starts only now: the platform reports the host's status once when it
    // starts, which starts the first data load that the lock held back.
    dispatch::Queue::main()->async([weak = app_.weakSelf()] {
        auto app = weak.lock();
        if (!app || app->webClient().firstReachabilityHandled || !app->serviceReach_) return;
        app->reachabilityChanged(app->serviceReach_->currentReachabilityStatus());
    });
}

void HXShellPasscodeHost::dismissUnlockPad(const std::shared_ptr<HXPasscodeUnlockPad>& pad) {
    if (auto controller = std::dynamic_pointer_cast<toolkit::ViewController>(pad)) controller->dismiss(true);
}
