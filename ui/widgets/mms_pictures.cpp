#include "ui/widgets/mms_pictures.h"

#include "platform/dispatch/dispatch.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/format.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/image.h"
#include "platform/graphics/image_operations.h"
#include "platform/graphics/named_images.h"
#include "platform/services/photos.h"
#include "platform/services/url_opener.h"
#include "platform/toolkit/pasteboard.h"

std::optional<HXMMSImage> hxPictureFromPasteboard() {
    auto& pasteboard = toolkit::Pasteboard::general();
    const auto types = pasteboard.types();
    const auto data = types.empty() ? std::nullopt : pasteboard.dataForType(types.front());
    if (!data) return std::nullopt;
    HXMMSImage picture;
    if (types.front() == kHXGIFType) {
        picture.animated = graphics::HXCAnimatedImage::animatedImageWithGIFData(*data);
    } else if (auto still = graphics::Image::fromEncoded(*data); still.ok()) {
        picture.still = still.value();
    }
    if (!picture.animated && !picture.still) picture.still = pasteboard.image();
    if (!picture.animated && !picture.still) return std::nullopt;
    return picture;
}

bool hxPictureTooLarge(const HXMMSImage& picture) {
    return picture.animated && picture.animated->data().size() > kHXMaxGIFBytes;
}

HXAlert hxImageTooLargeAlert() {
    using foundation::localizedString;
    return HXAlert{localizedString("Image too Large"),
                   localizedString("The selected animated GIF is larger than the maximum size allowed by HX Voice"),
                   {{localizedString("Dismiss"), HXAlertAction::Style::Default, {}}}};
}

HXPickedPicture hxPictureFromPicker(const system_screens::ImagePickerInfo& info) {
    HXPickedPicture out;
    if (info.referenceURL) {
        auto asset = services::PhotoLibrary::imageDataForAssetURL(*info.referenceURL);
        if (!asset.ok()) return out;
        HXMMSImage picture;
        if (asset.value().typeIdentifier == kHXGIFType) {
            picture.animated = graphics::HXCAnimatedImage::animatedImageWithGIFData(asset.value().bytes);
            if (hxPictureTooLarge(picture)) {
                out.tooLarge = true;
                return out;
            }
        } else if (auto still = graphics::Image::fromEncoded(asset.value().bytes); still.ok()) {
            picture.still = still.value();
        }
        if (picture.animated || picture.still) out.picture = std::move(picture);
    } else if (info.originalImage) {
        out.picture = HXMMSImage{nullptr, info.originalImage};
    }
    return out;
}

std::shared_ptr<toolkit::AlertController> hxPictureSourceSheet(std::weak_ptr<HXPictureAttacher> attacher) {
    using foundation::localizedString;
    using system_screens::ImagePickerSourceType;
    const bool camera = system_screens::ImagePickerController::isSourceTypeAvailable(ImagePickerSourceType::Camera);
    const bool clipboard = toolkit::Pasteboard::general().hasImages();
    if (!camera && !clipboard) return nullptr;
    auto sheet = toolkit::AlertController::make(std::nullopt, std::nullopt, toolkit::AlertControllerStyle::ActionSheet);
    (void)sheet->addAction(toolkit::AlertAction::make(localizedString("Cancel"), toolkit::AlertActionStyle::Cancel));
    auto add = [&sheet](const char* title, std::function<void()> run, const char* symbol, const char* fallback) {
        auto action = toolkit::AlertAction::make(localizedString(title), toolkit::AlertActionStyle::Default,
                                                 [run = std::move(run)](toolkit::AlertAction&) { run(); });
        auto icon = graphics::systemImageNamed(symbol);
        if (!icon) icon = graphics::imageNamed(fallback);
        if (icon) action->image = icon->withRenderingMode(graphics::RenderingMode::alwaysTemplate);
        (void)sheet->addAction(action);
    };
    if (clipboard)
        add(
            "Clipboard Image",
            [attacher] {
                if (auto a = attacher.lock()) a->attachClipboardPicture();
            },
            "doc.on.clipboard", "action_clipboard");
    if (camera)
        add(
            "Take Photo\u2026", [attacher] { hxAuthorizeCamera(attacher); }, "camera", "action_camera");
    add(
        "Choose from Library\u2026", [attacher] { hxAuthorizeLibrary(attacher); }, "photo.on.rectangle",
        "action_library");
    return sheet;
}

HXAlert hxPermissionAlert(std::string title, std::string message) {
    using foundation::localizedString;
    HXAlert alert{std::move(title), std::move(message), {}, {}};
    alert.actions.push_back({localizedString("Cancel"), HXAlertAction::Style::Cancel, {}});
    alert.actions.push_back({localizedString("Settings"), HXAlertAction::Style::Default,
                             [] { services::URLOpener::shared()->openURL(services::kOpenSettingsURLString); }});
    alert.preferredAction = 1;
    return alert;
}

HXAlert hxPhotoLibraryDeniedAlert() {
    return hxPermissionAlert(foundation::localizedString("Unable to access the Photo Library"),
                             foundation::localizedString("To enable access, go to Settings > Privacy > Photos and "
                                                         "allow 'Read and Write' access for HX Connect."));
}

namespace {

// The picker of a source, shown from the main queue (a permission's answer may come elsewhere).
void showLater(const std::weak_ptr<HXPictureAttacher>& attacher, system_screens::ImagePickerSourceType type) {
    dispatch::Queue::main()->async([attacher, type] {
        if (auto a = attacher.lock()) a->showPicker(type);
    });
}

}  // namespace

void hxAuthorizeCamera(std::weak_ptr<HXPictureAttacher> attacher) {
    using foundation::localizedString;
    using services::CaptureAuthorizationStatus;
    const auto type = system_screens::ImagePickerSourceType::Camera;
    switch (services::CaptureDevice::authorizationStatus()) {
        case CaptureAuthorizationStatus::NotDetermined:
            services::CaptureDevice::requestAccess([attacher](bool granted) {
                if (granted) showLater(attacher, type);
            });
            break;
        case CaptureAuthorizationStatus::Denied:
            if (auto a = attacher.lock())
                a->presentPictureAlert(
                    hxPermissionAlert(localizedString("Unable to access the Camera"),
                                      localizedString("To enable access, go to Settings > Privacy > Camera and turn on "
                                                      "Camera access for HX Connect.")));
            break;
        default:
            if (auto a = attacher.lock()) a->showPicker(type);
    }
}

void hxAuthorizeLibrary(std::weak_ptr<HXPictureAttacher> attacher) {
    using foundation::localizedString;
    using services::PhotoAuthorizationStatus;
    const auto type = system_screens::ImagePickerSourceType::PhotoLibrary;
    switch (services::PhotoLibrary::authorizationStatus()) {
        case PhotoAuthorizationStatus::NotDetermined:
            services::PhotoLibrary::requestAuthorization([attacher](PhotoAuthorizationStatus answer) {
                // A restricted library is one the user cannot open: only a granted answer opens it.
                if (answer == PhotoAuthorizationStatus::Authorized || answer == PhotoAuthorizationStatus::Limited)
                    showLater(attacher, type);
            });
            break;
        case PhotoAuthorizationStatus::Denied:
            if (auto a = attacher.lock()) a->presentPictureAlert(hxPhotoLibraryDeniedAlert());
            break;
        default:
            if (auto a = attacher.lock()) a->showPicker(type);
    }
}

graphics::ImagePtr hxPictureThumbnail(const HXMMSImage& picture, double side) {
    const graphics::ImagePtr still = picture.animated ? picture.animated->posterImage() : picture.still;
    if (!still) return nullptr;
    auto cropped = graphics::imageCroppedToFitSize(still, {side, side});
    return cropped ? graphics::makeRoundedImageWithRadius(cropped, 4.0f) : nullptr;
}

toolkit::BarButtonItemPtr hxPictureItem(const HXMMSImage& picture, size_t index, size_t count,
                                        toolkit::BarButtonItem::Action tapped) {
    using foundation::localizedString;
    auto item = toolkit::BarButtonItem::withImage(hxPictureThumbnail(picture), toolkit::BarButtonStyle::Plain,
                                                  std::move(tapped));
    if (item->image) item->image = item->image->withRenderingMode(graphics::RenderingMode::alwaysOriginal);
    const std::string position =
        count >= 2 ? foundation::format(localizedString(" (%lu of %lu)"), static_cast<unsigned long>(index + 1),
                                        static_cast<unsigned long>(count))
                   : std::string();
    item->accessibilityLabel = foundation::format(localizedString("Image Attachment%@"), position);
    item->accessibilityHint = localizedString("Tap to remove");
    return item;
}
