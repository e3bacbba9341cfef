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
    for (size_t i = 0; i < count; ++i)
        items.push_back(
            hxPictureItem(images_[i], i, count, [this](toolkit::BarButtonItem& tapped) { removeImage(tapped); }));
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
    auto sheet = hxPictureSourceSheet(as<HXPictureAttacher>());
    if (!sheet) {
        authorizeAndShowLibraryImagePicker();
        return;
    }
    if (auto* popover = sheet->popoverPresentationController(); popover && pictureBar_) {
        popover->permittedArrowDirections = toolkit::kArrowDown;
        popover->sourceView = pictureBar_;
        popover->sourceRect = {50, 0, 1, 1};
    }
    present(sheet, true);
}

void VC_NewMessage::authorizeAndShowCamera() { hxAuthorizeCamera(as<HXPictureAttacher>()); }

void VC_NewMessage::authorizeAndShowLibraryImagePicker() { hxAuthorizeLibrary(as<HXPictureAttacher>()); }

void VC_NewMessage::presentPictureAlert(const HXAlert& alert) {
    if (auto compose = roles_.compose.lock()) compose->presentAlert(alert);
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
    auto picked = hxPictureFromPicker(info);
    if (picked.tooLarge) {
        // Too large: the alert, and the picker stays open for another choice.
        if (auto compose = roles_.compose.lock()) presentImageTooLarge(*compose);
        return;
    }
    if (picked.picture) addPicture(std::move(*picked.picture));
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
