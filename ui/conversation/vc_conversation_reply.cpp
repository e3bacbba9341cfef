// Sending a reply: as a text, or with pictures as a picture message, through the conversation
// role, whose answer (by completion) moves the progress bar and ends it; the SMS counter of the
// reply field.
#include <cmath>

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/application.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/user_defaults.h"
#include "platform/graphics/color.h"
#include "platform/graphics/hxc_font.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/presentation.h"
#include "platform/toolkit/text_input.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/traits.h"
#include "ui/conversation/vc_conversation.h"
#include "ui/widgets/caret_navigation.h"

VC_Conversation::Counter VC_Conversation::counterFor(size_t length, long lines) {
    Counter c;
    const auto segment = static_cast<double>(kSegmentLength);
    c.segments = static_cast<size_t>(std::max(1.0, std::ceil(static_cast<double>(length) / segment)));
    const size_t used = length - kSegmentLength * (c.segments - 1);
    c.text = foundation::format(foundation::localizedString("%ld/%d\n"), int64_t(lines > 2 ? used : length),
                                int64_t{kSegmentLength});
    c.text += c.segments >= 2 && lines >= 3
                  ? foundation::format(foundation::localizedString("(%ld SMS) "), int64_t(c.segments))
                  : std::string(" ");
    c.colour = used < 151 ? Counter::Colour::Secondary : used < 160 ? Counter::Colour::Orange : Counter::Colour::Red;
    return c;
}

void VC_Conversation::sendReply(const std::string& text) {
    if (!conversation_) return;
    const std::string number = conversation_->phoneNumber();
    if (number.empty()) return;
    auto sending = roles_.sending.lock();
    if (!sending) return;
    sendingReply_ = true;
    keptInView_ = -1;  // the reply is shown at the end
    sendingImages_ = images().size();
    startSendingProgress();
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(this, foundation::kApplicationDidEnterBackgroundNotification,
                       [weak = weakSelf<VC_Conversation>()](const foundation::Notification&) {
                           if (auto self = weak.lock()) self->removeSendingProgress();
                       });
    // This screen follows its own send: every step moves the bar, the end removes it.
    HXSendCompletion answered = [weak = weakSelf<VC_Conversation>()](const HXSendAnswer& answer) {
        auto self = weak.lock();
        if (!self) return;
        if (answer.kind == HXSendAnswer::Kind::Progress) return self->increaseSendingProgress();
        auto pages = self->roles_.pages.lock();
        const std::string id = !answer.conversationID.empty() ? answer.conversationID
                               : self->conversation_          ? self->conversation_->conversationID()
                                                              : std::string();
        if (answer.kind != HXSendAnswer::Kind::Sent || !pages || id.empty()) return self->removeSendingProgress();
        // Sent: the bar goes once the page that brings the new bubble is in.
        pages->loadNewest(id, [weak](const HXPageAnswer&) {
            if (auto s = weak.lock()) s->removeSendingProgress();
        });
    };
    const std::string id = conversation_->conversationID();
    if (!images().empty()) {
        sending->sendMMS(text, images(), number, id, std::move(answered));
        pictures_->clear();
        updateImagePreviews();
    } else {
        sending->sendSMS(text, number, id, std::move(answered));
    }
}

void VC_Conversation::sendMessageKeystroke() {
    // The field keeps its text: only the Send button and the return key clear it.
    if (const std::string text = replyText(); !text.empty()) sendReply(text);
}

// ---- the reply bar

toolkit::Color VC_Conversation::counterColour(Counter::Colour colour) {
    const bool system13 = toolkit::Device::current().systemVersionAtLeast(13);
    switch (colour) {
        case Counter::Colour::Orange:
            return system13 ? graphics::Color::systemOrange() : graphics::Color::rgb(0.6, 0.0, 0.0);
        case Counter::Colour::Red:
            return system13 ? graphics::Color::systemRed() : graphics::Color::red();
        case Counter::Colour::Secondary:
            break;
    }
    return system13 ? graphics::Color::secondaryLabel() : graphics::Color::darkGray();
}

std::string VC_Conversation::replyText() const {
    return inputToolbar_ ? inputToolbar_->textView()->text() : replyText_;
}

void VC_Conversation::setReplyText(std::string text) {
    if (inputToolbar_)
        inputToolbar_->textView()->setText(text);
    else
        replyText_ = std::move(text);
}

double VC_Conversation::parentBottomInset() const {
    const auto* p = parent();
    const auto parentView = p ? p->viewIfLoaded() : nullptr;
    if (parentView) return parentView->safeAreaInsets().bottom;
    const auto own = viewIfLoaded();
    return own ? own->safeAreaInsets().bottom : 0;
}

void VC_Conversation::addReplyBar() {
    if (inputToolbar_ || !tableView_) return;
    auto font = graphics::HXCFont::HXCFontForType(5);
    const double lineHeight = font ? toolkit::textMeasurer().lineHeight(*font) : 18;
    const double h = std::ceil(lineHeight + 22);
    const toolkit::Rect bounds = view()->bounds();
    inputToolbar_ = HXCInputToolbar::make({0, bounds.height() - h, bounds.width(), h},
                                          graphics::Font::system(18, graphics::FontWeight::medium),
                                          graphics::Color::systemBlue(), signedIn());
    inputToolbar_->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleTopMargin);
    inputToolbar_->setInputDelegate(
        std::shared_ptr<HXCInputToolbarDelegate>(shared_from_this(), static_cast<HXCInputToolbarDelegate*>(this)));
    auto& field = *inputToolbar_->textView();
    field.setPlaceholder(foundation::localizedString("Tap to reply\u2026"));
    toolkit::Rect table = tableView_->frame();
    table.size.height -= h;
    tableView_->setFrame(table);
    field.setMaximumNumberOfLines(static_cast<int>(maximumInputLines(false)));
    if (auto small = graphics::HXCFont::HXCFontForType(6)) inputToolbar_->infoLabel()->setFont(*small);
    inputToolbar_->infoLabel()->setTextColor(counterColour(Counter::Colour::Secondary));
    hxcAddGestureNavigationToTextInput(*field.internalTextView(), *view());
    field.setText(replyText_);
    replyText_.clear();
    view()->addSubview(inputToolbar_);
}

void VC_Conversation::placeReplyBar() {
    if (!inputToolbar_) return;
    auto& field = *inputToolbar_->textView();
    field.setReturnKeyType(HXPreferenceOf(roles_.alerts, HXPreference::SMSReturnKeySend)
                               ? toolkit::ReturnKeyType::Send
                               : toolkit::ReturnKeyType::Default);
    if (auto font = graphics::HXCFont::HXCFontForType(5)) field.setFont(*font);
    const toolkit::Rect bounds = view()->bounds();
    toolkit::Rect bar = inputToolbar_->frame();
    inputToolbar_->setFrame({bar.minX(), bounds.height() - bar.height(), bounds.width(), bar.height()});
    inputToolbar_->setBottomPadding(parentBottomInset());
    toolkit::Rect table = tableView_->frame();
    table.size.height = std::max(0.0, inputToolbar_->frame().minY() - table.minY());
    tableView_->setFrame(table);
    inputToolbar_->setNeedsDisplay();
}

void VC_Conversation::remeasureReply() {
    if (!inputToolbar_) return;
    auto& field = *inputToolbar_->textView();
    const std::string text = field.text();
    field.clearText();
    field.setMaximumNumberOfLines(static_cast<int>(maximumInputLines(field.isFirstResponder())));
    field.setText(text);
}

void VC_Conversation::addKeyboardObservers() {
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (const char* name :
         {toolkit::kKeyboardWillChangeFrameNotification, toolkit::kKeyboardDidChangeFrameNotification}) {
        center.removeObserver(this, name);
        center.addObserver(this, name, [weak = weakSelf<VC_Conversation>()](const foundation::Notification& n) {
            if (auto self = weak.lock()) self->keyboardFrameChange(n);
        });
    }
}

void VC_Conversation::inputToolbarButtonPressed(HXCInputToolbar&, const std::string& text) { sendReply(text); }

bool VC_Conversation::inputToolbarTextViewShouldChangeTextInRange(HXCInputToolbar& toolbar, toolkit::Range,
                                                                  const std::string& replacementText) {
    if (!HXPreferenceOf(roles_.alerts, HXPreference::SMSReturnKeySend) || replacementText != "\n") return true;
    auto& field = *toolbar.textView();
    if (!field.text().empty()) {
        sendReply(field.text());
        field.clearText();
    }
    return false;
}

void VC_Conversation::inputToolbarTextViewDidChange(HXCInputToolbar& toolbar, HXCExpandingTextView& textView) {
    const Counter counter = counterFor(foundation::utf16Length(textView.text()), textView.numberOfLines());
    toolbar.infoLabel()->setText(counter.text);
    toolbar.infoLabel()->setTextColor(counterColour(counter.colour));
    if (const auto& activity = replyActivity()) activity->setNeedsSave(true);
    if (!images().empty()) toolbar.inputButton()->setEnabled(true);
}

void VC_Conversation::inputToolbarTextViewDidBeginEditing(HXCInputToolbar&, HXCExpandingTextView& textView) {
    textView.setMaximumNumberOfLines(static_cast<int>(maximumInputLines(textView.isFirstResponder())));
}

void VC_Conversation::inputToolbarTextViewDidEndEditing(HXCInputToolbar&, HXCExpandingTextView& textView) {
    textView.setMaximumNumberOfLines(static_cast<int>(maximumInputLines(textView.isFirstResponder())));
}

void VC_Conversation::inputToolbarHeightChanged(HXCInputToolbar& toolbar, double height) {
    if (!tableView_) return;
    const double delta = height - toolbar.frame().height();
    const toolkit::Rect table = tableView_->frame();
    tableView_->setFrame({table.minX(), 0, table.width(), std::max(0.0, table.height() - delta)});
}

void VC_Conversation::inputToolbarCameraButtonPressed(HXCInputToolbar&, toolkit::Button& button) {
    // The sheet is anchored while it is made: the button is at hand then.
    pictureTray()->chooseSource([this, &button](toolkit::PopoverPresentationController& popover) {
        if (!toolkit::Device::current().isPad()) return;
        popover.sourceView = view();
        popover.sourceRect =
            button.superview() ? button.superview()->convertRectTo(button.frame(), view().get()) : button.frame();
    });
}

const std::shared_ptr<HXPictureTray>& VC_Conversation::pictureTray() {
    if (pictures_) return pictures_;
    auto weak = weakSelf<VC_Conversation>();
    pictures_ = HXPictureTray::make({.screen = weak,
                                     .presentAlert =
                                         [alerts = roles_.alerts](const HXAlert& alert) {
                                             if (auto a = alerts.lock()) a->presentAlert(alert);
                                         },
                                     .changed =
                                         [weak] {
                                             if (auto self = weak.lock()) self->updateImagePreviews();
                                         },
                                     .pickerCancelled =
                                         [weak] {
                                             auto self = weak.lock();
                                             if (!self || !self->inputToolbar_) return;
                                             if (!self->images().empty())
                                                 self->inputToolbar_->textView()->becomeFirstResponder();
                                             self->inputToolbar_->setNeedsDisplay();
                                         },
                                     .leadingItem = {},
                                     .pickerStyle = toolkit::ModalPresentationStyle::FormSheet});
    return pictures_;
}

const std::vector<HXMMSImage>& VC_Conversation::images() const {
    static const std::vector<HXMMSImage> none;
    return pictures_ ? pictures_->pictures() : none;
}

const std::shared_ptr<toolkit::Toolbar>& VC_Conversation::imagePreviewStrip() const {
    static const std::shared_ptr<toolkit::Toolbar> none;
    return pictures_ ? pictures_->strip() : none;
}

void VC_Conversation::updateImagePreviews() {
    // Without a reply bar the pictures wait in the tray.
    if (!inputToolbar_) return;
    auto& field = *inputToolbar_->textView();
    auto& inner = *field.internalTextView();
    const auto& strip = pictureTray()->rebuildStrip();
    if (strip) strip->setClipsToBounds(true);
    inner.inputAccessory = strip;
    inputToolbar_->inputButton()->setEnabled(strip || !field.text().empty());
    field.becomeFirstResponder();
    inner.reloadInputViews();
    inputToolbar_->setNeedsDisplay();
}

void VC_Conversation::viewWillTransitionToSize(toolkit::Size size, toolkit::TransitionCoordinator* coordinator) {
    HXConversationScreen::viewWillTransitionToSize(size, coordinator);
    auto weak = weakSelf<VC_Conversation>();
    auto alongside = [weak](toolkit::TransitionCoordinator&) {
        // Sizes are kept per width: the rows are measured again at the new one.
        if (auto self = weak.lock()) {
            self->noteView_.reset();
            self->reloadTable();
        }
    };
    auto completed = [weak](toolkit::TransitionCoordinator&) {
        auto self = weak.lock();
        if (!self) return;
        // Along the change the stack may still have had the old width: the rows are measured
        // once more at the width they now have.
        self->noteView_.reset();
        self->reloadTable();
        if (foundation::Application::shared().applicationState() != foundation::ApplicationState::Active) return;
        self->layoutTable();
        if (self->inputToolbar_) {
            const double top = self->tableView_->contentInset().top;
            self->tableView_->setContentInset({top, 0, 0, 0});
            self->tableView_->scrollIndicatorInsets = {top, 0, 0, 0};
            self->remeasureReply();
            self->addKeyboardObservers();
            self->inputToolbar_->setBottomPadding(self->parentBottomInset());
        }
    };
    if (coordinator) {
        coordinator->animateAlongsideTransition(alongside, completed);
    } else {
        toolkit::TransitionCoordinator none(false, 0);
        alongside(none);
        completed(none);
    }
}
