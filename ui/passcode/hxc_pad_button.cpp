#include "ui/passcode/hxc_pad_button.h"

#include "platform/foundation/format.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/appearance.h"

namespace {

std::shared_ptr<toolkit::Label> padLabel() {
    auto label = std::make_shared<toolkit::Label>();
    label->setTextColor(toolkit::Color::whiteColor());
    label->setBackgroundColor(toolkit::Color::clear());
    label->setTextAlignment(toolkit::TextAlignment::center);
    label->setMinimumScaleFactor(1.0);
    return label;
}

}  // namespace

HXCPadButton::HXCPadButton(const toolkit::Rect& frame, int number, std::optional<std::string> letters)
    : toolkit::Button(toolkit::ButtonType::Custom), number_(number), letters_(letters.value_or("")) {
    setFrame(frame);
    accessibility().value = foundation::format("%ld", static_cast<long>(number));
    accessibility().traits = toolkit::kTraitNone;
    setTag(number);
    layer().borderWidth = 1.5;
    selectedView_ = std::make_shared<toolkit::View>();
    selectedView_->setAlpha(0);
    selectedView_->setUserInteractionEnabled(false);
    addSubview(selectedView_);
    numberLabel_ = padLabel();
    addSubview(numberLabel_);
    lettersLabel_ = padLabel();
    addSubview(lettersLabel_);
    prepareApperance();
}

toolkit::Font HXCPadButton::numberLabelFont() const {
    if (numberLabelFont_) return *numberLabelFont_;
    return toolkit::Font::named("HelveticaNeue-Thin", 35)
        .value_or(toolkit::Font::system(35, toolkit::FontWeight::thin));
}

toolkit::Font HXCPadButton::letterLabelFont() const {
    if (letterLabelFont_) return *letterLabelFont_;
    return toolkit::Font::named("HelveticaNeue", 10).value_or(toolkit::Font::system(10));
}

void HXCPadButton::applyAppearance() {
    toolkit::Button::applyAppearance();
    using toolkit::Appearance;
    if (!borderColor_) borderColor_ = Appearance::get<toolkit::Color>(*this, "borderColor");
    if (!selectedColor_) selectedColor_ = Appearance::get<toolkit::Color>(*this, "selectedColor");
    if (!textColor_) textColor_ = Appearance::get<toolkit::Color>(*this, "textColor");
    if (!hightlightedTextColor_)
        hightlightedTextColor_ = Appearance::get<toolkit::Color>(*this, "hightlightedTextColor");
    if (!numberLabelFont_) numberLabelFont_ = Appearance::get<toolkit::Font>(*this, "numberLabelFont");
    if (!letterLabelFont_) letterLabelFont_ = Appearance::get<toolkit::Font>(*this, "letterLabelFont");
    prepareApperance();
}

void HXCPadButton::prepareApperance() {
    selectedView_->setBackgroundColor(selectedColor());
    layer().borderColor = borderColor();
    numberLabel_->setText(foundation::format("%ld", static_cast<long>(number_)));
    numberLabel_->setFont(numberLabelFont());
    numberLabel_->setTextColor(textColor());
    numberLabel_->setHighlightedTextColor(hightlightedTextColor());
    toolkit::TextAttributes letters;
    letters.font = letterLabelFont();
    letters.color = textColor();
    letters.kern = 2;
    lettersLabel_->setAttributedText(toolkit::AttributedString(letters_, letters));
    lettersLabel_->setFont(letterLabelFont());
    lettersLabel_->setTextColor(textColor());
    lettersLabel_->setHighlightedTextColor(hightlightedTextColor());
    setNeedsDisplay();
}

void HXCPadButton::layoutSubviews() {
    toolkit::Button::layoutSubviews();
    prepareApperance();
    const double w = bounds().size.width, h = bounds().size.height;
    selectedView_->setFrame(bounds());
    numberLabel_->setFrame({0, h / 5, w, h / 2.5});
    if (number_ == 0) numberLabel_->setCenter({numberLabel_->center().x, h / 2 - 1});
    const auto numberFrame = numberLabel_->frame();
    lettersLabel_->setFrame({0, numberFrame.origin.y + numberFrame.size.height + 3, w, 10});
}

void HXCPadButton::setHighlighted(bool highlighted) {
    const bool was = isHighlighted();
    toolkit::Button::setHighlighted(highlighted);
    if (was == highlighted) return;
    auto fill = selectedView_;
    auto number = numberLabel_, letters = lettersLabel_;
    const unsigned options =
        toolkit::kAnimationCurveEaseIn | (highlighted ? 0u : unsigned{toolkit::kAnimationAllowUserInteraction});
    toolkit::animate(0.15, 0, options, [fill, number, letters, highlighted] {
        fill->setAlpha(highlighted ? 1 : 0);
        number->setHighlighted(highlighted);
        letters->setHighlighted(highlighted);
    });
}

std::string HXCPadButton::outlineText() const {
    return letters_.empty() ? numberLabel_->text() : numberLabel_->text() + " " + letters_;
}
