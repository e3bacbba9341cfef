#include "platform/toolkit/controls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/toolkit/animation.h"
#include "platform/toolkit/appearance.h"
#include "platform/toolkit/event.h"
#include "platform/toolkit/main_thread.h"

namespace toolkit {

// ---- Control

void Control::addTarget(std::weak_ptr<Responder> target, const std::string& action, unsigned events) {
    TK_MAIN_THREAD("addTarget");
    bool has = !target.expired();
    for (auto& e : entries_)
        if (e.hasTarget == has && e.target.lock() == target.lock() && e.action == action && !e.closure) {
            e.events |= events;
            return;
        }
    entries_.push_back({nextId_++, events, std::move(target), has, action, {}});
}

void Control::removeTarget(const Responder* target, const std::string& action, unsigned events) {
    for (auto& e : entries_)
        if (!e.closure && (!target || e.target.lock().get() == target) && (action.empty() || e.action == action))
            e.events &= ~events;
    std::erase_if(entries_, [](const Entry& e) { return e.events == 0; });
}

int Control::addAction(Action action, unsigned events) {
    entries_.push_back({nextId_, events, {}, false, {}, std::move(action)});
    return nextId_++;
}

void Control::removeAction(int id) {
    std::erase_if(entries_, [&](const Entry& e) { return e.id == id; });
}

std::vector<std::string> Control::actionsForTarget(const Responder* target, unsigned event) const {
    std::vector<std::string> out;
    for (auto& e : entries_)
        if (!e.closure && (e.events & event) && e.target.lock().get() == target) out.push_back(e.action);
    return out;
}

void Control::sendActionsForControlEvents(unsigned events, const Event* event) {
    TK_MAIN_THREAD("sendActionsForControlEvents");
    auto keep = self();
    // A snapshot: an action may add or remove others while this runs.
    auto snapshot = entries_;
    for (auto& e : snapshot) {
        if (!(e.events & events)) continue;
        if (e.closure) {
            e.closure(*this, event);
        } else if (e.hasTarget) {
            if (auto t = e.target.lock()) t->perform(e.action, this);
        } else {
            sendAction(e.action, nullptr, this, this);
        }
    }
}

void Control::setEnabled(bool enabled) {
    enabled_ = enabled;
    setNeedsDisplay();
}
void Control::setSelected(bool selected) {
    selected_ = selected;
    setNeedsDisplay();
}
void Control::setHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    setNeedsDisplay();
}

unsigned Control::state() const {
    unsigned s = kStateNormal;
    if (highlighted_) s |= kStateHighlighted;
    if (!enabled_) s |= kStateDisabled;
    if (selected_) s |= kStateSelected;
    return s;
}

View* Control::hitTest(Point p, const Event* e) { return enabled_ ? View::hitTest(p, e) : nullptr; }

bool Control::beginTracking(const Touch&, const Event*) { return true; }
bool Control::continueTracking(const Touch&, const Event*) { return true; }
void Control::endTracking(const Touch*, const Event*) {}

void Control::touchesBegan(const TouchSet& touches, const Event* event) {
    if (touches.empty() || !enabled_) return;
    const Touch& t = *touches.front();
    tracking_ = beginTracking(t, event);
    inside_ = true;
    setHighlighted(true);
    sendActionsForControlEvents(t.tapCount > 1 ? (kTouchDown | kTouchDownRepeat) : kTouchDown, event);
}

void Control::touchesMoved(const TouchSet& touches, const Event* event) {
    if (touches.empty()) return;
    const Touch& t = *touches.front();
    Point p = t.locationInView(this);
    bool inside = bounds().insetBy(-kTouchSlop, -kTouchSlop).contains(p);
    if (tracking_) tracking_ = continueTracking(t, event);
    unsigned ev = inside ? kTouchDragInside : kTouchDragOutside;
    if (inside != inside_) ev |= inside ? kTouchDragEnter : kTouchDragExit;
    inside_ = inside;
    setHighlighted(inside);
    sendActionsForControlEvents(ev, event);
}

void Control::touchesEnded(const TouchSet& touches, const Event* event) {
    if (touches.empty()) return;
    const Touch& t = *touches.front();
    Point p = t.locationInView(this);
    bool inside = bounds().insetBy(-kTouchSlop, -kTouchSlop).contains(p);
    if (tracking_) endTracking(&t, event);
    tracking_ = false;
    setHighlighted(false);
    sendActionsForControlEvents(inside ? (kTouchUpInside | kPrimaryActionTriggered) : kTouchUpOutside, event);
}

void Control::touchesCancelled(const TouchSet&, const Event* event) {
    if (tracking_) endTracking(nullptr, event);
    tracking_ = false;
    setHighlighted(false);
    sendActionsForControlEvents(kTouchCancel, event);
}

std::string Control::outlineState() const {
    std::string s;
    if (!enabled_) s += "disabled ";
    if (selected_) s += "selected ";
    if (highlighted_) s += "highlighted ";
    if (!s.empty()) s.pop_back();
    return s;
}

// ---- Label

void Label::setAttributedText(std::optional<AttributedString> text) {
    std::string plain = text ? text->string() : std::string();
    setText(std::move(plain));
    attributed_ = std::move(text);
}

void Label::setText(std::string text) {
    attributed_.reset();
    text_ = std::move(text);
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

Size Label::sizeThatFits(Size size) const {
    double width = size.width > 0 ? size.width : 0;
    Size s = textMeasurer().measure(text_, font, width, numberOfLines, lineBreakMode);
    return {std::ceil(s.width), std::ceil(s.height)};
}

Size Label::intrinsicContentSize() const {
    Size s = textMeasurer().measure(text_, font, preferredMaxLayoutWidth, numberOfLines, lineBreakMode);
    return {std::ceil(s.width), std::ceil(s.height)};
}

// ---- Image view

ImageView::ImageView(ImagePtr image) : image_(std::move(image)) {
    setUserInteractionEnabled(false);
    if (image_) setFrame(Rect({0, 0}, image_->size()));
}

void ImageView::setImage(ImagePtr image) {
    image_ = std::move(image);
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

std::string ImageView::outlineText() const {
    const ImagePtr& shown = highlighted_ && highlightedImage_ ? highlightedImage_ : image_;
    return shown ? "image:" + shown->name() : std::string();
}

// ---- Button

Button::Button(ButtonType type) : type_(type) {
    titleLabel_ = std::make_shared<Label>();
    imageView_ = std::make_shared<ImageView>();
    titleLabel_->font = Font::system(type == ButtonType::System ? 15 : 18);
    addSubview(imageView_);
    addSubview(titleLabel_);
    if (type == ButtonType::ContactAdd || type == ButtonType::InfoDark || type == ButtonType::InfoLight ||
        type == ButtonType::DetailDisclosure)
        setFrame(Rect(0, 0, 22, 22));
    if (type == ButtonType::System) setTitleColor(tintColor(), kStateNormal);
}

template <class T>
std::optional<T> Button::lookup(const std::map<unsigned, T>& m, unsigned state) {
    auto it = m.find(state);
    if (it != m.end()) return it->second;
    // Selected+highlighted falls back to selected, then to normal.
    if (state == (kStateSelected | kStateHighlighted))
        if (auto s = m.find(kStateSelected); s != m.end()) return s->second;
    if (auto n = m.find(kStateNormal); n != m.end()) return n->second;
    return std::nullopt;
}

void Button::setTitle(std::optional<std::string> title, unsigned state) {
    if (title)
        titles_[state] = *title;
    else
        titles_.erase(state);
    refresh();
}

std::optional<std::string> Button::titleForState(unsigned state) const { return lookup(titles_, state); }

void Button::setAttributedTitle(std::optional<AttributedString> title, unsigned state) {
    if (title)
        attributedTitles_[state] = *title;
    else
        attributedTitles_.erase(state);
    refresh();
}

std::optional<AttributedString> Button::attributedTitleForState(unsigned state) const {
    return lookup(attributedTitles_, state);
}

std::optional<std::string> Button::currentTitle() const {
    if (auto a = attributedTitleForState(state())) return a->string();
    return titleForState(state());
}

void Button::setTitleColor(std::optional<Color> color, unsigned state) {
    if (color)
        titleColors_[state] = *color;
    else
        titleColors_.erase(state);
    refresh();
}

std::optional<Color> Button::titleColorForState(unsigned state) const { return lookup(titleColors_, state); }

void Button::setImage(ImagePtr image, unsigned state) {
    if (image)
        images_[state] = std::move(image);
    else
        images_.erase(state);
    refresh();
}

ImagePtr Button::imageForState(unsigned state) const { return lookup(images_, state).value_or(nullptr); }

void Button::setBackgroundImage(ImagePtr image, unsigned state) {
    if (image)
        backgrounds_[state] = std::move(image);
    else
        backgrounds_.erase(state);
    refresh();
}

ImagePtr Button::backgroundImageForState(unsigned state) const { return lookup(backgrounds_, state).value_or(nullptr); }

void Button::setEnabled(bool e) {
    Control::setEnabled(e);
    refresh();
}
void Button::setSelected(bool s) {
    Control::setSelected(s);
    refresh();
}
void Button::setHighlighted(bool h) {
    Control::setHighlighted(h);
    refresh();
}

void Button::refresh() {
    if (auto a = attributedTitleForState(state()))
        titleLabel_->setAttributedText(*a);
    else
        titleLabel_->setText(titleForState(state()).value_or(""));
    if (auto c = titleColorForState(state())) titleLabel_->textColor = *c;
    imageView_->setImage(currentImage());
    setNeedsLayout();
}

Size Button::sizeThatFits(Size) const {
    Size t = titleLabel_->text().empty() ? Size{} : titleLabel_->sizeThatFits({});
    Size i = imageView_->image() ? imageView_->image()->size() : Size{};
    double w = t.width + i.width + contentEdgeInsets.left + contentEdgeInsets.right;
    double h = std::max(t.height, i.height) + contentEdgeInsets.top + contentEdgeInsets.bottom;
    if (type_ == ButtonType::System) h = std::max(h, 30.0);
    return {w, h};
}

void Button::layoutSubviews() {
    Rect content = bounds().inset(contentEdgeInsets);
    Size i = imageView_->image() ? imageView_->image()->size() : Size{};
    Size t = titleLabel_->text().empty() ? Size{} : titleLabel_->sizeThatFits({});
    t.width = std::min(t.width, std::max(0.0, content.width() - i.width));
    double total = i.width + t.width;
    double x = content.minX() + (content.width() - total) / 2;
    if (contentHorizontalAlignment == ContentHorizontalAlignment::Left) x = content.minX();
    if (contentHorizontalAlignment == ContentHorizontalAlignment::Right) x = content.maxX() - total;
    imageView_->setFrame(
        Rect(x, content.minY() + (content.height() - i.height) / 2, i.width, i.height).inset(imageEdgeInsets));
    titleLabel_->setFrame(Rect(x + i.width, content.minY() + (content.height() - t.height) / 2, t.width, t.height)
                              .inset(titleEdgeInsets));
}

std::string Button::outlineText() const {
    if (auto t = currentTitle(); t && !t->empty()) return *t;
    if (auto i = currentImage()) return "image:" + i->name();
    return {};
}

std::string Button::accessibilityLabel() const {
    if (!accessibility().label.empty()) return accessibility().label;
    return currentTitle().value_or("");
}

// ---- Switch

void Switch::applyAppearance() {
    Control::applyAppearance();
    if (!onTintColor) onTintColor = Appearance::get<Color>(*this, "onTintColor");
}

Switch::Switch() { setFrame(Rect(0, 0, 51, 31)); }

void Switch::setOn(bool on, bool) {
    on_ = on;
    setNeedsDisplay();
}

void Switch::endTracking(const Touch* touch, const Event* event) {
    if (!touch || !bounds().insetBy(-kTouchSlop, -kTouchSlop).contains(touch->locationInView(this))) return;
    setOn(!on_, true);
    sendActionsForControlEvents(kValueChanged, event);
}

// ---- Slider

void Slider::setValue(double v, bool) {
    value_ = std::clamp(v, minimumValue, maximumValue);
    setNeedsDisplay();
}

ImagePtr Slider::thumbImageForState(unsigned state) const {
    auto it = thumbs_.find(state);
    if (it != thumbs_.end()) return it->second;
    auto n = thumbs_.find(kStateNormal);
    return n == thumbs_.end() ? nullptr : n->second;
}

void Slider::track(const Touch& touch) {
    double w = bounds().width();
    if (w <= 0) return;
    double f = std::clamp(touch.locationInView(this).x / w, 0.0, 1.0);
    double before = value_;
    setValue(minimumValue + f * (maximumValue - minimumValue));
    if (continuous && value_ != before) sendActionsForControlEvents(kValueChanged);
}

bool Slider::beginTracking(const Touch& t, const Event*) {
    track(t);
    return true;
}
bool Slider::continueTracking(const Touch& t, const Event*) {
    track(t);
    return true;
}
void Slider::endTracking(const Touch* t, const Event*) {
    if (t) track(*t);
    if (!continuous) sendActionsForControlEvents(kValueChanged);
}

std::string Slider::outlineText() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "value=%.3g", value_);
    return buf;
}

// ---- Activity indicator, progress

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorStyle s) : style(s) {
    double side = s == ActivityIndicatorStyle::WhiteLarge || s == ActivityIndicatorStyle::Large ? 37 : 20;
    setFrame(Rect(0, 0, side, side));
    setUserInteractionEnabled(false);
    setHidden(true);
}

void ActivityIndicatorView::setHidesWhenStopped(bool on) {
    hidesWhenStopped_ = on;
    setHidden(on && !animating_);
}

void ActivityIndicatorView::startAnimating() {
    animating_ = true;
    setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
    animating_ = false;
    if (hidesWhenStopped_) setHidden(true);
}

void ProgressView::setProgress(double p, bool animated) {
    const double shown = presentedValue(*this, AnimatedProperty::Progress, progress_);
    progress_ = std::clamp(p, 0.0, 1.0);
    // The bar glides from what it shows now (only where animations are timed).
    if (animated && shown != progress_) {
        PresentationAnimation glide;
        glide.property = AnimatedProperty::Progress;
        glide.from[0] = shown - progress_;
        glide.duration = 0.25;
        addPresentationAnimation(*this, glide);
    }
    setNeedsDisplay();
}

std::string ProgressView::outlineText() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "progress=%.3g", progress_);
    return buf;
}

}  // namespace toolkit
