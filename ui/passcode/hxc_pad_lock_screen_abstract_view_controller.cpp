#include "ui/passcode/hxc_pad_lock_screen_abstract_view_controller.h"

#include "app/hxc_passcode_lock.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/format.h"
#include "platform/services/local_authentication.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/feedback.h"
#include "platform/toolkit/traits.h"

// The pad view as the PIN entry draws on it.
class HXCPadDisplay : public HXCPinPadDisplay {
public:
    std::weak_ptr<HXCPadLockScreenView> view;

    void selectDot(size_t index, bool selected) override {
        if (auto v = view.lock(); v && index < v->digitsArray().size())
            v->digitsArray()[index]->setSelected(selected, true);
    }
    void showPinLength(size_t length) override {
        if (auto v = view.lock()) v->updatePinTextfieldWithLength(length);
    }
    void showDeleteButton(bool show) override {
        auto v = view.lock();
        if (!v) return;
        if (show)
            v->showDeleteButtonAnimated(true);
        else
            v->showCancelButtonAnimated(true);
    }
    void showOKButton(bool show) override {
        if (auto v = view.lock(); v && v->isComplexPin()) v->showOKButton(show, true);
    }
    void reset() override {
        if (auto v = view.lock()) v->resetAnimated(true);
    }
    void shake() override {
        if (auto v = view.lock()) v->animateFailureNotification();
    }
    void fadeDetailText(const std::string& text) override {
        if (auto v = view.lock()) v->updateDetailLabelWithString(text, true);
    }
    void lockPad() override {
        if (auto v = view.lock()) v->lockViewAnimated(true);
    }
    void vibrate() override { toolkit::SystemSounds::shared().play(toolkit::kSystemSoundVibrate); }
};

namespace {

constexpr toolkit::SystemSoundID kTapSound = 1105;
constexpr const char* kReason = "Authenticate to unlock";

}  // namespace

HXCPadLockScreenAbstractViewController::HXCPadLockScreenAbstractViewController(bool complexPin)
    : complexPin_(complexPin), padView_(std::make_shared<HXCPadDisplay>()) {
    display_ = padView_;
}

std::shared_ptr<HXCPadLockScreenView> HXCPadLockScreenAbstractViewController::lockScreenView() {
    return std::dynamic_pointer_cast<HXCPadLockScreenView>(view());
}

void HXCPadLockScreenAbstractViewController::loadView() {
    // Always portrait-shaped on a phone.
    auto bounds = toolkit::Device::current().screen().bounds();
    if (toolkit::Device::current().screen().idiom == toolkit::Idiom::Phone && bounds.size.width > bounds.size.height)
        std::swap(bounds.size.width, bounds.size.height);
    auto pad = std::make_shared<HXCPadLockScreenView>(bounds, complexPin_, biometricIDName_);
    padView_->view = pad;
    setView(pad);
}

void HXCPadLockScreenAbstractViewController::viewDidLoad() {
    HXPasscodePadScreen::viewDidLoad();
    pinEntry().setPadScreen(std::static_pointer_cast<toolkit::ViewController>(selfPtr()));
    auto pad = lockScreenView();
    auto weak = weakSelf<HXCPadLockScreenAbstractViewController>();
    for (auto& key : pad->buttonArray()) {
        const int digit = key->number();
        key->addAction(
            [weak, digit](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->buttonSelected(digit);
            },
            toolkit::kTouchUpInside);
    }
    pad->cancelButton()->addAction(
        [weak](toolkit::Control&, const toolkit::Event*) {
            if (auto self = weak.lock()) self->pinEntry().cancelSelected();
        },
        toolkit::kTouchUpInside);
    pad->deleteButton()->addAction(
        [weak](toolkit::Control&, const toolkit::Event*) {
            if (auto self = weak.lock()) self->deleteFromPin();
        },
        toolkit::kTouchUpInside);
    pad->okButton()->addAction(
        [weak](toolkit::Control&, const toolkit::Event*) {
            if (auto self = weak.lock()) self->pinEntry().okSelected();
        },
        toolkit::kTouchUpInside);
    if (auto biometric = pad->biometricIDButton())
        biometric->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->showBiometricIDDialog();
            },
            toolkit::kTouchUpInside);
    for (const auto& command : keyCommands()) {
        const std::string input = command.input;
        setActionHandler(command.action, [weak, input](toolkit::Responder*) {
            if (auto self = weak.lock()) self->handleKey(input);
        });
    }
}

void HXCPadLockScreenAbstractViewController::setLockScreenTitle(const std::string& title) {
    setTitle(title);
    lockScreenView()->enterPasscodeLabel()->setText(title);
}

void HXCPadLockScreenAbstractViewController::setSubtitleText(const std::string& text) {
    lockScreenView()->detailLabel()->setText(text);
}

void HXCPadLockScreenAbstractViewController::setCancelButtonText(std::optional<std::string> text) {
    auto button = lockScreenView()->cancelButton();
    button->setTitle(std::move(text), toolkit::kStateNormal);
    button->sizeToFit();
}

void HXCPadLockScreenAbstractViewController::setDeleteButtonText(std::optional<std::string> text) {
    auto button = lockScreenView()->deleteButton();
    button->setTitle(std::move(text), toolkit::kStateNormal);
    button->sizeToFit();
}

void HXCPadLockScreenAbstractViewController::setEnterPasscodeLabelText(const std::string& text) {
    lockScreenView()->enterPasscodeLabel()->setText(text);
}

void HXCPadLockScreenAbstractViewController::setBackgroundView(toolkit::ViewPtr background) {
    lockScreenView()->setBackgroundView(std::move(background));
    setNeedsStatusBarAppearanceUpdate();
}

void HXCPadLockScreenAbstractViewController::showBiometricIDButton(bool show) {
    lockScreenView()->showBiometricIDButton(show, true);
}

void HXCPadLockScreenAbstractViewController::cancelButtonDisabled(bool disabled) {
    lockScreenView()->setCancelButtonDisabled(disabled);
}

void HXCPadLockScreenAbstractViewController::buttonSelected(int digit) {
    if (tapSoundEnabled) toolkit::SystemSounds::shared().play(kTapSound);
    newPinSelected(digit);
}

std::vector<toolkit::KeyCommand> HXCPadLockScreenAbstractViewController::keyCommands() const {
    std::vector<toolkit::KeyCommand> commands = {
        {"\b", toolkit::kModifierNone, "deleteFromPin", ""},
        {toolkit::kInputEscape, toolkit::kModifierNone, "cancelButtonSelected:", ""},
        {"\r", toolkit::kModifierNone, "okButtonSelected:", ""},
    };
    for (int digit = 0; digit <= 9; ++digit)
        commands.push_back({foundation::format("%i", digit), toolkit::kModifierNone,
                            foundation::format("handleNumberButton:%i", digit), ""});
    return commands;
}

void HXCPadLockScreenAbstractViewController::handleKey(const std::string& input) {
    if (input.size() == 1 && input[0] >= '0' && input[0] <= '9') {
        // The key shows its press and release while the digit goes in at once.
        auto key = lockScreenView()->buttonArray()[input[0] - '0'];
        key->setHighlighted(true);
        toolkit::animate(
            0.2, 0, toolkit::kAnimationNone, [] {}, [key](bool) { key->setHighlighted(false); });
    }
    pinEntry().handleKey(input);
}

void HXCPadLockScreenAbstractViewController::showBiometricIDDialog() {
    auto context = std::make_shared<services::LAContext>();
    const int policy = HXCPasscodeLock::biometricPolicy();
    if (!context->canEvaluatePolicy(policy)) return;
    auto weak = weakSelf<HXCPadLockScreenAbstractViewController>();
    dispatch::Queue::main()->async([weak, context, policy] {
        auto self = weak.lock();
        if (!self) return;
        self->lockScreenView()->showBiometricIDButton(false, true);
        context->evaluatePolicy(policy, kReason, [weak, context](bool success, std::optional<foundation::Error>) {
            // Off the main thread: only the hand-over.
            dispatch::Queue::main()->async([weak, success] {
                auto self = weak.lock();
                if (!self) return;
                if (success)
                    self->biometricUnlockSucceeded();
                else
                    self->lockScreenView()->showBiometricIDButton(true, true);
            });
        });
    });
}

toolkit::StatusBarStyle HXCPadLockScreenAbstractViewController::preferredStatusBarStyle() const {
    auto* pad =
        dynamic_cast<HXCPadLockScreenView*>(const_cast<HXCPadLockScreenAbstractViewController*>(this)->view().get());
    if (!pad || pad->backgroundView()) return toolkit::StatusBarStyle::LightContent;
    if (!pad->backgroundColor()) pad->setBackgroundColor(toolkit::Color::black());
    const auto& color = *pad->backgroundColor();
    double brightness;
    if (auto white = color.whiteComponents())
        brightness = white->first;
    else {
        const auto c = color.rgbaComponents().value_or(graphics::RGBA{});
        brightness = (299 * c.red + 587 * c.green + 114 * c.blue) / 1000;
    }
    return brightness < 0.5 ? toolkit::StatusBarStyle::LightContent : toolkit::StatusBarStyle::Default;
}
