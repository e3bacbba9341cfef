#include "ui/widgets/picture_tray.h"

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/uti.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/image.h"
#include "platform/toolkit/bars.h"
#include "platform/toolkit/pasteboard.h"

std::shared_ptr<HXPictureTray> HXPictureTray::make(Setup setup) {
    return std::shared_ptr<HXPictureTray>(new HXPictureTray(std::move(setup)));
}

void HXPictureTray::changed() const {
    if (setup_.changed) setup_.changed();
}

bool HXPictureTray::add(HXMMSImage picture) {
    if (hxPictureTooLarge(picture)) {
        presentPictureAlert(hxImageTooLargeAlert());
        return false;
    }
    if (!picture.animated && !picture.still) return false;
    pictures_.push_back(std::move(picture));
    return true;
}

const std::shared_ptr<toolkit::Toolbar>& HXPictureTray::rebuildStrip() {
    std::vector<toolkit::BarButtonItemPtr> items;
    if (setup_.leadingItem)
        if (auto item = setup_.leadingItem()) items.push_back(std::move(item));
    leading_ = items.size();
    const size_t count = pictures_.size();
    std::weak_ptr<HXPictureTray> weak = weak_from_this();
    for (size_t i = 0; i < count; ++i)
        items.push_back(hxPictureItem(pictures_[i], i, count, [weak](toolkit::BarButtonItem& tapped) {
            if (auto tray = weak.lock()) tray->remove(tapped);
        }));
    if (items.empty()) {
        strip_.reset();
        return strip_;
    }
    items.push_back(toolkit::BarButtonItem::withSystemItem(toolkit::SystemItem::FlexibleSpace));
    strip_ = std::make_shared<toolkit::Toolbar>();
    strip_->setItems(std::move(items));
    strip_->sizeToFit();
    return strip_;
}

void HXPictureTray::remove(const toolkit::BarButtonItem& item) {
    if (!strip_) return;
    const auto& items = strip_->items();
    for (size_t p = leading_; p < items.size() && p - leading_ < pictures_.size(); ++p) {
        if (items[p].get() != &item) continue;
        pictures_.erase(pictures_.begin() + static_cast<long>(p - leading_));
        changed();
        return;
    }
}

void HXPictureTray::addFromPasteboard() {
    if (auto picture = hxPictureFromPasteboard()) add(std::move(*picture));
    changed();
}

bool HXPictureTray::canPaste(bool fieldHasFocus) { return fieldHasFocus && toolkit::Pasteboard::general().hasImages(); }

void HXPictureTray::paste() {
    if (toolkit::Pasteboard::general().hasImages()) addFromPasteboard();
}

void HXPictureTray::chooseSource(const std::function<void(toolkit::PopoverPresentationController&)>& anchor) {
    auto sheet = hxPictureSourceSheet(weak_from_this());
    if (!sheet) {
        authorizeLibrary();
        return;
    }
    auto screen = setup_.screen.lock();
    if (!screen) return;
    if (auto* popover = sheet->popoverPresentationController(); popover && anchor) anchor(*popover);
    screen->present(sheet, true);
}

void HXPictureTray::authorizeCamera() { hxAuthorizeCamera(weak_from_this()); }

void HXPictureTray::authorizeLibrary() { hxAuthorizeLibrary(weak_from_this()); }

void HXPictureTray::presentPictureAlert(const HXAlert& alert) {
    if (setup_.presentAlert) setup_.presentAlert(alert);
}

void HXPictureTray::showPicker(system_screens::ImagePickerSourceType type) {
    dispatch::Queue::main()->async([weak = weak_from_this(), type] {
        auto self = weak.lock();
        auto screen = self ? self->setup_.screen.lock() : nullptr;
        if (!screen) return;
        auto picker = std::make_shared<system_screens::ImagePickerController>();
        picker->modalPresentationStyle = self->setup_.pickerStyle;
        picker->sourceType = type;
        picker->delegate = self;
        screen->present(picker, true);
    });
}

namespace {

// The picker leaves above the screen it covered; what follows it (the strip, the keyboard) comes
// once it is gone, so that nothing is drawn over it on its way out.
void dismissPicker(system_screens::ImagePickerController& picker, std::function<void()> then) {
    if (auto* presenter = picker.presentingViewController())
        presenter->dismiss(true, std::move(then));
    else if (then)
        then();
}

}  // namespace

void HXPictureTray::imagePickerControllerDidFinishPicking(system_screens::ImagePickerController& picker,
                                                          const system_screens::ImagePickerInfo& info) {
    auto picked = hxPictureFromPicker(info);
    if (picked.tooLarge) {
        // Above the picker, which stays open for another choice.
        presentPictureAlert(hxImageTooLargeAlert());
        return;
    }
    if (picked.picture) add(std::move(*picked.picture));
    dismissPicker(picker, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->changed();
    });
}

void HXPictureTray::imagePickerControllerDidCancel(system_screens::ImagePickerController& picker) {
    dismissPicker(picker, [weak = weak_from_this()] {
        if (auto self = weak.lock(); self && self->setup_.pickerCancelled) self->setup_.pickerCancelled();
    });
}

bool HXPictureTray::canHandle(toolkit::DropInteraction&, toolkit::DragSession& session) {
    return session.canLoadImages();
}

toolkit::DropOperation HXPictureTray::sessionDidUpdate(toolkit::DropInteraction&, toolkit::DragSession&) {
    return toolkit::DropOperation::Copy;
}

void HXPictureTray::performDrop(toolkit::DropInteraction&, toolkit::DragSession& session) {
    session.loadObjects(foundation::kTypeImage, [weak = weak_from_this()](std::vector<foundation::Data> loaded) {
        auto self = weak.lock();
        if (!self) return;
        // Dropped pictures are still pictures: no size test.
        for (auto& bytes : loaded)
            if (auto still = graphics::Image::fromEncoded(std::move(bytes)); still.ok())
                self->pictures_.push_back(HXMMSImage{nullptr, still.value()});
        self->changed();
    });
}
