#include "platform/toolkit/text_input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/foundation/notification_center.h"
#include "platform/toolkit/event.h"
#include "platform/toolkit/main_thread.h"
#include "platform/toolkit/window.h"

namespace toolkit {

// ---- Editing model

namespace {
bool isTrail(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
}  // namespace

void TextEditingModel::setText(std::string text) {
    text_ = std::move(text);
    selection_ = {length(), 0};
}

Range TextEditingModel::clamp(Range r) const {
    std::u16string u = foundation::toUtf16(text_);
    size_t n = u.size();
    size_t loc = std::min(r.location == foundation::kNotFound ? n : r.location, n);
    size_t end = std::min(loc + std::min(r.length, n - loc), n);
    if (loc > 0 && loc < n && isTrail(u[loc])) --loc;
    if (end > 0 && end < n && isTrail(u[end])) ++end;
    return {loc, end - loc};
}

void TextEditingModel::setSelectedRange(Range r) { selection_ = clamp(r); }

void TextEditingModel::replace(Range range, const std::string& s) {
    Range r = clamp(range);
    size_t b0 = foundation::utf8Offset(text_, r.location);
    size_t b1 = foundation::utf8Offset(text_, r.end());
    text_.replace(b0, b1 - b0, s);
    selection_ = {r.location + foundation::utf16Length(s), 0};
}

Range TextEditingModel::deletionRange() const {
    if (selection_.length > 0) return selection_;
    if (selection_.location == 0) return {0, 0};
    std::u16string u = foundation::toUtf16(text_);
    size_t loc = selection_.location;
    size_t width = loc >= 2 && isTrail(u[loc - 1]) ? 2 : 1;
    return {loc - width, width};
}

// ---- Text field

TextField::TextField() { setFrame(Rect(0, 0, 100, 30)); }

void TextField::setText(std::string text) {
    model_.setText(std::move(text));
    setNeedsDisplay();
}

bool TextField::canBecomeFirstResponder() const { return isEnabled() && window() != nullptr; }

bool TextField::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder()) return false;
    auto d = delegate.lock();
    if (d && !d->textFieldShouldBeginEditing(*this)) return false;
    if (!Responder::becomeFirstResponder()) return false;
    editing_ = true;
    if (clearsOnBeginEditing) model_.setText("");
    model_.setSelectedRange({model_.length(), 0});
    sendActionsForControlEvents(kEditingDidBegin);
    if (d) d->textFieldDidBeginEditing(*this);
    Keyboard::shared().show(*this);
    return true;
}

bool TextField::resignFirstResponder() {
    if (!isFirstResponder()) return true;
    auto d = delegate.lock();
    if (d && !d->textFieldShouldEndEditing(*this)) return false;
    if (!Responder::resignFirstResponder()) return false;
    editing_ = false;
    sendActionsForControlEvents(kEditingDidEnd);
    if (d) d->textFieldDidEndEditing(*this);
    if (!dynamic_cast<TextInput*>(firstResponder())) Keyboard::shared().hide();
    return true;
}

void TextField::change(Range range, const std::string& s) {
    Range r = model_.clamp(range);
    if (auto d = delegate.lock(); d && !d->shouldChangeCharactersInRange(*this, r, s)) return;
    model_.replace(r, s);
    setNeedsDisplay();
    sendActionsForControlEvents(kEditingChanged);
    foundation::NotificationCenter::defaultCenter().post(kTextFieldTextDidChangeNotification, self());
}

void TextField::insertText(const std::string& text) {
    if (!editing_) return;
    change(model_.selectedRange(), text);
}

void TextField::deleteBackward() {
    if (!editing_) return;
    Range r = model_.deletionRange();
    if (r.length == 0) return;
    change(r, "");
}

void TextField::pressReturn() {
    if (!editing_) return;
    auto d = delegate.lock();
    if (d && !d->textFieldShouldReturn(*this)) return;
    sendActionsForControlEvents(kEditingDidEndOnExit);
}

void TextField::clear() {
    auto d = delegate.lock();
    if (d && !d->textFieldShouldClear(*this)) return;
    model_.setText("");
    sendActionsForControlEvents(kEditingChanged);
}

void TextField::endTracking(const Touch* touch, const Event*) {
    if (touch && bounds().contains(touch->locationInView(this))) becomeFirstResponder();
}

std::string TextField::outlineText() const {
    if (model_.text().empty()) return placeholder.empty() ? "" : "[" + placeholder + "]";
    if (secureTextEntry) {
        std::string dots;
        for (size_t i = 0; i < foundation::toCodePoints(model_.text()).size(); ++i) dots += "\u2022";
        return dots;
    }
    return model_.text();
}

std::string TextField::accessibilityLabel() const {
    return accessibility().label.empty() ? placeholder : accessibility().label;
}

Rect TextField::textRectForBounds(const Rect& b) const {
    double left = 0, right = 0;
    if (leftView && leftViewMode != ViewMode::Never) left = leftView->frame().width();
    if (rightView && rightViewMode != ViewMode::Never) right = rightView->frame().width();
    double pad = borderStyle == TextBorderStyle::None ? 0 : 7;
    return Rect(b.minX() + left + pad, b.minY(), b.width() - left - right - 2 * pad, b.height());
}

// ---- Text view

TextView::TextView() { setFrame(Rect(0, 0, 100, 100)); }

void TextView::setText(std::string text) {
    model_.setText(std::move(text));
    setNeedsDisplay();
}

void TextView::setSelectedRange(Range r) {
    Range before = model_.selectedRange();
    model_.setSelectedRange(r);
    if (!(before == model_.selectedRange()))
        if (auto d = delegate.lock()) d->textViewDidChangeSelection(*this);
}

void TextView::selectAll() { setSelectedRange({0, model_.length()}); }

bool TextView::becomeFirstResponder() {
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder()) return false;
    auto d = delegate.lock();
    if (d && !d->textViewShouldBeginEditing(*this)) return false;
    if (!Responder::becomeFirstResponder()) return false;
    editing_ = true;
    if (d) d->textViewDidBeginEditing(*this);
    Keyboard::shared().show(*this);
    return true;
}

bool TextView::resignFirstResponder() {
    if (!isFirstResponder()) return true;
    auto d = delegate.lock();
    if (d && !d->textViewShouldEndEditing(*this)) return false;
    if (!Responder::resignFirstResponder()) return false;
    editing_ = false;
    if (d) d->textViewDidEndEditing(*this);
    if (!dynamic_cast<TextInput*>(firstResponder())) Keyboard::shared().hide();
    return true;
}

void TextView::change(Range range, const std::string& s) {
    Range r = model_.clamp(range);
    auto d = delegate.lock();
    if (d && !d->shouldChangeTextInRange(*this, r, s)) return;
    model_.replace(r, s);
    setNeedsDisplay();
    if (d) d->textViewDidChange(*this);
    foundation::NotificationCenter::defaultCenter().post(kTextViewTextDidChangeNotification, self());
}

void TextView::insertText(const std::string& text) {
    if (editing_) change(model_.selectedRange(), text);
}

void TextView::deleteBackward() {
    if (!editing_) return;
    Range r = model_.deletionRange();
    if (r.length > 0) change(r, "");
}

Size TextView::sizeThatFits(Size size) const {
    double width = (size.width > 0 ? size.width : bounds().width()) - 2 * lineFragmentPadding -
                   textContainerInset.left - textContainerInset.right;
    Size t = textMeasurer().measure(model_.text().empty() ? " " : model_.text(), font, std::max(1.0, width), 0,
                                    LineBreakMode::wordWrap);
    return {size.width > 0 ? size.width : bounds().width(),
            t.height + textContainerInset.top + textContainerInset.bottom};
}

void TextView::touchesEnded(const TouchSet& touches, const Event*) {
    if (!touches.empty() && bounds().contains(touches[0]->locationInView(this))) becomeFirstResponder();
}

// ---- Keyboard

Keyboard& Keyboard::shared() {
    static Keyboard k;
    return k;
}

void Keyboard::reset() {
    if (view_) view_->setAccessoryView(nullptr), view_->removeFromSuperview();
    *this = Keyboard();
}

std::string rectToString(const Rect& r) { return graphics::toString(r); }

std::optional<Rect> rectFromString(const std::string& s) {
    double x, y, w, h;
    int used = -1;
    // The count of conversions says nothing about the closing braces: the whole text must match.
    if (std::sscanf(s.c_str(), "{{%lf, %lf}, {%lf, %lf}}%n", &x, &y, &w, &h, &used) != 4 ||
        used != static_cast<int>(s.size()))
        return std::nullopt;
    // "nan" and "inf" scan as numbers; no rectangle has them.
    for (double v : {x, y, w, h})
        if (!std::isfinite(v)) return std::nullopt;
    return Rect(x, y, w, h);
}

void Keyboard::post(const char* will, const char* did, Rect from, Rect to) {
    foundation::Dictionary info;
    info.set(kKeyboardFrameBeginUserInfoKey, rectToString(from));
    info.set(kKeyboardFrameEndUserInfoKey, rectToString(to));
    info.set(kKeyboardAnimationDurationUserInfoKey, kAnimationDuration);
    info.set(kKeyboardAnimationCurveUserInfoKey, kAnimationCurve);
    auto& nc = foundation::NotificationCenter::defaultCenter();
    // Show and hide come wrapped in the frame-change pair; a plain frame change is just the pair.
    bool plain = std::string(will) == kKeyboardWillChangeFrameNotification;
    nc.post(kKeyboardWillChangeFrameNotification, nullptr, info);
    if (!plain) nc.post(will, nullptr, info);
    nc.post(kKeyboardDidChangeFrameNotification, nullptr, info);
    if (!plain) nc.post(did, nullptr, info);
}

void Keyboard::show(const View& input) {
    Window* w = input.window();
    if (!w) return;
    if (!view_) view_ = std::make_shared<KeyboardView>();
    view_->setAccessoryView(input.inputAccessoryView());
    Rect to = frameFor(*w, view_->accessoryHeight());
    Rect screen = w->profile().bounds();
    Rect from = visible_ ? frame_ : Rect(0, screen.height(), screen.width(), to.height());
    view_->setFrame(to);
    if (view_->superview() != w) w->addSubview(view_);
    w->bringSubviewToFront(view_.get());
    if (visible_ && from == to) return;
    bool wasVisible = visible_;
    visible_ = true;
    frame_ = to;
    if (wasVisible)
        post(kKeyboardWillChangeFrameNotification, kKeyboardDidChangeFrameNotification, from, to);
    else
        post(kKeyboardWillShowNotification, kKeyboardDidShowNotification, from, to);
}

void Keyboard::hide() {
    if (!visible_) return;
    if (view_) view_->setAccessoryView(nullptr), view_->removeFromSuperview();
    Rect from = frame_;
    Rect to = Rect(from.minX(), from.maxY(), from.width(), from.height());
    if (Window* w = Window::keyWindow()) to.origin.y = w->profile().bounds().height();
    visible_ = false;
    post(kKeyboardWillHideNotification, kKeyboardDidHideNotification, from, to);
}

void Keyboard::setFloating(bool floating) { floating_ = floating; }

}  // namespace toolkit
