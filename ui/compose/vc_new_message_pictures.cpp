// The new-message screen's pictures: the bar above the keyboard, the source sheet, the camera and
// library flows with their permission alerts, the clipboard, paste, and drag and drop.
#include "model/account.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/foundation/strings.h"
#include "platform/foundation/uti.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/services/photos.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/controls.h"
#include "platform/toolkit/pasteboard.h"
#include "platform/toolkit/presentation.h"
#include "ui/compose/vc_new_message.h"
#include "ui/widgets/mms_pictures.h"

using foundation::localizedString;

namespace {

// The permission alert: "Cancel", and "Settings" (preferred), which opens the app's settings.
graphics::ImagePtr thumbnailOf(const HXMMSImage& picture) {
    const graphics::ImagePtr still = picture.animated ? picture.animated->posterImage() : picture.still;
    if (!still) return nullptr;
    auto cropped =
        graphics::imageCroppedToFitSize(still, {VC_NewMessage::kThumbnailSide, VC_NewMessage::kThumbnailSide});
    return cropped ? graphics::makeRoundedImageWithRadius(cropped, 4.0f) : nullptr;
}

}  // namespace

void VC_NewMessage::presentImageTooLarge(HXComposeRole& compose) { compose.presentAlert(hxImageTooLargeAlert()); }

bool VC_NewMessage::addPicture(HXMMSImage picture) {
    if (!imagesEnabled_) return false;
    if (hxPictureTooLarge(picture)) {
        if (auto compose = roles_.compose.lock()) presentImageTooLarge(*compose);
        return false;
    }
    if (!picture.animated && !picture.still) return false;
    images_.push_back(std::move(picture));
    return true;
}

void VC_NewMessage::updateImagePreviews() {
    if (!imagesEnabled_) return;
    auto camera = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
    auto symbol = graphics::systemImageNamed("camera.fill");
    camera->setImage(symbol ? symbol : graphics::imageNamed("camera"), toolkit::kStateNormal);
    camera->addAction([this](toolkit::Control&, const toolkit::Event*) { cameraButtonPressed(); }, toolkit::kTouchDown);
    camera->setTintColor(toolkit::Color::systemBlue());
    camera->setFrame({0, 0, kThumbnailSide, kThumbnailSide});
    camera->accessibility().hint = localizedString("Attaches images to message");

    std::vector<toolkit::BarButtonItemPtr> items{toolkit::BarButtonItem::withCustomView(camera)};
    const size_t count = images_.size();
    for (size_t i = 0; i < count; ++i) {
        auto item = toolkit::BarButtonItem::withImage(thumbnailOf(images_[i]), toolkit::BarButtonStyle::Plain,
                                                      [this](toolkit::BarButtonItem& tapped) { removeImage(tapped); });
        if (item->image) item->image = item->image->withRenderingMode(graphics::RenderingMode::alwaysOriginal);
        const std::string position =
            count >= 2 ? foundation::format(localizedString(" (%lu of %lu)"), static_cast<unsigned long>(i + 1),
                                            static_cast<unsigned long>(count))
                       : std::string();
        item->accessibilityLabel = foundation::format(localizedString("Image Attachment%@"), position);
        item->accessibilityHint = localizedString("Tap to remove");
        items.push_back(item);
    }
    items.push_back(toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::FlexibleSpace));
    pictureBar_ = std::make_shared<toolkit::Toolbar>();
    pictureBar_->setItems(std::move(items));
    pictureBar_->sizeToFit();
    message_->inputAccessory = pictureBar_;
    updateSendState();
    message_->reloadInputViews();
    if (!images_.empty() && !message_->isFirstResponder()) message_->becomeFirstResponder();
}

void VC_NewMessage::removeImage(const toolkit::BarButtonItem& item) {
    if (!pictureBar_) return;
    const auto& items = pictureBar_->items();
    for (size_t p = 1; p < items.size(); ++p) {
        if (items[p].get() != &item) continue;
        if (p - 1 < images_.size()) images_.erase(images_.begin() + static_cast<long>(p - 1));
        updateImagePreviews();
        return;
    }
}

void VC_NewMessage::cameraButtonPressed() {
    const bool camera =
        system_screens::ImagePickerController::isSourceTypeAvailable(system_screens::ImagePickerSourceType::Camera);
    auto& pasteboard = toolkit::Pasteboard::general();
    if (!camera && !pasteboard.hasImages()) {
        authorizeAndShowLibraryImagePicker();
        return;
    }
    auto sheet = toolkit::AlertController::make(std::nullopt, std::nullopt, toolkit::AlertControllerStyle::ActionSheet);
    (void)sheet->addAction(toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
    auto withIcon = [](toolkit::AlertActionPtr action, const char* symbol, const char* fallback) {
        auto icon = graphics::systemImageNamed(symbol);
        if (!icon) icon = graphics::imageNamed(fallback);
        if (icon) action->image = icon->withRenderingMode(graphics::RenderingMode::alwaysTemplate);
        return action;
    };
    auto weak = weakSelf<VC_NewMessage>();
    if (pasteboard.hasImages())
        (void)sheet->addAction(
            withIcon(toolkit::AlertAction::make(localizedString("Clipboard Image"), toolkit::AlertActionStyle::Default,
                                                [weak](toolkit::AlertAction&) {
                                                    if (auto s = weak.lock()) s->addImageFromPasteboard();
                                                }),
                     "doc.on.clipboard", "action_clipboard"));
    if (camera)
        (void)sheet->addAction(
            withIcon(toolkit::AlertAction::make(localizedString("Take Photo\u2026"), toolkit::AlertActionStyle::Default,
                                                [weak](toolkit::AlertAction&) {
                                                    if (auto s = weak.lock()) s->authorizeAndShowCamera();
                                                }),
                     "camera", "action_camera"));
    (void)sheet->addAction(withIcon(toolkit::AlertAction::make(localizedString("Choose from Library\u2026"),
                                                               toolkit::AlertActionStyle::Default,
                                                               [weak](toolkit::AlertAction&) {
                                                                   if (auto s = weak.lock())
                                                                       s->authorizeAndShowLibraryImagePicker();
                                                               }),
                                    "photo.on.rectangle", "action_library"));
    if (auto* popover = sheet->popoverPresentationController(); popover && pictureBar_) {
        popover->permittedArrowDirections = toolkit::kArrowDown;
        popover->sourceView = pictureBar_;
        popover->sourceRect = {50, 0, 1, 1};
    }
    present(sheet, true);
}

void VC_NewMessage::authorizeAndShowCamera() {
    using services::CaptureAuthorizationStatus;
    switch (services::CaptureDevice::authorizationStatus()) {
        case CaptureAuthorizationStatus::NotDetermined:
            services::CaptureDevice::requestAccess([weak = weakSelf<VC_NewMessage>()](bool granted) {
                if (!granted) return;
                dispatch::Queue::main()->async([weak] {
                    if (auto self = weak.lock())
                        self->showImagePickerForSourceType(system_screens::ImagePickerSourceType::Camera);
                });
            });
            break;
        case CaptureAuthorizationStatus::Denied:
            if (auto compose = roles_.compose.lock())
                compose->presentAlert(hxPermissionAlert(
                    localizedString("Unable to access the Camera"),
                    localizedString("To enable access, go to Settings > Privacy > Camera and turn on Camera access for "
                                    "HX Connect.")));
            break;
        default:
            showImagePickerForSourceType(system_screens::ImagePickerSourceType::Camera);
    }
}

void VC_NewMessage::authorizeAndShowLibraryImagePicker() {
    using services::PhotoAuthorizationStatus;
    switch (services::PhotoLibrary::authorizationStatus()) {
        case PhotoAuthorizationStatus::NotDetermined:
            services::PhotoLibrary::requestAuthorization(
                [weak = weakSelf<VC_NewMessage>()](PhotoAuthorizationStatus answer) {
                    // A restricted library is one the user cannot open: only a granted answer opens it.
                    if (answer != PhotoAuthorizationStatus::Authorized && answer != PhotoAuthorizationStatus::Limited)
                        return;
                    dispatch::Queue::main()->async([weak] {
                        if (auto self = weak.lock())
                            self->showImagePickerForSourceType(system_screens::ImagePickerSourceType::PhotoLibrary);
                    });
                });
            break;
        case PhotoAuthorizationStatus::Denied:
            if (auto compose = roles_.compose.lock()) compose->presentAlert(hxPhotoLibraryDeniedAlert());
            break;
        default:
            showImagePickerForSourceType(system_screens::ImagePickerSourceType::PhotoLibrary);
    }
}

void VC_NewMessage::showImagePickerForSourceType(system_screens::ImagePickerSourceType type) {
    dispatch::Queue::main()->async([weak = weakSelf<VC_NewMessage>(), type] {
        auto self = weak.lock();
        if (!self) return;
        auto picker = std::make_shared<system_screens::ImagePickerController>();
        picker->modalPresentationStyle = toolkit::ModalPresentationStyle::CurrentContext;
        picker->sourceType = type;
        picker->delegate = self->as<system_screens::ImagePickerControllerDelegate>();
        self->present(picker, true);
    });
}

void VC_NewMessage::imagePickerControllerDidFinishPicking(system_screens::ImagePickerController& picker,
                                                          const system_screens::ImagePickerInfo& info) {
    if (info.referenceURL) {
        auto asset = services::PhotoLibrary::imageDataForAssetURL(*info.referenceURL);
        if (asset.ok()) {
            HXMMSImage picture;
            if (asset.value().typeIdentifier == kGIFType) {
                picture.animated = graphics::HXCAnimatedImage::animatedImageWithGIFData(asset.value().bytes);
                // Too large: the alert, and the picker stays open for another choice.
                if (hxPictureTooLarge(picture)) {
                    if (auto compose = roles_.compose.lock()) presentImageTooLarge(*compose);
                    return;
                }
            } else if (auto still = graphics::Image::fromEncoded(asset.value().bytes); still.ok()) {
                picture.still = still.value();
            }
            if (picture.animated || picture.still) addPicture(std::move(picture));
        }
    } else if (info.originalImage) {
        addPicture(HXMMSImage{nullptr, info.originalImage});
    }
    dismissPicker(picker);
    updateImagePreviews();
}

void VC_NewMessage::imagePickerControllerDidCancel(system_screens::ImagePickerController& picker) {
    dismissPicker(picker);
}

void VC_NewMessage::dismissPicker(system_screens::ImagePickerController& picker) {
    if (auto* presenter = picker.presentingViewController()) presenter->dismiss(true);
}

void VC_NewMessage::addImageFromPasteboard() {
    if (auto picture = hxPictureFromPasteboard()) addPicture(std::move(*picture));
    updateImagePreviews();
}

bool VC_NewMessage::canPerformAction(const std::string& action, toolkit::Responder* sender) const {
    if (action == "paste:" && message_ && message_->isFirstResponder() && toolkit::Pasteboard::general().hasImages())
        return true;
    return ViewController::canPerformAction(action, sender);
}

void VC_NewMessage::paste() {
    if (toolkit::Pasteboard::general().hasImages()) addImageFromPasteboard();
}

bool VC_NewMessage::canHandle(toolkit::DropInteraction&, toolkit::DragSession& session) {
    return session.canLoadImages();
}

toolkit::DropOperation VC_NewMessage::sessionDidUpdate(toolkit::DropInteraction&, toolkit::DragSession&) {
    return toolkit::DropOperation::Copy;
}

void VC_NewMessage::performDrop(toolkit::DropInteraction&, toolkit::DragSession& session) {
    session.loadObjects(foundation::kTypeImage, [weak = weakSelf<VC_NewMessage>()](std::vector<foundation::Data> all) {
        auto self = weak.lock();
        if (!self) return;
        // Dropped pictures are still pictures: no size test.
        for (auto& bytes : all)
            if (auto still = graphics::Image::fromEncoded(std::move(bytes)); still.ok())
                self->images_.push_back(HXMMSImage{nullptr, still.value()});
        self->updateImagePreviews();
    });
}
