// The application object's passcode lock operations: the lock's host (pads, blur, the unlock's
// follow-up), the unlock pad's delegate and the pads' background.
#include "app/connect_app_delegate.h"
#include "app/hxc_passcode_lock.h"
#include "app/passcode_pad_screen.h"
#include "app/views.h"
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

std::shared_ptr<toolkit::View> makeBlurView(unsigned autoresizing) {
    auto blur = std::make_shared<toolkit::VisualEffectView>(toolkit::BlurEffectStyle::Dark);
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

std::shared_ptr<HXPasscodeLockControl> HX_ConnectAppDelegate::passcodeLockControl() {
    if (!passcodeControl_) {
        auto self = std::dynamic_pointer_cast<HX_ConnectAppDelegate>(weakWebClient().lock());
        if (!self) return nullptr;
        passcodeControl_ = std::make_shared<HXPasscodeLockControl>(std::weak_ptr<HXPasscodeLockHost>(self));
    }
    return passcodeControl_;
}

bool HX_ConnectAppDelegate::useSpotlight() const { return HXCPasscodeLock::sharedLock().useSpotlight(); }

void HX_ConnectAppDelegate::showPasscodeLockIfNeeded() { showPasscodeLockIfNeededForStartup(false); }

void HX_ConnectAppDelegate::showPasscodeLockIfNeededForStartup(bool startup) {
    if (auto control = passcodeLockControl()) control->showPasscodeLockIfNeededForStartup(startup);
}

std::shared_ptr<toolkit::View> HX_ConnectAppDelegate::passcodeBackgroundViewWithFrame(double x, double y, double width,
                                                                                      double height) {
    auto view = std::make_shared<toolkit::View>(toolkit::Rect{x, y, width, height});
    auto gradient = std::make_shared<toolkit::GradientLayer>();
    gradient->colors = {toolkit::Color::systemBlue(), toolkit::Color::rgb(0, 31.0 / 255.0, 83.0 / 255.0, 1)};
    auto& sublayers = view->layer().gradientSublayers;
    sublayers.insert(sublayers.begin(), gradient);
    return view;
}

std::shared_ptr<toolkit::ViewController> HX_ConnectAppDelegate::passcodePadDelegateScreen() {
    return viewControllerForIndex(4);
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

std::shared_ptr<HXPasscodeUnlockPad> HX_ConnectAppDelegate::makeUnlockPad() {
    auto self = std::dynamic_pointer_cast<HX_ConnectAppDelegate>(weakWebClient().lock());
    std::shared_ptr<toolkit::ViewController> controller;
    std::shared_ptr<HXPasscodeUnlockPad> pad;
    if (auto screen =
            screens().makePadLockScreen(std::weak_ptr<HXCPadLockScreenViewControllerDelegate>(
                                            std::static_pointer_cast<HXCPadLockScreenViewControllerDelegate>(self)),
                                        false)) {
        screen->setErrorVibrateEnabled(true);
        const auto frame = screen->view()->frame();
        screen->setBackgroundView(
            passcodeBackgroundViewWithFrame(frame.origin.x, frame.origin.y, frame.size.width, frame.size.height));
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
        iPad() ? toolkit::ModalPresentationStyle::FormSheet : toolkit::ModalPresentationStyle::FullScreen;
    controller->modalTransitionStyle = toolkit::ModalTransitionStyle::CrossDissolve;
    return pad;
}

std::shared_ptr<HXPasscodeUnlockPad> HX_ConnectAppDelegate::presentedUnlockPad() {
    if (!window_ || !window_->rootViewController()) return nullptr;
    return std::dynamic_pointer_cast<HXPasscodeUnlockPad>(
        sharedController(window_->rootViewController()->presentedViewController()));
}

void HX_ConnectAppDelegate::coverWithBlur() {
    if (!window_ || !window_->rootViewController()) return;
    auto& root = *window_->rootViewController();
    toolkit::ViewController* presenter = root.presentedViewController() ? root.presentedViewController() : &root;
    const unsigned flexible = toolkit::kFlexibleWidth | toolkit::kFlexibleHeight;
    if (iPad()) {
        if (!root.view()->viewWithTag(kBlurTag)) {
            root.view()->addSubview(makeBlurView(flexible));
            if (presenter != &root) presenter->view()->addSubview(makeBlurView(toolkit::kAutoresizeNone));
        }
    } else if (!presenter->view()->viewWithTag(kBlurTag)) {
        presenter->view()->addSubview(makeBlurView(flexible));
    }
}

void HX_ConnectAppDelegate::presentUnlockPad(const std::shared_ptr<HXPasscodeUnlockPad>& pad) {
    auto controller = std::dynamic_pointer_cast<toolkit::ViewController>(pad);
    if (!window_ || !window_->rootViewController() || !controller) return;
    auto& root = *window_->rootViewController();
    toolkit::ViewController* presenter = root.presentedViewController() ? root.presentedViewController() : &root;
    presenter->present(controller, false);
}

void HX_ConnectAppDelegate::removeBlur() {
    if (!window_ || !window_->rootViewController()) return;
    auto& root = *window_->rootViewController();
    if (auto* blur = root.view()->viewWithTag(kBlurTag)) blur->removeFromSuperview();
    if (auto* presented = root.presentedViewController())
        if (auto* blur = presented->view()->viewWithTag(kBlurTag)) blur->removeFromSuperview();
}

void HX_ConnectAppDelegate::resumeAfterUnlock() {
    resumeActive();
    // The host's monitoring starts only now: the platform reports the host's status once when it
    // starts, which starts the first data load that the lock held back.
    if (webClient().firstReachabilityHandled || !serviceReach_) return;
    std::weak_ptr<int> alive = aliveToken();
    dispatch::Queue::main()->async([this, alive] {
        if (alive.expired() || webClient().firstReachabilityHandled || !serviceReach_) return;
        reachabilityChanged(serviceReach_->currentReachabilityStatus());
    });
}

void HX_ConnectAppDelegate::dismissUnlockPad(const std::shared_ptr<HXPasscodeUnlockPad>& pad) {
    if (auto controller = std::dynamic_pointer_cast<toolkit::ViewController>(pad)) controller->dismiss(true);
}
