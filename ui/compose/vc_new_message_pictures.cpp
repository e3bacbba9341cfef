// The new-message screen's side of its pictures (the tray does the rest): the tray made for a
// signed-in account with the camera button leading its bar, the bar put above the keyboard with
// Send following the pictures, and the sheet pointing down at the bar on a tablet.
#include "platform/foundation/bundle.h"
#include "platform/graphics/named_images.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/controls.h"
#include "ui/compose/vc_new_message.h"

void VC_NewMessage::makePictureTray() {
    auto weak = weakSelf<VC_NewMessage>();
    auto cameraItem = [weak]() -> toolkit::BarButtonItemPtr {
        auto camera = std::make_shared<toolkit::Button>(toolkit::ButtonType::System);
        auto symbol = graphics::systemImageNamed("camera.fill");
        camera->setImage(symbol ? symbol : graphics::imageNamed("camera"), toolkit::kStateNormal);
        camera->addAction(
            [weak](toolkit::Control&, const toolkit::Event*) {
                if (auto self = weak.lock()) self->cameraButtonPressed();
            },
            toolkit::kTouchDown);
        camera->setTintColor(toolkit::Color::systemBlue());
        camera->setFrame({0, 0, kHXPictureThumbnailSide, kHXPictureThumbnailSide});
        camera->accessibility().hint = foundation::localizedString("Attaches images to message");
        return toolkit::BarButtonItem::withCustomView(camera);
    };
    pictures_ = HXPictureTray::make({.screen = weak,
                                     .presentAlert =
                                         [alerts = roles_.alerts](const HXAlert& alert) {
                                             if (auto a = alerts.lock()) a->presentAlert(alert);
                                         },
                                     .changed =
                                         [weak] {
                                             if (auto self = weak.lock()) self->updateImagePreviews();
                                         },
                                     .pickerCancelled = {},
                                     .leadingItem = std::move(cameraItem),
                                     .pickerStyle = toolkit::ModalPresentationStyle::CurrentContext});
}

const std::vector<HXMMSImage>& VC_NewMessage::images() const {
    static const std::vector<HXMMSImage> none;
    return pictures_ ? pictures_->pictures() : none;
}

bool VC_NewMessage::addPicture(HXMMSImage picture) { return pictures_ && pictures_->add(std::move(picture)); }

void VC_NewMessage::updateImagePreviews() {
    if (!pictures_) return;
    message_->inputAccessory = pictures_->rebuildStrip();
    updateSendState();
    message_->reloadInputViews();
    if (!images().empty() && !message_->isFirstResponder()) message_->becomeFirstResponder();
}

void VC_NewMessage::cameraButtonPressed() {
    if (!pictures_) return;
    pictures_->chooseSource([bar = pictures_->strip()](toolkit::PopoverPresentationController& popover) {
        if (!bar) return;
        popover.permittedArrowDirections = toolkit::kArrowDown;
        popover.sourceView = bar;
        popover.sourceRect = {50, 0, 1, 1};
    });
}

void VC_NewMessage::authorizeAndShowCamera() {
    if (pictures_) pictures_->authorizeCamera();
}

void VC_NewMessage::authorizeAndShowLibraryImagePicker() {
    if (pictures_) pictures_->authorizeLibrary();
}

void VC_NewMessage::addImageFromPasteboard() {
    if (pictures_) pictures_->addFromPasteboard();
}

bool VC_NewMessage::canPerformAction(const std::string& action, toolkit::Responder* sender) const {
    if (action == "paste:" && HXPictureTray::canPaste(message_ && message_->isFirstResponder())) return true;
    return ViewController::canPerformAction(action, sender);
}

void VC_NewMessage::paste() {
    if (pictures_) pictures_->paste();
}
