#include "ui/widgets/hxc_input_toolbar.h"

#include <cmath>

#include "platform/foundation/bundle.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/named_images.h"
#include "platform/graphics/screen_scale.h"
#include "platform/toolkit/traits.h"

namespace {

using toolkit::Rect;

// The text view's left edge and how much narrower than the bar it is, without and with the camera.
double textViewX(bool camera) { return camera ? 51 : 7; }
double textViewInset(bool camera) { return 91 + (camera ? 44 : 0); }

}  // namespace

std::shared_ptr<HXCInputToolbar> HXCInputToolbar::make(const Rect& frame) {
    return make(frame, defaultButtonFont(), toolkit::Color::darkGray(), false);
}

std::shared_ptr<HXCInputToolbar> HXCInputToolbar::make(const Rect& frame, const toolkit::Font& buttonFont,
                                                       const toolkit::Color& buttonTintColor, bool withCameraButton) {
    auto toolbar = std::make_shared<HXCInputToolbar>(MadeByMake{}, frame);
    toolbar->setupToolbar("Send", buttonFont, buttonTintColor, withCameraButton);
    return toolbar;
}

HXCInputToolbar::HXCInputToolbar(MadeByMake, const Rect& frame) : Toolbar(frame) {}

toolkit::Font HXCInputToolbar::defaultButtonFont() {
    const toolkit::Font font = toolkit::Font::named("HelveticaNeue-Bold", 18).value_or(toolkit::Font::boldSystem(18));
    return font.withTraits({.bold = true, .italic = false});
}

void HXCInputToolbar::setupToolbar(const std::string& title, const toolkit::Font& buttonFont,
                                   const toolkit::Color& tintColor, bool withCameraButton) {
    setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleRightMargin);
    setTintColor(tintColor);
    setItems({});
    setBottomPadding(0);
    std::weak_ptr<HXCInputToolbar> weak = std::static_pointer_cast<HXCInputToolbar>(self());

    if (withCameraButton) {
        cameraButton_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
        auto symbol =
            toolkit::Device::current().systemVersionAtLeast(13) ? graphics::systemImageNamed("camera.fill") : nullptr;
        cameraButton_->setImage(symbol ? symbol : graphics::imageNamed("camera"), toolkit::kStateNormal);
        cameraButton_->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto toolbar = weak.lock()) toolbar->cameraButtonPressed();
            },
            toolkit::kTouchDown);
        cameraButton_->setTintColor(tintColor);
        cameraButton_->imageView()->setContentMode(toolkit::ContentMode::Center);
        cameraButton_->setFrame({0, 0, 40, 40});
        cameraButton_->accessibility().hint = foundation::localizedString("Attaches images to message");
        addSubview(cameraButton_);
    }

    inputButton_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    inputButton_->setTintColor(tintColor);
    inputButton_->titleLabel()->setFont(buttonFont);
    inputButton_->setTitleEdgeInsets({8, 0, 0, 0});
    inputButton_->setContentMode(toolkit::ContentMode::ScaleToFill);
    inputButton_->setTitle(title, toolkit::kStateNormal);
    inputButton_->addAction(
        [weak](toolkit::Control&, const toolkit::Event*) {
            if (auto toolbar = weak.lock()) toolbar->inputButtonPressed();
        },
        toolkit::kTouchDown);
    inputButton_->sizeToFit();
    inputButton_->setEnabled(false);
    addSubview(inputButton_);

    const double width = bounds().width();
    textView_ =
        HXCExpandingTextView::make({textViewX(withCameraButton), 7, width - textViewInset(withCameraButton), 26});
    textView_->internalTextView()->scrollIndicatorInsets = {2, 0, 2, 0};
    textView_->setDelegate(std::static_pointer_cast<HXCInputToolbar>(self()));
    addSubview(textView_);

    const Rect tv = textView_->frame();
    infoLabel_ =
        std::make_shared<toolkit::Label>(Rect(tv.maxX() + 12, tv.minY() - 4, width - tv.minX() - tv.width() - 24, 40));
    infoLabel_->setNumberOfLines(2);
    infoLabel_->setTextAlignment(toolkit::TextAlignment::center);
    infoLabel_->setAutoresizingMask(toolkit::kFlexibleLeftMargin | toolkit::kFlexibleBottomMargin);
    infoLabel_->setBackgroundColor(toolkit::Color::clear());
    infoLabel_->setAlpha(0);
    addSubview(infoLabel_);
    layOutControls(frame());
}

void HXCInputToolbar::inputButtonPressed() {
    if (auto d = owner()) d->inputToolbarButtonPressed(*this, textView_->text());
    textView_->clearText();
}

void HXCInputToolbar::cameraButtonPressed() {
    if (auto d = owner(); d && cameraButton_) d->inputToolbarCameraButtonPressed(*this, *cameraButton_);
}

void HXCInputToolbar::draw(graphics::GraphicsContext& context, const Rect&) {
    if (!background_ || backgroundScale_ != graphics::mainScreenScale()) {
        auto image = graphics::imageNamed("toolbarbg");
        if (!image) return;
        const float w = static_cast<float>(image->size().width);
        const float h = static_cast<float>(image->size().height);
        const double top = std::floor(h / 2);
        const double left = std::floor(w / 2);
        background_ = image->resizableWithCapInsets({top, left, h - top - 2, w - left - 2});
        backgroundScale_ = graphics::mainScreenScale();
    }
    auto stretched = background_;
    // The bar's drawing is light; the dark appearance fills its shape with the dark bar colour.
    if (context.userInterfaceStyle() == toolkit::InterfaceStyle::dark &&
        toolkit::Device::current().systemVersionAtLeast(13))
        stretched = stretched->withTintColor(toolkit::Color::secondarySystemBackground());
    context.drawImage(*stretched, {0, 0, bounds().width(), bounds().height()});
}

void HXCInputToolbar::setBottomPadding(double padding) {
    const double d = padding - bottomPadding_;
    bottomPadding_ = padding;
    const Rect f = frame();
    setFrame({f.origin.x, f.origin.y - d, f.size.width, f.size.height + d});
}

void HXCInputToolbar::setFrame(const Rect& rect) {
    if (textView_) textView_->setPlaceHolderAlpha(textView_->hasText() || textView_->isFirstResponder() ? 0 : 1);
    if (rect.size.height != lastHeight_) {
        if (auto d = owner()) d->inputToolbarHeightChanged(*this, rect.size.height);
        if (infoLabel_) infoLabel_->setAlpha(textView_ && textView_->numberOfLines() > 1 ? 1 : 0);
        lastHeight_ = rect.size.height;
    }
    Toolbar::setFrame(rect);
    layOutControls(rect);
}

void HXCInputToolbar::layOutControls(const Rect& rect) {
    if (!inputButton_ || !textView_) return;
    double left = 0, right = 0;
    const Rect safe = safeAreaLayoutFrame();
    if (safe.width() > 0) {
        left = safe.minX();
        right = bounds().width() - safe.minX() - safe.width();
    }
    const toolkit::Size button = inputButton_->frame().size;
    inputButton_->setFrame({rect.size.width - button.width - 20 - right,
                            rect.size.height - bottomPadding_ - button.height - 6, button.width, button.height});
    if (cameraButton_) {
        const toolkit::Size camera = cameraButton_->frame().size;
        cameraButton_->setFrame(
            {left + 6, rect.size.height - bottomPadding_ - camera.height, camera.width, camera.height});
    }
    const bool camera = cameraButton_ != nullptr;
    textView_->setFrame({left + textViewX(camera), 7, bounds().width() - textViewInset(camera) - left - right,
                         textView_->frame().size.height});
}

void HXCInputToolbar::safeAreaInsetsDidChange() {
    Toolbar::safeAreaInsetsDidChange();
    layOutControls(frame());
}

// ---- as the text view's delegate

void HXCInputToolbar::expandingTextViewWillChangeHeight(HXCExpandingTextView& view, float height) {
    newTextViewHeight_ = height;
    const float d = static_cast<float>(view.frame().size.height) - height;
    const Rect f = frame();
    setFrame({f.origin.x, f.origin.y + d, f.size.width, f.size.height - d});
}

std::optional<bool> HXCInputToolbar::expandingTextViewShouldChangeTextInRange(HXCExpandingTextView&,
                                                                              toolkit::Range range,
                                                                              const std::string& replacementText) {
    auto d = owner();
    return !d || d->inputToolbarTextViewShouldChangeTextInRange(*this, range, replacementText);
}

void HXCInputToolbar::expandingTextViewDidChange(HXCExpandingTextView& view) {
    inputButton_->setEnabled(view.hasText());
    if (auto d = owner()) d->inputToolbarTextViewDidChange(*this, view);
}

void HXCInputToolbar::expandingTextViewDidBeginEditing(HXCExpandingTextView& view) {
    if (auto d = owner()) d->inputToolbarTextViewDidBeginEditing(*this, view);
}

void HXCInputToolbar::expandingTextViewDidEndEditing(HXCExpandingTextView& view) {
    if (auto d = owner()) d->inputToolbarTextViewDidEndEditing(*this, view);
}
