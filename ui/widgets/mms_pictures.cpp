#include "ui/widgets/mms_pictures.h"

#include "platform/foundation/bundle.h"
#include "platform/graphics/animated_image.h"
#include "platform/graphics/image.h"
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

HXAlert hxPermissionAlert(std::string title, std::string message) {
    HXAlert alert{std::move(title), std::move(message), {}, {}};
    alert.actions.push_back({foundation::localizedString("Cancel"), HXAlertAction::Style::Cancel, {}});
    alert.actions.push_back({foundation::localizedString("Settings"), HXAlertAction::Style::Default,
                             [] { services::URLOpener::shared()->openURL(services::kOpenSettingsURLString); }});
    alert.preferredAction = 1;
    return alert;
}

HXAlert hxPhotoLibraryDeniedAlert() {
    return hxPermissionAlert(foundation::localizedString("Unable to access the Photo Library"),
                             foundation::localizedString("To enable access, go to Settings > Privacy > Photos and "
                                                         "allow 'Read and Write' access for HX Connect."));
}
