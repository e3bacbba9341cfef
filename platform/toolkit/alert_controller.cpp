#include "platform/toolkit/alert_controller.h"

#include <algorithm>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/notification_center.h"
#include "platform/toolkit/appearance.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/window.h"

namespace toolkit {

namespace {
constexpr const char* kAlertDomain = "toolkit.AlertController";
constexpr double kPadding = 16;
constexpr double kSheetMargin = 8;
constexpr double kSheetGap = 8;
constexpr const char* kChoosePreferredAction = "choosePreferredAction:";
constexpr const char* kChooseCancelAction = "chooseCancelAction:";
// The panel follows the appearance: near white in light, dark grey in dark.
Color alertPanelColor() { return Color::dynamic(Color::white(0.97), Color::white(0.17)); }

foundation::Status refuse(int64_t code, const std::string& why) {
    return foundation::Error::withDescription(kAlertDomain, code, why);
}
}  // namespace

AlertActionPtr AlertAction::make(std::string title, AlertActionStyle style, Handler handler) {
    return std::make_shared<AlertAction>(std::move(title), style, std::move(handler));
}

void AlertAction::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (auto b = button_.lock()) b->setEnabled(enabled);
}

std::string AlertActionButton::outlineState() const {
    std::string s = Button::outlineState();
    auto add = [&](const char* word) { s += (s.empty() ? "" : ", ") + std::string(word); };
    if (action_->style() == AlertActionStyle::Cancel) add("cancel");
    if (action_->style() == AlertActionStyle::Destructive) add("destructive");
    if (preferred) add("preferred");
    return s;
}

std::shared_ptr<AlertController> AlertController::make(std::optional<std::string> title,
                                                       std::optional<std::string> message, AlertControllerStyle style) {
    return std::make_shared<AlertController>(std::move(title), std::move(message), style);
}

AlertController::AlertController(std::optional<std::string> title, std::optional<std::string> message,
                                 AlertControllerStyle style)
    : title_(std::move(title)), message_(std::move(message)), style_(style) {
    const bool pad = Device::current().isPad();
    modalPresentationStyle = style == AlertControllerStyle::ActionSheet && pad ? ModalPresentationStyle::Popover
                                                                               : ModalPresentationStyle::OverFullScreen;
    modalTransitionStyle = ModalTransitionStyle::CrossDissolve;
    if (title_) setTitle(*title_);
    setActionHandler(kChoosePreferredAction, [this](Responder*) { performAction(preferred_); });
    setActionHandler(kChooseCancelAction, [this](Responder*) { performAction(cancelAction()); });
}

AlertActionPtr AlertController::cancelAction() const {
    for (auto& a : actions_)
        if (a->style() == AlertActionStyle::Cancel) return a;
    return nullptr;
}

std::vector<KeyCommand> AlertController::keyCommands() const {
    return {{"\r", kModifierNone, kChoosePreferredAction, ""}, {kInputEscape, kModifierNone, kChooseCancelAction, ""}};
}

bool AlertController::canPerformAction(const std::string& action, Responder* sender) const {
    // A key without its action goes on up the chain.
    if (action == kChoosePreferredAction) return preferred_ && preferred_->isEnabled() && !isBeingDismissed();
    if (action == kChooseCancelAction) {
        AlertActionPtr cancel = cancelAction();
        return cancel && cancel->isEnabled() && !isBeingDismissed();
    }
    return ViewController::canPerformAction(action, sender);
}

void AlertController::setMessage(std::optional<std::string> message) {
    message_ = std::move(message);
    if (messageLabel_) {
        messageLabel_->setText(message_.value_or(""));
        messageLabel_->setHidden(!message_);
        view()->setNeedsLayout();
    }
}

foundation::Status AlertController::addAction(const AlertActionPtr& action) {
    TK_MAIN_THREAD("AlertController::addAction");
    if (!action) return refuse(1, "no action");
    if (std::find(actions_.begin(), actions_.end(), action) != actions_.end())
        return refuse(2, "the action is already in the alert");
    if (action->style() == AlertActionStyle::Cancel)
        for (auto& a : actions_)
            if (a->style() == AlertActionStyle::Cancel) return refuse(3, "an alert has one cancel action at most");
    actions_.push_back(action);
    if (isViewLoaded()) build();
    return {};
}

foundation::Status AlertController::setPreferredAction(const AlertActionPtr& action) {
    if (action && std::find(actions_.begin(), actions_.end(), action) == actions_.end())
        return refuse(4, "the preferred action must be one of the alert's actions");
    preferred_ = action;
    if (isViewLoaded()) build();
    return {};
}

foundation::Status AlertController::addTextField(const std::function<void(TextField&)>& configure) {
    TK_MAIN_THREAD("AlertController::addTextField");
    if (style_ != AlertControllerStyle::Alert) return refuse(5, "text fields belong to alerts, not action sheets");
    auto field = std::make_shared<TextField>();
    field->setBorderStyle(TextBorderStyle::None);
    field->setFont(Font::system(13));
    if (configure) configure(*field);
    fields_.push_back(field);
    if (isViewLoaded()) build();
    return {};
}

std::vector<std::shared_ptr<AlertActionButton>> AlertController::actionButtons() const {
    std::vector<std::shared_ptr<AlertActionButton>> out;
    for (auto& b : buttons_)
        if (!b->isHidden()) out.push_back(b);
    return out;
}

void AlertController::performAction(const AlertActionPtr& action) {
    TK_MAIN_THREAD("AlertController::performAction");
    if (!action || !action->isEnabled() || acting_ || isBeingDismissed()) return;
    acting_ = true;
    auto keep = std::static_pointer_cast<AlertController>(selfPtr());
    dismiss(true, [keep, action] {
        keep->acting_ = false;
        if (action->handler_) action->handler_(*action);
    });
}

void AlertController::popoverWillDismissFromOutsideTap() {
    for (auto& a : actions_)
        if (a->style() == AlertActionStyle::Cancel && a->handler_) {
            auto act = a;
            auto keep = selfPtr();
            // After the popover has gone, as a tapped cancel button would.
            dispatch::RunLoop::main().performAtNextTurn([keep, act] { act->handler_(*act); });
        }
}

void AlertController::loadView() {
    auto root = std::make_shared<View>(Device::current().screen().bounds());
    root->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    root->setOpaque(false);
    setView(root);
    panel_ = std::make_shared<View>();
    panel_->setBackgroundColor(alertPanelColor());
    panel_->layer().cornerRadius = 13;
    panel_->setClipsToBounds(true);
    root->addSubview(panel_);
    titleLabel_ = std::make_shared<Label>();
    titleLabel_->setFont(Font::boldSystem(17));
    titleLabel_->setNumberOfLines(0);
    titleLabel_->setTextAlignment(TextAlignment::center);
    messageLabel_ = std::make_shared<Label>();
    messageLabel_->setFont(Font::system(13));
    messageLabel_->setNumberOfLines(0);
    messageLabel_->setTextAlignment(TextAlignment::center);
    panel_->addSubview(titleLabel_);
    panel_->addSubview(messageLabel_);
    build();
}

void AlertController::build() {
    titleLabel_->setText(title_.value_or(""));
    titleLabel_->setHidden(!title_);
    messageLabel_->setText(message_.value_or(""));
    messageLabel_->setHidden(!message_);
    for (auto& f : fields_)
        if (f->superview() != panel_.get()) panel_->addSubview(f);
    for (auto& b : buttons_) b->removeFromSuperview();
    buttons_.clear();
    // Alerts with two actions put cancel first (left); otherwise cancel goes last.
    std::vector<AlertActionPtr> order;
    AlertActionPtr cancel;
    for (auto& a : actions_)
        if (a->style() == AlertActionStyle::Cancel)
            cancel = a;
        else
            order.push_back(a);
    if (cancel) {
        if (style_ == AlertControllerStyle::Alert && actions_.size() == 2)
            order.insert(order.begin(), cancel);
        else
            order.push_back(cancel);
    }
    for (auto& a : order) {
        auto b = std::make_shared<AlertActionButton>(a);
        b->setTitle(a->title(), kStateNormal);
        if (a->image) b->setImage(a->image, kStateNormal);
        const Color titleColour =
            a->style() == AlertActionStyle::Destructive ? Color::systemRed() : Color::systemBlue();
        b->setTitleColor(titleColour, kStateNormal);
        // Faded while disabled, as the toolkit's disabled buttons are.
        b->setTitleColor(titleColour.withAlphaComponent(kDisabledAlpha), kStateDisabled);
        b->titleLabel()->setFont(a == preferred_ || (a->style() == AlertActionStyle::Cancel && !preferred_)
                                     ? Font::boldSystem(17)
                                     : Font::system(17));
        b->preferred = a == preferred_;
        b->setEnabled(a->isEnabled());
        std::weak_ptr<AlertController> weak = std::static_pointer_cast<AlertController>(selfPtr());
        std::weak_ptr<AlertAction> wa = a;
        b->addAction(
            [weak, wa](Control&, const Event*) {
                auto self = weak.lock();
                auto act = wa.lock();
                if (self && act) self->performAction(act);
            },
            kTouchUpInside);
        a->button_ = b;
        panel_->addSubview(b);
        buttons_.push_back(b);
    }
    view()->setNeedsLayout();
}

void AlertController::viewDidLayoutSubviews() {
    if (!panel_) return;
    View& root = *view();
    for (auto& b : buttons_) b->setHidden(inPopover() && b->action()->style() == AlertActionStyle::Cancel);
    auto shown = actionButtons();
    bool sheet = style_ == AlertControllerStyle::ActionSheet;
    Rect rb = root.bounds();
    EdgeInsets safe = root.safeAreaInsets();
    double width = inPopover() ? rb.width()
                   : sheet     ? std::min(rb.width() - safe.left - safe.right - 2 * kSheetMargin, 304.0)
                               : kAlertWidth;
    double y = kPadding;
    auto place = [&](Label& l) {
        if (l.isHidden()) return;
        Size s = l.sizeThatFits({width - 2 * kPadding, 0});
        l.setFrame(Rect(kPadding, y, width - 2 * kPadding, s.height));
        y += s.height + 4;
    };
    place(*titleLabel_);
    place(*messageLabel_);
    for (auto& f : fields_) {
        f->setFrame(Rect(kPadding, y + 4, width - 2 * kPadding, kFieldHeight));
        y += kFieldHeight + 8;
    }
    y += kPadding - 4;
    // Two short actions of an alert sit side by side; everything else stacks.
    bool sideBySide = !sheet && shown.size() == 2;
    if (sideBySide)
        for (auto& b : shown)
            if (b->sizeThatFits({}).width > width / 2 - 8) sideBySide = false;
    std::shared_ptr<AlertActionButton> sheetCancel;
    if (sheet && !inPopover() && !shown.empty() && shown.back()->action()->style() == AlertActionStyle::Cancel)
        sheetCancel = shown.back();
    for (size_t i = 0; i < shown.size(); ++i) {
        auto& b = shown[i];
        if (b == sheetCancel) continue;
        if (sideBySide) {
            b->setFrame(Rect(i * width / 2, y, width / 2, kButtonHeight));
            if (i == 1) y += kButtonHeight;
        } else {
            b->setFrame(Rect(0, y, width, kButtonHeight));
            y += kButtonHeight;
        }
    }
    double height = y;
    if (inPopover()) {
        panel_->setFrame(Rect(0, 0, width, rb.height()));
        setPreferredContentSize({kAlertWidth, height});
        return;
    }
    if (sheet) {
        // The sheet rises from the bottom edge; its cancel button is a panel of its own below it.
        double bottom = rb.maxY() - std::max(safe.bottom, kSheetMargin);
        double x = (rb.width() - width) / 2;
        if (sheetCancel) {
            bottom -= kButtonHeight;
            sheetCancel->removeFromSuperview();
            root.addSubview(sheetCancel);
            sheetCancel->setFrame(Rect(x, bottom, width, kButtonHeight));
            sheetCancel->setBackgroundColor(alertPanelColor());
            sheetCancel->layer().cornerRadius = 13;
            bottom -= kSheetGap;
        }
        panel_->setFrame(Rect(x, bottom - height, width, height));
        root.setBackgroundColor(Color::white(0, 0.4));
        return;
    }
    // Centred on the screen, or above a keyboard that covers its lower part (typing into a field
    // of the alert), where the buttons stay in reach; one too tall for that room keeps its buttons
    // and lets its top go.
    double top = (rb.height() - height) / 2;
    if (const Keyboard& keyboard = Keyboard::shared(); keyboard.isVisible() && root.window()) {
        const Rect covered = root.convertRectFrom(keyboard.frame(), nullptr);
        const double above = rb.minY() + safe.top;
        // A keyboard that does not reach the bottom edge floats over the screen and takes no room.
        if (covered.maxY() >= rb.maxY() - 0.5 && covered.minY() < rb.maxY() - safe.bottom) {
            const double room = std::max(0.0, covered.minY() - above);
            top = room >= height ? above + (room - height) / 2 : covered.minY() - height;
        }
    }
    panel_->setFrame(Rect((rb.width() - width) / 2, top, width, height));
    root.setBackgroundColor(Color::white(0, 0.4));
}

void AlertController::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    // The alert is placed anew whenever the keyboard comes, goes or changes its height.
    auto relayout = [weak = weakSelf<AlertController>()](const foundation::Notification&) {
        if (auto self = weak.lock(); self && self->isViewLoaded()) self->view()->setNeedsLayout();
    };
    auto& centre = foundation::NotificationCenter::defaultCenter();
    centre.addObserver(this, kKeyboardDidChangeFrameNotification, relayout);
    if (Responder* before = firstResponder()) focusBefore_ = before->weak_from_this();
    if (!fields_.empty())
        fields_.front()->becomeFirstResponder();
    else
        becomeFirstResponder();
}

void AlertController::viewDidDisappear(bool animated) {
    ViewController::viewDidDisappear(animated);
    foundation::NotificationCenter::defaultCenter().removeObserver(this);
    // Given back unless something else took it meanwhile (the fields lose it with the window).
    Responder* now = firstResponder();
    bool ours = !now || now == this;
    for (auto& f : fields_) ours = ours || now == f.get();
    if (!ours) return;
    if (now) now->resignFirstResponder();
    if (auto before = focusBefore_.lock()) before->becomeFirstResponder();
    focusBefore_.reset();
}

}  // namespace toolkit
