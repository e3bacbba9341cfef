#include "platform/system_screens/image_picker.h"

#include "platform/services/photos.h"
#include "platform/toolkit/window.h"

namespace system_screens {

bool ImagePickerController::isSourceTypeAvailable(ImagePickerSourceType type) {
    return type == ImagePickerSourceType::PhotoLibrary || services::CaptureDevice::cameraAvailable();
}

bool ImagePickerController::onScreen() const { return presentingViewController() != nullptr; }

bool ImagePickerController::pickAsset(const std::string& referenceURL) {
    if (!onScreen() || sourceType != ImagePickerSourceType::PhotoLibrary) return false;
    auto d = delegate.lock();
    if (!d) return false;
    d->imagePickerControllerDidFinishPicking(*this, ImagePickerInfo{referenceURL, nullptr});
    return true;
}

bool ImagePickerController::takePicture(std::shared_ptr<const graphics::Image> picture) {
    if (!onScreen() || sourceType != ImagePickerSourceType::Camera || !picture) return false;
    auto d = delegate.lock();
    if (!d) return false;
    d->imagePickerControllerDidFinishPicking(*this, ImagePickerInfo{std::nullopt, std::move(picture)});
    return true;
}

bool ImagePickerController::cancel() {
    if (!onScreen()) return false;
    if (auto d = delegate.lock())
        d->imagePickerControllerDidCancel(*this);
    else
        dismiss(true);
    return true;
}

void ImagePickerController::loadView() {
    auto root = std::make_shared<toolkit::View>(toolkit::Device::current().screen().bounds());
    root->setBackgroundColor(sourceType == ImagePickerSourceType::Camera ? graphics::Color::black()
                                                                         : graphics::Color::systemBackground());
    root->setAutoresizingMask(toolkit::kFlexibleWidth | toolkit::kFlexibleHeight);
    setView(root);
    title_ = std::make_shared<toolkit::Label>();
    title_->setText(sourceType == ImagePickerSourceType::Camera ? "Camera" : "Photos");
    title_->setFont(graphics::Font::boldSystem(17));
    title_->setTextColor(sourceType == ImagePickerSourceType::Camera ? graphics::Color::whiteColor()
                                                                     : graphics::Color::label());
    cancel_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    cancel_->setTitle("Cancel", toolkit::kStateNormal);
    cancel_->addAction([this](toolkit::Control&, const toolkit::Event*) { cancel(); }, toolkit::kTouchUpInside);
    root->addSubview(title_);
    root->addSubview(cancel_);
}

void ImagePickerController::viewDidLayoutSubviews() {
    const auto b = view()->bounds();
    const double top = b.origin.y + view()->safeAreaInsets().top;
    const auto titleSize = title_->sizeThatFits({});
    title_->setFrame({b.origin.x + (b.size.width - titleSize.width) / 2, top + 11, titleSize.width, titleSize.height});
    const auto cancelSize = cancel_->sizeThatFits({});
    cancel_->setFrame({b.origin.x + 16, top, cancelSize.width, 44});
}

}  // namespace system_screens
