#include "emulator/media_pictures.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/strings.h"
#include "platform/graphics/codecs.h"
#include "platform/graphics/image.h"
#include "platform/services/contacts.h"

namespace emulator {

namespace {

// A diagonal gradient between two colours drawn from the id, with bands that move by frame (so a
// GIF's frames differ and a scaled copy still looks like its original).
std::shared_ptr<graphics::Bitmap> drawFrame(const std::string& id, int width, int height, int frame) {
    auto made = graphics::Bitmap::make(width, height);
    if (!made.ok()) return nullptr;
    auto bitmap = *made;
    const uint64_t h = foundation::stableHash64(id);
    const uint8_t r0 = static_cast<uint8_t>(h), g0 = static_cast<uint8_t>(h >> 8), b0 = static_cast<uint8_t>(h >> 16);
    const uint8_t r1 = static_cast<uint8_t>(h >> 24), g1 = static_cast<uint8_t>(h >> 32),
                  b1 = static_cast<uint8_t>(h >> 40);
    const double span = std::max(1, width + height - 2);
    const int band = std::max(8, std::min(width, height) / 6);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double t = (x + y) / span;
            auto mix = [t](uint8_t a, uint8_t b) { return static_cast<uint8_t>(a + (b - a) * t); };
            uint8_t r = mix(r0, r1), g = mix(g0, g1), b = mix(b0, b1);
            if (((x + frame * band / 2) / band + y / band) % 2 == 0) r = 255 - r, g = 255 - g, b = 255 - b;
            bitmap->setRGBA(x, y, r, g, b, 255);
        }
    }
    return bitmap;
}

std::string bytesOf(const foundation::Data& data) { return std::string(data.begin(), data.end()); }

// Box-averaged to fit side x side (never enlarged).
std::shared_ptr<graphics::Bitmap> fitted(const graphics::Bitmap& source, int side) {
    const auto [w, h] = fittedPictureSize({source.width(), source.height()}, side);
    auto made = graphics::Bitmap::make(w, h);
    if (!made.ok()) return nullptr;
    auto out = *made;
    for (int y = 0; y < h; ++y) {
        const int sy0 = y * source.height() / h, sy1 = std::max(sy0 + 1, (y + 1) * source.height() / h);
        for (int x = 0; x < w; ++x) {
            const int sx0 = x * source.width() / w, sx1 = std::max(sx0 + 1, (x + 1) * source.width() / w);
            unsigned sum[4] = {0, 0, 0, 0};
            unsigned n = 0;
            for (int sy = sy0; sy < sy1; ++sy)
                for (int sx = sx0; sx < sx1; ++sx, ++n) {
                    const auto p = source.rgbaAt(sx, sy);
                    for (int k = 0; k < 4; ++k) sum[k] += p[static_cast<size_t>(k)];
                }
            out->setRGBA(x, y, static_cast<uint8_t>(sum[0] / n), static_cast<uint8_t>(sum[1] / n),
                         static_cast<uint8_t>(sum[2] / n), static_cast<uint8_t>(sum[3] / n));
        }
    }
    return out;
}

std::string thumbnailOf(const std::string& id, const Media& media) {
    if (media.width > 0) {
        // A drawn picture is drawn again at the thumbnail's size (a GIF keeps its frames).
        const auto [w, h] = fittedPictureSize({media.width, media.height}, kThumbnailSide);
        return drawPicture(id, media.mimeType, w, h);
    }
    // A GIF a client sent is answered whole (its frames are not scaled here); a still picture
    // is scaled down as a JPEG; anything that does not decode is answered as it is.
    if (media.mimeType == "image/gif" || !foundation::hasPrefix(media.mimeType, "image/")) return media.bytes;
    auto decoded = graphics::decodeImage(reinterpret_cast<const uint8_t*>(media.bytes.data()), media.bytes.size());
    if (!decoded.ok()) return media.bytes;
    const auto& bitmap = **decoded;
    if (bitmap.width() <= kThumbnailSide && bitmap.height() <= kThumbnailSide) return media.bytes;
    auto small = fitted(bitmap, kThumbnailSide);
    if (!small) return media.bytes;
    auto jpeg = graphics::encodeJPEG(*small, 0.8);
    return jpeg.ok() ? bytesOf(*jpeg) : media.bytes;
}

std::optional<PictureSize> decodedSize(const std::string& bytes) {
    auto decoded = graphics::decodeImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!decoded.ok()) return std::nullopt;
    return PictureSize{(*decoded)->width(), (*decoded)->height()};
}

}  // namespace

PictureSize fittedPictureSize(PictureSize size, int side) {
    if (size.width <= 0 || size.height <= 0) return {0, 0};
    const double factor =
        std::min(1.0, std::min(static_cast<double>(side) / size.width, static_cast<double>(side) / size.height));
    return {std::max(1, static_cast<int>(std::lround(size.width * factor))),
            std::max(1, static_cast<int>(std::lround(size.height * factor)))};
}

std::optional<PictureSize> shownPictureSize(const Media& media) {
    if (!media.preview.empty()) return decodedSize(media.preview);
    if (!foundation::hasPrefix(media.mimeType, "image/")) return std::nullopt;
    if (media.width > 0) return PictureSize{media.width, media.height};
    return decodedSize(media.bytes);
}

std::string drawPicture(const std::string& id, const std::string& mimeType, int width, int height) {
    if (mimeType == "image/gif") {
        std::vector<std::shared_ptr<graphics::Bitmap>> frames;
        for (int f = 0; f < 3; ++f) frames.push_back(drawFrame(id, width, height, f));
        auto gif = graphics::encodeGIF(frames, 0.2);
        return gif.ok() ? bytesOf(*gif) : std::string();
    }
    auto frame = drawFrame(id, width, height, 0);
    if (!frame) return {};
    auto jpeg = graphics::encodeJPEG(*frame, 0.85);
    return jpeg.ok() ? bytesOf(*jpeg) : std::string();
}

std::string mediaAtSize(const std::string& id, Media& media, int size) {
    if (media.width > 0 && media.bytes.empty())
        media.bytes = drawPicture(id, media.mimeType, media.width, media.height);
    if (size == 1 || !foundation::hasPrefix(media.mimeType, "image/")) return media.bytes;
    if (media.thumbnail.empty()) media.thumbnail = thumbnailOf(id, media);
    return media.thumbnail;
}

std::string vCardNamed(const std::string& kind) {
    auto person = [](std::string given, std::string family, std::string number) {
        services::Contact c;
        c.givenName = std::move(given);
        c.familyName = std::move(family);
        c.phoneNumbers.push_back({services::kLabelPhoneNumberMobile, std::move(number), ""});
        c.identifier = "card-" + c.givenName + "-" + c.familyName;
        return c;
    };
    std::vector<services::Contact> cards;
    if (kind == "person") {
        auto c = person("Ada", "Lovelace", "+44 20 7946 0958");
        const std::string photo = drawPicture("photo-ada", "image/jpeg", 96, 96);
        c.imageData = foundation::Data(photo.begin(), photo.end());
        cards.push_back(std::move(c));
    } else if (kind == "organisation") {
        services::Contact c;
        c.contactType = services::ContactType::Organization;
        c.organizationName = "Acme & Sons";
        c.phoneNumbers.push_back({services::kLabelPhoneNumberMain, "+1 555 0100", ""});
        c.identifier = "acme-and-sons";
        cards.push_back(std::move(c));
    } else {
        cards = {person("Ann", "Lee", "+1 555 0101"), person("Bo", "Kim", "+1 555 0102"),
                 person("Cy", "O'Neil", "+1 555 0103")};
    }
    return services::writeVCards(cards, 3);
}

}  // namespace emulator
