// Pictures the user attaches to a text (the new message's and the conversation's reply): what
// the clipboard holds as one, and the limit on animated GIFs with its alert.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "model/alert.h"
#include "service/sms_sending.h"

// Longest animated GIF that may be attached (inclusive).
inline constexpr size_t kHXMaxGIFBytes = 2'000'000;
inline constexpr const char* kHXGIFType = "com.compuserve.gif";

// The clipboard's first item as a picture: a GIF of the GIF type as an animated picture, other
// bytes as a still picture, else the clipboard's own image; none when it holds no picture.
std::optional<HXMMSImage> hxPictureFromPasteboard();
// An animated GIF over the limit.
bool hxPictureTooLarge(const HXMMSImage& picture);
// "Image too Large", with "Dismiss".
HXAlert hxImageTooLargeAlert();
// An access the user refused: the title and message, "Cancel" and "Settings" (preferred, which
// opens the app's page of the system's settings).
HXAlert hxPermissionAlert(std::string title, std::string message);
// The photo library's refusal.
HXAlert hxPhotoLibraryDeniedAlert();
