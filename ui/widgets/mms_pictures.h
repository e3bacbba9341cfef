// Pictures the user attaches to a text (the new message's and the conversation's reply): what
// the clipboard holds as one, the limit on animated GIFs with its alert, the sheet that offers
// the sources, the camera's and the library's permission flows, what a picker's answer gives,
// and the thumbnails the bar above the keyboard shows.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/alert.h"
#include "platform/system_screens/image_picker.h"
#include "platform/toolkit/alert_controller.h"
#include "platform/toolkit/bar_items.h"
#include "service/sms_sending.h"

// Longest animated GIF that may be attached (inclusive).
inline constexpr size_t kHXMaxGIFBytes = 2'000'000;
inline constexpr const char* kHXGIFType = "com.compuserve.gif";
// The side of a picture's thumbnail on the bar above the keyboard.
inline constexpr double kHXPictureThumbnailSide = 40;

// The clipboard's first item as a picture: a GIF of the GIF type as an animated picture, other
// bytes as a still picture, else the clipboard's own image; none when it holds no picture.
std::optional<HXMMSImage> hxPictureFromPasteboard();
// An animated GIF over the limit.
bool hxPictureTooLarge(const HXMMSImage& picture);
// "Image too Large", with "Dismiss".
HXAlert hxImageTooLargeAlert();

// What a picker's answer gives: a library asset by its bytes (a GIF as an animated picture), a
// camera's shot as it is. An animated GIF over the limit is refused (the picker stays open);
// bytes that are no picture give nothing.
struct HXPickedPicture {
    std::optional<HXMMSImage> picture;
    bool tooLarge = false;
};
HXPickedPicture hxPictureFromPicker(const system_screens::ImagePickerInfo& info);

// The screen the pictures are attached to, as the sources and permission flows below reach it.
class HXPictureAttacher {
public:
    virtual ~HXPictureAttacher() = default;
    // The clipboard's picture, attached (or refused) as a paste would.
    virtual void attachClipboardPicture() = 0;
    // Presents the system picker of that source.
    virtual void showPicker(system_screens::ImagePickerSourceType type) = 0;
    virtual void presentPictureAlert(const HXAlert& alert) = 0;
};

// The source sheet: "Cancel", "Clipboard Image" while the clipboard holds a picture, "Take
// Photo…" on a device with a camera, "Choose from Library…", each with its icon. Null when the
// device has no camera and the clipboard no picture: the library is then the only source.
std::shared_ptr<toolkit::AlertController> hxPictureSourceSheet(std::weak_ptr<HXPictureAttacher> attacher);

// The permission flows: a first question, and on a grant the picker's presentation (on the main
// queue); a refusal given before shows the alert with the way to the app's settings; otherwise
// the picker at once. A library the user may not open (restricted) is never shown.
void hxAuthorizeCamera(std::weak_ptr<HXPictureAttacher> attacher);
void hxAuthorizeLibrary(std::weak_ptr<HXPictureAttacher> attacher);

// The thumbnail of a picture (an animated one's poster): cropped to fill the side, rounded with a
// radius of 4 and drawn in its own colours; none for a picture without a still image.
graphics::ImagePtr hxPictureThumbnail(const HXMMSImage& picture, double side = kHXPictureThumbnailSide);
// The bar item of the picture at index of count: its thumbnail, "Image Attachment" (with its place
// " (i of n)" from two pictures on) and "Tap to remove".
toolkit::BarButtonItemPtr hxPictureItem(const HXMMSImage& picture, size_t index, size_t count,
                                        toolkit::BarButtonItem::Action tapped);
// An access the user refused: the title and message, "Cancel" and "Settings" (preferred, which
// opens the app's page of the system's settings).
HXAlert hxPermissionAlert(std::string title, std::string message);
// The photo library's refusal.
HXAlert hxPhotoLibraryDeniedAlert();
