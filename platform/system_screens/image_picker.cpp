#include "platform/system_screens/image_picker.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/image_operations.h"
#include "platform/services/photos.h"
#include "platform/toolkit/responder.h"
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
    if (sourceType == ImagePickerSourceType::Camera) {
        viewfinder_ = std::make_shared<toolkit::ImageView>(services::CaptureDevice::capturePicture());
        viewfinder_->setContentMode(toolkit::ContentMode::ScaleAspectFill);
        viewfinder_->setClipsToBounds(true);
        shutter_ = std::make_shared<toolkit::Button>(toolkit::ButtonType::Custom);
        shutter_->setBackgroundColor(graphics::Color::whiteColor());
        shutter_->layer().cornerRadius = 33;
        shutter_->accessibility().label = "Take Picture";
        // The picture taken is the one shown; the view moves on to the next.
        shutter_->addAction(
            [this](toolkit::Control&, const toolkit::Event*) {
                auto taken = viewfinder_->image();
                viewfinder_->setImage(services::CaptureDevice::capturePicture());
                takePicture(std::move(taken));
            },
            toolkit::kTouchUpInside);
        root->addSubview(viewfinder_);
        root->addSubview(shutter_);
        return;
    }
    grid_ = std::make_shared<toolkit::ScrollView>();
    int number = 0;
    for (const auto& url : services::PhotoLibrary::assetURLs()) {
        auto data = services::PhotoLibrary::imageDataForAssetURL(url);
        if (!data.ok()) continue;
        auto image = graphics::Image::fromEncoded(data->bytes);
        auto button = std::make_shared<toolkit::Button>(toolkit::ButtonType::Custom);
        if (image.ok()) button->setImage(graphics::imageScaledToFitSize(*image, {160, 160}), toolkit::kStateNormal);
        button->setClipsToBounds(true);
        button->accessibility().label = "Photo " + std::to_string(++number);
        button->addAction([this, url](toolkit::Control&, const toolkit::Event*) { pickAsset(url); },
                          toolkit::kTouchUpInside);
        grid_->addSubview(button);
        assets_.emplace_back(std::move(button), url);
    }
    root->addSubview(grid_);
}

// The picker covers the screen: the field that had the keyboard lets it go, so that nothing of it
// stays over the grid or the shutter.
void ImagePickerController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    if (auto* focused = toolkit::firstResponder()) focused->resignFirstResponder();
}

void ImagePickerController::viewDidLayoutSubviews() {
    const auto b = view()->bounds();
    const double top = b.origin.y + view()->safeAreaInsets().top;
    const auto titleSize = title_->sizeThatFits({});
    title_->setFrame({b.origin.x + (b.size.width - titleSize.width) / 2, top + 11, titleSize.width, titleSize.height});
    const auto cancelSize = cancel_->sizeThatFits({});
    cancel_->setFrame({b.origin.x + 16, top, cancelSize.width, 44});
    const double below = top + 44;
    const double bottom = b.origin.y + b.size.height - view()->safeAreaInsets().bottom;
    if (viewfinder_) {
        viewfinder_->setFrame({b.origin.x, below, b.size.width, std::max(0.0, bottom - below - 100)});
        shutter_->setFrame({b.origin.x + b.size.width / 2 - 33, bottom - 83, 66, 66});
    }
    if (grid_) {
        // Four squares a row, a point apart.
        grid_->setFrame({b.origin.x, below, b.size.width, std::max(0.0, b.origin.y + b.size.height - below)});
        const double side = std::floor((b.size.width - 3) / 4);
        for (size_t i = 0; i < assets_.size(); ++i)
            assets_[i].first->setFrame(
                {static_cast<double>(i % 4) * (side + 1), static_cast<double>(i / 4) * (side + 1), side, side});
        grid_->setContentSize({b.size.width, static_cast<double>((assets_.size() + 3) / 4) * (side + 1)});
    }
}

}  // namespace system_screens
