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
    text_ = text ? text->string() : std::string();
    attributed_ = std::move(text);
    textPropertyDidChange(true);
}

void Label::setText(std::string text) {
    if (!attributed_ && text == text_) return;
    attributed_.reset();
    text_ = std::move(text);
    textPropertyDidChange(true);
}

void Label::textPropertyDidChange(bool affectsSize) {
    ++textRevision_;
    if (affectsSize) {
        invalidateIntrinsicContentSize();
        // The superview may size or place the label by its text.
        if (superview()) superview()->setNeedsLayout();
    }
    setNeedsDisplay();
}

void Label::setFont(Font font) {
    if (font == font_) return;
    font_ = std::move(font);
    textPropertyDidChange(true);
}

void Label::setTextColor(Color color) {
    textColor_ = std::move(color);
    textPropertyDidChange(false);
}

void Label::setHighlightedTextColor(std::optional<Color> color) {
    highlightedTextColor_ = std::move(color);
    textPropertyDidChange(false);
}

void Label::setHighlighted(bool highlighted) {
    if (highlighted == highlighted_) return;
    highlighted_ = highlighted;
    textPropertyDidChange(false);
}

void Label::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    textPropertyDidChange(false);
}

void Label::setTextAlignment(TextAlignment alignment) {
    if (alignment == textAlignment_) return;
    textAlignment_ = alignment;
    textPropertyDidChange(false);
}

void Label::setLineBreakMode(LineBreakMode mode) {
    if (mode == lineBreakMode_) return;
    lineBreakMode_ = mode;
    textPropertyDidChange(true);
}

void Label::setNumberOfLines(int lines) {
    lines = std::max(0, lines);
    if (lines == numberOfLines_) return;
    numberOfLines_ = lines;
    textPropertyDidChange(true);
}

void Label::setPreferredMaxLayoutWidth(double width) {
    if (width == preferredMaxLayoutWidth_) return;
    preferredMaxLayoutWidth_ = width;
    textPropertyDidChange(true);
}

void Label::setAdjustsFontSizeToFitWidth(bool adjusts) {
    if (adjusts == adjustsFontSizeToFitWidth_) return;
    adjustsFontSizeToFitWidth_ = adjusts;
    textPropertyDidChange(true);
}

void Label::setMinimumScaleFactor(double factor) {
    factor = std::clamp(factor, 0.0, 1.0);
    if (factor == minimumScaleFactor_) return;
    minimumScaleFactor_ = factor;
    textPropertyDidChange(true);
}

AttributedString Label::displayedText(double width) const {
    std::optional<Color> over;
    if (highlighted_ && highlightedTextColor_) over = *highlightedTextColor_;
    if (!enabled_) over = Color::systemGray();
    AttributedString out;
    if (attributed_) {
        for (const AttributedString::Run& run : attributed_->runs()) {
            TextAttributes a = run.attributes;
            if (over) a.color = *over;
            out.append(attributed_->string().substr(run.start, run.length), a);
        }
    } else {
        TextAttributes a;
        a.font = font_;
        a.color = over.value_or(textColor_);
        out = AttributedString(text_, a);
    }
    // One line too wide for the width shrinks as far as the minimum scale factor allows.
    if (adjustsFontSizeToFitWidth_ && numberOfLines_ == 1 && width > 0 && !text_.empty()) {
        const double natural = textMeasurer().layout(out, {}).size.width;
        if (natural > width) {
            const double scale =
                std::max(std::min(1.0, minimumScaleFactor_ > 0 ? minimumScaleFactor_ : 0.01), width / natural);
            AttributedString scaled;
            for (const AttributedString::Run& run : out.runs()) {
                TextAttributes a = run.attributes;
                a.font = a.font.withSize(a.font.pointSize() * scale);
                scaled.append(out.string().substr(run.start, run.length), a);
            }
            out = std::move(scaled);
        }
    }
    return out;
}

const TextBox& Label::textBox(double width) const {
    const TextMeasurer* measurer = &textMeasurer();
    if (keptBox_ && keptBox_->revision == textRevision_ && keptBox_->measurer == measurer &&
        (keptBox_->width == width || (std::isnan(width) && std::isnan(keptBox_->width))))
        return *keptBox_->box;
    std::shared_ptr<const TextBox> box;
    if (!text_.empty()) {
        TextLayoutOptions options;
        options.width = width;
        options.maximumLines = numberOfLines_;
        options.lineBreakMode = lineBreakMode_;
        options.alignment = textAlignment_;
        box = measurer->sharedLayout(displayedText(width), options);
    } else {
        static const auto kNone = std::make_shared<const TextBox>();
        box = kNone;
    }
    keptBox_ = KeptBox{textRevision_, measurer, width, std::move(box)};
    return *keptBox_->box;
}

Size Label::sizeThatFits(Size size) const {
    const Size s = textBox(size.width > 0 ? size.width : 0).size;
    return {std::ceil(s.width), std::ceil(s.height)};
}

Size Label::intrinsicContentSize() const {
    const Size s = textBox(preferredMaxLayoutWidth_).size;
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

namespace {
// The types that draw a circled glyph of their own ("i", "+"), 22 points across.
constexpr double kGlyphButtonSide = 22;
bool drawsGlyph(ButtonType type) {
    return type == ButtonType::ContactAdd || type == ButtonType::InfoDark || type == ButtonType::InfoLight ||
           type == ButtonType::DetailDisclosure;
}
}  // namespace

Button::Button(ButtonType type) : type_(type) {
    titleLabel_ = std::make_shared<Label>();
    imageView_ = std::make_shared<ImageView>();
    titleLabel_->setFont(Font::system(type == ButtonType::System ? 15 : 18));
    addSubview(imageView_);
    addSubview(titleLabel_);
    if (drawsGlyph(type)) setFrame(Rect(0, 0, kGlyphButtonSide, kGlyphButtonSide));
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
    if (auto c = titleColorForState(state())) {
        // A system button drawn disabled fades its title as a disabled bar button does, unless it
        // was given a colour of its own for that state.
        Color colour = *c;
        if (type_ == ButtonType::System && !isEnabled() && !titleColors_.count(kStateDisabled))
            colour = colour.withAlphaComponent(colour.alpha() * kDisabledAlpha);
        titleLabel_->setTextColor(colour);
    }
    imageView_->setImage(currentImage());
    setNeedsLayout();
}

void Button::setContentEdgeInsets(const EdgeInsets& insets) {
    contentEdgeInsets_ = insets;
    invalidateIntrinsicContentSize();
    if (superview()) superview()->setNeedsLayout();
}

void Button::setTitleEdgeInsets(const EdgeInsets& insets) {
    titleEdgeInsets_ = insets;
    setNeedsLayout();
}

void Button::setImageEdgeInsets(const EdgeInsets& insets) {
    imageEdgeInsets_ = insets;
    setNeedsLayout();
}

Size Button::sizeThatFits(Size) const {
    Size t = titleLabel_->text().empty() ? Size{} : titleLabel_->sizeThatFits({});
    Size i = imageView_->image() ? imageView_->image()->size() : Size{};
    double w = t.width + i.width + contentEdgeInsets_.left + contentEdgeInsets_.right;
    double h = std::max(t.height, i.height) + contentEdgeInsets_.top + contentEdgeInsets_.bottom;
    if (type_ == ButtonType::System) h = std::max(h, 30.0);
    // Sized to fit, a glyph button keeps room for its glyph.
    if (drawsGlyph(type_)) w = std::max(w, kGlyphButtonSide), h = std::max(h, kGlyphButtonSide);
    return {w, h};
}

void Button::layoutSubviews() {
    Rect content = bounds().inset(contentEdgeInsets_);
    Size i = imageView_->image() ? imageView_->image()->size() : Size{};
    Size t = titleLabel_->text().empty() ? Size{} : titleLabel_->sizeThatFits({});
    t.width = std::min(t.width, std::max(0.0, content.width() - i.width));
    double total = i.width + t.width;
    double x = content.minX() + (content.width() - total) / 2;
    if (contentHorizontalAlignment == ContentHorizontalAlignment::Left) x = content.minX();
    if (contentHorizontalAlignment == ContentHorizontalAlignment::Right) x = content.maxX() - total;
    imageView_->setFrame(
        Rect(x, content.minY() + (content.height() - i.height) / 2, i.width, i.height).inset(imageEdgeInsets_));
    titleLabel_->setFrame(Rect(x + i.width, content.minY() + (content.height() - t.height) / 2, t.width, t.height)
                              .inset(titleEdgeInsets_));
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

namespace {
int gSpinning = 0;
}  // namespace

ActivityIndicatorView::~ActivityIndicatorView() {
    if (animating_) --gSpinning;
}

int ActivityIndicatorView::spinning() { return gSpinning; }

void ActivityIndicatorView::setHidesWhenStopped(bool on) {
    hidesWhenStopped_ = on;
    setHidden(on && !animating_);
}

void ActivityIndicatorView::startAnimating() {
    if (!animating_) ++gSpinning;
    animating_ = true;
    setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
    if (animating_) --gSpinning;
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
