#include "ui/passcode/hxc_pad_lock_screen_view.h"

#include <cmath>

#include "app/views.h"
#include "platform/toolkit/animation.h"
#include "platform/toolkit/appearance.h"
#include "platform/toolkit/traits.h"

namespace {

constexpr double kKeySize = 75;
constexpr double kColumnGap = 20;
constexpr double kRowStep = 85;
constexpr double kDotSize = 10, kDotGap = 25, kDotDiameter = 15;
// The content area of a tablet's pad, centred in whatever size the pad has.
constexpr double kTabletWidth = 320, kTabletHeight = 568;

double mainScreenHeight() { return toolkit::Device::current().screen().size.height; }

std::shared_ptr<toolkit::Label> standardLabel() {
    auto label = std::make_shared<toolkit::Label>();
    label->setBackgroundColor(toolkit::Color::clear());
    label->setTextAlignment(toolkit::TextAlignment::center);
    return label;
}

std::shared_ptr<toolkit::Button> systemButton(const std::string& title, toolkit::ContentHorizontalAlignment align) {
    auto button = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    button->setTitle(title, toolkit::kStateNormal);
    button->contentHorizontalAlignment = align;
    return button;
}

}  // namespace

void HXCPadLockScreenView::applyAppTheme() {
    using toolkit::Appearance;
    using toolkit::Color;
    auto& pad = Appearance::of<HXCPadLockScreenView>();
    pad.set("backgroundColor", Color::systemBlue());
    pad.set("labelColor", Color::whiteColor());
    auto& key = Appearance::of<HXCPadButton>();
    key.set("backgroundColor", Color::clear());
    key.set("borderColor", Color::whiteColor());
    key.set("selectedColor", Color::whiteColor());
    key.set("textColor", Color::whiteColor());
    key.set("hightlightedTextColor", Color::systemBlue());
    key.set("letterLabelFont", toolkit::Font::system(10, toolkit::FontWeight::ultraLight));
    Appearance::of<HXCPinSelectionView>().set("selectedColor", Color::whiteColor());
}

HXCPadLockScreenView::HXCPadLockScreenView(const toolkit::Rect& frame, bool complexPin,
                                           std::optional<std::string> biometricIDName)
    : toolkit::View(frame), complexPin_(complexPin) {
    // The content area: the tablet keeps the phone's layout, centred.
    const toolkit::Size size =
        toolkit::Device::current().isPad() ? toolkit::Size{kTabletWidth, kTabletHeight} : frame.size;
    contentView_ = std::make_shared<toolkit::View>(toolkit::Rect{{0, 0}, size});
    contentView_->setOpaque(false);
    contentView_->setAutoresizingMask(toolkit::kFlexibleLeftMargin | toolkit::kFlexibleRightMargin |
                                      toolkit::kFlexibleTopMargin | toolkit::kFlexibleBottomMargin);
    contentView_->setCenter({frame.size.width / 2, frame.size.height / 2});
    addSubview(contentView_);

    enterPasscodeLabel_ = standardLabel();
    enterPasscodeLabel_->setText("Enter Passcode");
    detailLabel_ = standardLabel();
    contentView_->addSubview(enterPasscodeLabel_);
    contentView_->addSubview(detailLabel_);

    static const char* const kLetters[10] = {nullptr, nullptr, "ABC",  "DEF", "GHI",
                                             "JKL",   "MNO",   "PQRS", "TUV", "WXYZ"};
    for (int digit = 0; digit < 10; ++digit) {
        std::optional<std::string> letters;
        if (kLetters[digit]) letters = kLetters[digit];
        buttons_[digit] = std::make_shared<HXCPadButton>(toolkit::Rect{}, digit, letters);
    }

    cancelButton_ = systemButton("Cancel", toolkit::ContentHorizontalAlignment::Right);
    cancelButton_->setContentEdgeInsets({0, 0, 0, 30});
    deleteButton_ = systemButton("Delete", toolkit::ContentHorizontalAlignment::Right);
    deleteButton_->setContentEdgeInsets({0, 0, 0, 30});
    deleteButton_->setAlpha(0);
    okButton_ = systemButton("OK", toolkit::ContentHorizontalAlignment::Left);
    okButton_->setAlpha(0);

    if (biometricIDName) {
        biometricIDButton_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
        auto image = hxBarImageNamed(*biometricIDName);
        biometricIDButton_->setBackgroundImage(image->withRenderingMode(toolkit::RenderingMode::alwaysTemplate),
                                               toolkit::kStateNormal);
        biometricIDButton_->setTintColor(toolkit::Color::whiteColor());
        biometricIDButton_->accessibility().label = *biometricIDName;
        biometricIDButton_->setAlpha(0);
    }

    if (complexPin_) {
        digitsTextField_ = std::make_shared<toolkit::TextField>();
        digitsTextField_->setEnabled(false);
        digitsTextField_->setSecureTextEntry(true);
        digitsTextField_->setTextAlignment(toolkit::TextAlignment::center);
        digitsTextField_->setBorderStyle(toolkit::TextBorderStyle::None);
        digitsTextField_->layer().borderWidth = 1.0;
        digitsTextField_->layer().cornerRadius = 5.0;
        contentView_->addSubview(digitsTextField_);
        contentView_->addSubview(okButton_);
    } else {
        for (int i = 0; i < 4; ++i) digits_.push_back(std::make_shared<HXCPinSelectionView>());
        for (auto& dot : digits_) contentView_->addSubview(dot);
    }
}

void HXCPadLockScreenView::setBackgroundView(std::shared_ptr<toolkit::View> view) {
    if (backgroundView_) backgroundView_->removeFromSuperview();
    backgroundView_ = std::move(view);
    if (!backgroundView_) return;
    backgroundView_->setFrame(bounds());
    backgroundView_->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    insertSubviewBelow(backgroundView_, contentView_.get());
}

void HXCPadLockScreenView::applyAppearance() {
    toolkit::View::applyAppearance();
    using toolkit::Appearance;
    if (!enterFont_) enterFont_ = Appearance::get<toolkit::Font>(*this, "enterPasscodeLabelFont");
    if (!detailFont_) detailFont_ = Appearance::get<toolkit::Font>(*this, "detailLabelFont");
    if (!deleteCancelFont_) deleteCancelFont_ = Appearance::get<toolkit::Font>(*this, "deleteCancelLabelFont");
    if (!labelColor_) labelColor_ = Appearance::get<toolkit::Color>(*this, "labelColor");
    setNeedsLayout();
}

double HXCPadLockScreenView::pinRowY() const {
    const double height = correctHeight();
    // The ceiling is taken in single precision.
    const double top =
        toolkit::Device::current().isPad() ? 80.0 : std::ceil(static_cast<float>((height - 438.0) / 2.0));
    return top + 23 + 17.5;
}

void HXCPadLockScreenView::layoutTitleArea() {
    const double w = correctWidth();
    const double p = pinRowY();
    enterPasscodeLabel_->setFrame({w / 2 - 150, p - 17.5 - 23, 300, 23});
    if (complexPin_) {
        digitsTextField_->setFrame({w / 2 - 76, p - 7.5, 152, 30});
        const auto field = digitsTextField_->frame();
        okButton_->setFrame({field.origin.x + field.size.width + 10, p - 7.5, (w - 152) / 2 - 10, 30});
    } else {
        double x = w / 2 - 57.5;
        for (auto& dot : digits_) {
            // Laid out as 10-point dots, then made round at 15 points from the same origin.
            dot->setFrame({x, p, kDotSize, kDotSize});
            dot->setFrame({x, p, kDotDiameter, kDotDiameter});
            dot->layer().cornerRadius = kDotDiameter / 2;
            dot->setClipsToBounds(true);
            x += kDotSize + kDotGap;
        }
    }
    detailLabel_->setFrame({w / 2 - 150, p + 30, 300, 23});
}

void HXCPadLockScreenView::layoutButtonArea() {
    const double w = correctWidth(), h = correctHeight();
    const double left = w / 2 - (3 * kKeySize + 2 * kColumnGap) / 2 + 0.5;
    const double columns[3] = {left, left + kKeySize + kColumnGap, left + 2 * (kKeySize + kColumnGap)};
    const auto detail = detailLabel_->frame();
    const double r1 = detail.origin.y + detail.size.height + (mainScreenHeight() == 480 ? 10 : 15);
    const double rows[4] = {r1, r1 + kRowStep, r1 + 2 * kRowStep, r1 + 3 * kRowStep};
    for (int digit = 0; digit < 10; ++digit) {
        const double x = digit == 0 ? columns[1] : columns[(digit - 1) % 3];
        const double y = digit == 0 ? rows[3] : rows[(digit - 1) / 3];
        auto& key = buttons_[digit];
        key->setFrame({x, y, kKeySize, kKeySize});
        if (!key->superview()) contentView_->addSubview(key);
        key->layer().cornerRadius = kKeySize / 2;
        key->setClipsToBounds(true);
    }
    double rowC;
    if (toolkit::Device::current().isPad())
        rowC = rows[3] + 17.5;
    else
        rowC = mainScreenHeight() == 480 ? rows[3] + 45 : h - 60;
    const double width = kKeySize + cancelButton_->contentEdgeInsets().right;
    if (!cancelButtonDisabled_) {
        cancelButton_->setFrame({columns[2], rowC, width, 40});
        if (!cancelButton_->superview()) contentView_->addSubview(cancelButton_);
    } else if (cancelButton_->superview()) {
        cancelButton_->removeFromSuperview();
    }
    deleteButton_->setFrame({columns[2], rowC, width, 40});
    if (!deleteButton_->superview()) contentView_->addSubview(deleteButton_);
    if (biometricIDButton_) {
        biometricIDButton_->setFrame({std::floor(left + 17.5), std::floor(rows[3] + 17.5), 40, 40});
        if (!biometricIDButton_->superview()) contentView_->addSubview(biometricIDButton_);
    }
}

void HXCPadLockScreenView::prepareApperance() {
    const auto color = labelColor();
    enterPasscodeLabel_->setTextColor(color);
    enterPasscodeLabel_->setFont(enterPasscodeLabelFont());
    detailLabel_->setTextColor(color);
    detailLabel_->setFont(detailLabelFont());
    if (digitsTextField_) {
        const auto border = buttons_[0]->borderColor();
        digitsTextField_->setTextColor(border);
        digitsTextField_->layer().borderColor = border;
    }
    for (auto* button : {cancelButton_.get(), deleteButton_.get(), okButton_.get()})
        button->setTitleColor(color, toolkit::kStateNormal);
    if (deleteCancelFont_) {
        cancelButton_->titleLabel()->setFont(*deleteCancelFont_);
        deleteButton_->titleLabel()->setFont(*deleteCancelFont_);
    }
}

void HXCPadLockScreenView::layoutSubviews() {
    toolkit::View::layoutSubviews();
    layoutTitleArea();
    layoutButtonArea();
    requiresRotationCorrection_ = true;
    prepareApperance();
}

void HXCPadLockScreenView::performAnimations(std::function<void()> animations, bool animated,
                                             std::function<void()> completion) {
    toolkit::animate(animated ? 0.15 : 0, 0, toolkit::kAnimationCurveEaseIn, animations,
                     [completion = std::move(completion)](bool) {
                         if (completion) completion();
                     });
}

void HXCPadLockScreenView::showCancelButtonAnimated(bool animated, std::function<void()> completion) {
    auto cancel = cancelButton_, del = deleteButton_;
    performAnimations(
        [cancel, del] {
            cancel->setAlpha(1);
            del->setAlpha(0);
        },
        animated, std::move(completion));
}

void HXCPadLockScreenView::showDeleteButtonAnimated(bool animated, std::function<void()> completion) {
    auto cancel = cancelButton_, del = deleteButton_;
    performAnimations(
        [cancel, del] {
            cancel->setAlpha(0);
            del->setAlpha(1);
        },
        animated, std::move(completion));
}

void HXCPadLockScreenView::showOKButton(bool show, bool animated, std::function<void()> completion) {
    auto ok = okButton_;
    performAnimations([ok, show] { ok->setAlpha(show ? 1 : 0); }, animated, std::move(completion));
}

void HXCPadLockScreenView::showBiometricIDButton(bool show, bool animated, std::function<void()> completion) {
    auto button = biometricIDButton_;
    performAnimations(
        [button, show] {
            if (button) button->setAlpha(show ? 1 : 0);
        },
        animated, std::move(completion));
}

void HXCPadLockScreenView::updateDetailLabelWithString(const std::string& text, bool animated) {
    auto label = detailLabel_;
    toolkit::animate(animated ? 0.15 : 0, 0,
                     toolkit::kAnimationTransitionCrossDissolve | toolkit::kAnimationCurveEaseInOut,
                     [label, text] { label->setText(text); });
    const double w = correctWidth();
    detailLabel_->setFrame({w / 2 - 150, pinRowY() + 30, 300, 23});
}

void HXCPadLockScreenView::lockViewAnimated(bool animated, std::function<void()> completion) {
    auto keys = buttons_;
    auto cancel = cancelButton_;
    auto dots = digits_;
    performAnimations(
        [keys, cancel, dots] {
            for (auto& key : keys) {
                key->setAlpha(0.2);
                key->setUserInteractionEnabled(false);
            }
            cancel->setAlpha(0);
            for (auto& dot : dots) dot->setAlpha(0);
        },
        animated, std::move(completion));
}

void HXCPadLockScreenView::animateFailureNotification() {
    std::vector<std::shared_ptr<toolkit::View>> shaken;
    if (complexPin_)
        shaken.push_back(digitsTextField_);
    else
        shaken.assign(digits_.begin(), digits_.end());
    toolkit::shakeHorizontally(shaken);
}

void HXCPadLockScreenView::resetAnimated(bool animated) {
    for (auto& dot : digits_) dot->setSelected(false, animated);
    showCancelButtonAnimated(animated);
    showOKButton(false, animated);
    if (digitsTextField_) digitsTextField_->setText("");
}

void HXCPadLockScreenView::updatePinTextfieldWithLength(size_t length) {
    if (!digitsTextField_) return;
    auto field = digitsTextField_;
    field->setFont(toolkit::Font::boldSystem(18));
    toolkit::animate(0.15, 0, toolkit::kAnimationTransitionCrossDissolve,
                     [field, length] { field->setText(std::string(length, ' ')); });
}
