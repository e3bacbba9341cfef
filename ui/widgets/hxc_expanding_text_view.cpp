#include "ui/widgets/hxc_expanding_text_view.h"

#include <cmath>

#include "platform/graphics/named_images.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/text_metrics.h"
#include "platform/toolkit/traits.h"

namespace {

using toolkit::EdgeInsets;
using toolkit::Rect;

constexpr double kInsetTop = -4;
constexpr double kInsetBottom = -4;
// The field picture's edge is a one-point line all round. The inner text view lies inside it, so
// that its clip (its bounds) is the inside of the field and a line half scrolled away is cut there,
// not over the edge; its text container's top and bottom insets are as much smaller, so the text,
// its caret and where it scrolls to stand where they would with the view over the whole picture.
constexpr double kFieldEdge = 1;

// The field's drawing is light; in the dark appearance (system 13 and later) its shape is filled
// with a dark grey instead, so that the text, in the label colour, stays readable.
graphics::ImagePtr fieldBackground(toolkit::InterfaceStyle style) {
    auto image = graphics::imageNamed("textbg");
    if (!image) return nullptr;
    image = image->stretchable(6, 13);
    if (style == toolkit::InterfaceStyle::dark && toolkit::Device::current().systemVersionAtLeast(13))
        image = image->withTintColor(toolkit::Color::systemGray5());
    return image;
}

}  // namespace

// ---- the inner text view

void HXCExpandingTextViewInternal::setContentOffset(toolkit::Point offset, bool animated) {
    if (isDragging() || isDecelerating()) {
        setContentInset({kInsetTop, 0, 0, 0});
    } else {
        const float bottom = static_cast<float>(contentSize().height - frame().size.height + contentInset().bottom);
        if (offset.y < bottom && isScrollEnabled()) setContentInset({kInsetTop, 0, kInsetBottom, 0});
    }
    TextView::setContentOffset(offset, animated);
}

void HXCExpandingTextViewInternal::setContentInset(const EdgeInsets& insets) {
    EdgeInsets adjusted = insets;
    adjusted.top = kInsetTop;
    if (adjusted.bottom > 12) adjusted.bottom = 4;
    TextView::setContentInset(adjusted);
}

// ---- the expanding view

std::string HXCExpandingTextView::lineProbe(int lines) {
    std::string probe = "-";
    for (int i = 1; i < lines; ++i) probe += "\n|W|";
    return probe;
}

std::shared_ptr<HXCExpandingTextView> HXCExpandingTextView::make(const Rect& frame) {
    auto view = std::make_shared<HXCExpandingTextView>(MadeByMake{}, frame);
    view->setUp(frame);
    return view;
}

HXCExpandingTextView::HXCExpandingTextView(MadeByMake, const Rect& frame) : View(frame) {}

HXCExpandingTextView::~HXCExpandingTextView() {
    if (internal_) internal_->delegate.reset();
}

void HXCExpandingTextView::setUp(const Rect& frame) {
    forceSizeUpdate_ = false;
    setAutoresizingMask(toolkit::kFlexibleWidth);

    const Rect r(0, 0, frame.size.width, frame.size.height + 2);
    internal_ = std::make_shared<HXCExpandingTextViewInternal>(r.inset({kFieldEdge, 4, kFieldEdge, 4}));
    internal_->delegate = std::static_pointer_cast<HXCExpandingTextView>(self());
    internal_->setFont(toolkit::Font::system(15));
    EdgeInsets container = internal_->textContainerInset();
    container.top -= kFieldEdge;
    container.bottom -= kFieldEdge;
    internal_->setTextContainerInset(container);
    internal_->setContentInset({kInsetTop, 0, kInsetBottom, 0});
    internal_->setScrollEnabled(true);
    internal_->setOpaque(false);
    internal_->setBackgroundColor(toolkit::Color::clear());
    internal_->showsHorizontalScrollIndicator = false;
    internal_->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    internal_->setContentMode(toolkit::ContentMode::Redraw);
    internal_->setTextContainerSize(
        {internal_->bounds().width(), HXCExpandingTextViewInternal::kUnboundedContainerHeight});

    placeholderLabel_ =
        std::make_shared<toolkit::Label>(Rect(8, 6 - kFieldEdge, bounds().width() - 16, bounds().height()));
    placeholderLabel_->setText(placeholder_);
    placeholderLabel_->setFont(internal_->font());
    placeholderLabel_->setBackgroundColor(toolkit::Color::clear());
    placeholderLabel_->setTextColor(toolkit::Device::current().systemVersionAtLeast(13)
                                        ? toolkit::Color::secondaryLabel()
                                        : toolkit::Color::gray());
    placeholderLabel_->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    internal_->addSubview(placeholderLabel_);

    background_ = std::make_shared<toolkit::ImageView>(fieldBackground(traitCollection().style));
    background_->setFrame(r);
    background_->setContentMode(toolkit::ContentMode::ScaleToFill);
    background_->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    addSubview(background_);
    addSubview(internal_);

    setMinimumNumberOfLines(1);
    animateHeightChange_ = false;
    internal_->setText("");
    setMaximumNumberOfLines(13);
    sizeToFit();
}

void HXCExpandingTextView::traitCollectionDidChange(const toolkit::TraitCollection& previous) {
    View::traitCollectionDidChange(previous);
    if (!toolkit::Device::current().systemVersionAtLeast(13)) return;
    if (previous.style != traitCollection().style) background_->setImage(fieldBackground(traitCollection().style));
}

double HXCExpandingTextView::internalTextViewContentHeight() const { return heightOfText(internal_->text()); }

double HXCExpandingTextView::heightOfText(std::string text) const {
    if (!text.empty() && text.back() == '\n') text += "-";
    toolkit::TextLayoutOptions options;
    options.width = internal_->textContainerWidth(internal_->bounds().width());
    options.lineBreakMode = toolkit::LineBreakMode::wordWrap;
    const toolkit::TextBox box = toolkit::textMeasurer().layout(
        toolkit::AttributedString(text, toolkit::TextAttributes{internal_->font(), internal_->textColor()}), options);
    return std::ceil(static_cast<float>(box.size.height));
}

int HXCExpandingTextView::numberOfLines() const {
    const float lineHeight = static_cast<float>(toolkit::textMeasurer().lineHeight(internal_->font()));
    return static_cast<int>(std::floor(static_cast<float>(internal_->contentSize().height) / lineHeight));
}

int HXCExpandingTextView::measureLines(int lines) const {
    // Measured beside the text view, not in it: putting the probe into the view would take the
    // focus from it (a hidden view cannot keep it) and tell its delegate of edits nobody made.
    return static_cast<int>(std::ceil(heightOfText(lineProbe(lines))));
}

void HXCExpandingTextView::setMaximumNumberOfLines(int lines) {
    const int before = maximumHeight_;
    maximumHeight_ = measureLines(lines);
    maximumNumberOfLines_ = lines;
    sizeToFit();
    if (maximumHeight_ != before) {
        forceSizeUpdate_ = true;
        textViewDidChange(*internal_);
    }
}

void HXCExpandingTextView::setMinimumNumberOfLines(int lines) {
    minimumHeight_ = measureLines(lines);
    minimumNumberOfLines_ = lines;
    sizeToFit();
}

toolkit::Size HXCExpandingTextView::sizeThatFits(toolkit::Size) const {
    const toolkit::Size now = bounds().size;
    if (!internal_ || !internal_->text().empty()) return now;
    return {now.width, static_cast<double>(minimumHeight_) + 6};
}

void HXCExpandingTextView::setText(const std::string& text) {
    internal_->setText(text);
    textViewDidChange(*internal_);
}

void HXCExpandingTextView::clearText() {
    setText("");
    textViewDidChange(*internal_);
}

void HXCExpandingTextView::setFont(const toolkit::Font& font) {
    internal_->setFont(font);
    placeholderLabel_->setFont(font);
    setMaximumNumberOfLines(maximumNumberOfLines_);
    setMinimumNumberOfLines(minimumNumberOfLines_);
}

void HXCExpandingTextView::setPlaceholder(const std::string& placeholder) {
    placeholder_ = placeholder;
    placeholderLabel_->setText(placeholder);
    internal_->accessibility().label = placeholder;
}

void HXCExpandingTextView::setPlaceHolderAlpha(double alpha) { placeholderLabel_->setAlpha(alpha); }

bool HXCExpandingTextView::resignFirstResponder() {
    View::resignFirstResponder();
    const bool answer = internal_->resignFirstResponder();
    if (!internal_->hasText()) placeholderLabel_->setAlpha(1);
    return answer;
}

void HXCExpandingTextView::growDidStop() {
    if (auto d = owner()) d->expandingTextViewDidChangeHeight(*this, static_cast<float>(frame().size.height));
}

// ---- as the inner text view's delegate

bool HXCExpandingTextView::textViewShouldBeginEditing(toolkit::TextView&) {
    auto d = owner();
    return !d || d->expandingTextViewShouldBeginEditing(*this);
}

bool HXCExpandingTextView::textViewShouldEndEditing(toolkit::TextView&) {
    auto d = owner();
    return !d || d->expandingTextViewShouldEndEditing(*this);
}

void HXCExpandingTextView::textViewDidBeginEditing(toolkit::TextView&) {
    if (auto d = owner()) d->expandingTextViewDidBeginEditing(*this);
}

void HXCExpandingTextView::textViewDidEndEditing(toolkit::TextView&) {
    if (auto d = owner()) d->expandingTextViewDidEndEditing(*this);
}

void HXCExpandingTextView::textViewDidChangeSelection(toolkit::TextView&) {
    if (auto d = owner()) d->expandingTextViewDidChangeSelection(*this);
}

bool HXCExpandingTextView::shouldChangeTextInRange(toolkit::TextView&, toolkit::Range range,
                                                   const std::string& replacement) {
    if (!internal_->hasText() && replacement.empty()) return false;
    auto d = owner();
    if (!d) return true;
    if (auto answer = d->expandingTextViewShouldChangeTextInRange(*this, range, replacement)) return *answer;
    if (replacement == "\n") {
        if (auto answer = d->expandingTextViewShouldReturn(*this)) {
            if (*answer) {
                internal_->resignFirstResponder();
                return false;
            }
        }
    }
    return true;
}

void HXCExpandingTextView::textViewDidChange(toolkit::TextView&) {
    placeholderLabel_->setAlpha(!internal_->hasText() && !internal_->isFirstResponder() ? 1 : 0);

    int newHeight = static_cast<int>(internalTextViewContentHeight());
    if (newHeight < minimumHeight_ || !internal_->hasText()) newHeight = minimumHeight_;

    if (newHeight > maximumHeight_) {
        if (internal_->textContainerSize().height < newHeight + 6) {
            internal_->setTextContainerSize({internal_->contentSize().width, static_cast<double>(newHeight) + 6});
            internal_->setContentOffset({0, static_cast<double>(newHeight - maximumHeight_ - 6)});
        }
        if (internal_->frame().size.height <= maximumHeight_) newHeight = maximumHeight_;
    }

    if (internal_->frame().size.height != newHeight || forceSizeUpdate_) {
        forceSizeUpdate_ = false;
        if (newHeight <= maximumHeight_) {
            applyHeight(static_cast<double>(newHeight) + 6);
            return;
        }
    }
    keepCaretInSight();
    if (auto d = owner()) d->expandingTextViewDidChange(*this);
}

void HXCExpandingTextView::keepCaretInSight() {
    if (internal_->isFirstResponder()) internal_->scrollRangeToVisible(internal_->selectedRange());
}

void HXCExpandingTextView::applyHeight(double h) {
    std::weak_ptr<HXCExpandingTextView> weak = std::static_pointer_cast<HXCExpandingTextView>(self());
    auto change = [this, h] {
        if (auto d = owner()) d->expandingTextViewWillChangeHeight(*this, static_cast<float>(h));
        const Rect f = frame();
        setFrame({f.origin.x, f.origin.y, f.size.width, h});
        internal_->setTextContainerSize({bounds().width(), h});
        // The whole text fits at this height: it shows from its first line (a scroll kept from a
        // taller text, or from before the width changed, would cut the first lines off).
        if (internalTextViewContentHeight() <= h - 6 && internal_->contentOffset().y > -internal_->contentInset().top)
            internal_->setContentOffset({0, -internal_->contentInset().top});
        keepCaretInSight();
    };
    auto completion = [weak, h](bool) {
        auto view = weak.lock();
        if (!view) return;
        if (auto d = view->owner()) {
            d->expandingTextViewDidChangeHeight(*view, static_cast<float>(h));
            d->expandingTextViewDidChange(*view);
        }
    };
    if (animateHeightChange_) {
        toolkit::animate(kHeightAnimationDuration, 0, toolkit::kAnimationBeginFromCurrentState, change, completion);
    } else {
        change();
        completion(true);
    }
}
