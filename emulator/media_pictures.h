// Pictures of the emulated service: the ones it draws for its generated account (drawn when first
// asked for, the same for the same id on every machine) and the sizes its media route answers:
// "s=1" the original, any other size the picture scaled to fit 512 x 512 (the "s512" size the
// thread lists announce). Bytes that are no picture the route can read are answered as they are.
// The thread lists announce the sizes of the picture a media item shows: a picture's, a video's
// preview's.
#pragma once

#include <optional>
#include <string>

#include "emulator/emulator.h"

namespace emulator {

inline constexpr int kThumbnailSide = 512;

// A JPEG ("image/jpeg") or a looping three-frame GIF ("image/gif") of the size, its colours
// drawn from the id.
std::string drawPicture(const std::string& id, const std::string& mimeType, int width, int height);
// The media's bytes at a size ("s" of the request; 1 the original). Draws a generated picture on
// first use and keeps what it drew (and its thumbnail) in the media.
std::string mediaAtSize(const std::string& id, Media& media, int size);
struct PictureSize {
    int width = 0;
    int height = 0;
};
// The size of the picture a media item shows: a picture's own (a drawn one's, or what its bytes
// decode to) or a video's preview's; none for media that shows no picture.
std::optional<PictureSize> shownPictureSize(const Media& media);
// A size scaled to fit side x side, never enlarged: the size of the service's scaled copies.
PictureSize fittedPictureSize(PictureSize size, int side);
// A vCard of the account's cards: "person" (with a photo), "organisation" or "three".
std::string vCardNamed(const std::string& kind);

}  // namespace emulator
