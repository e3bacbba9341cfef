#include "platform/graphics/image.h"

#include <array>
#include <cmath>
#include <mutex>

#include "platform/graphics/codecs.h"

namespace graphics {

// The pixels behind one or more images: encoded bytes decoded once, or a drawn bitmap.
struct Image::Source {
    foundation::Data encoded;
    ImageHeader header;
    std::once_flag once;
    std::shared_ptr<const Bitmap> bitmap;
    std::optional<foundation::Error> error;
    std::mutex turnedMutex;
    std::array<std::shared_ptr<const Bitmap>, 8> turned;  // by orientation

    void decode() {
        std::call_once(once, [this] {
            if (bitmap) return;
            auto decoded = decodeImage(encoded.data(), encoded.size());
            if (decoded.ok()) {
                bitmap = std::move(*decoded);
            } else {
                error = decoded.error();
            }
        });
    }
};

foundation::Result<ImagePtr> Image::fromEncoded(foundation::Data bytes, double scale) {
    if (!(scale > 0) || !std::isfinite(scale)) return imageError(kImageCorruptError, "scale must be positive");
    auto header = readImageHeader(bytes.data(), bytes.size());
    if (!header.ok()) return header.error();
    auto source = std::make_shared<Source>();
    source->header = *header;
    source->encoded = std::move(bytes);
    std::shared_ptr<Image> image(new Image);
    image->source_ = std::move(source);
    image->scale_ = scale;
    image->orientation_ = orientationFromExif(header->exifOrientation);
    return ImagePtr(std::move(image));
}

ImagePtr Image::fromBitmap(std::shared_ptr<const Bitmap> bitmap, double scale, ImageOrientation orientation) {
    if (!bitmap) return nullptr;
    auto source = std::make_shared<Source>();
    source->header = ImageHeader{bitmap->width(), bitmap->height(), ""};
    source->bitmap = std::move(bitmap);
    std::shared_ptr<Image> image(new Image);
    image->source_ = std::move(source);
    image->scale_ = scale > 0 && std::isfinite(scale) ? scale : 1;
    image->orientation_ = orientation;
    return image;
}

int64_t Image::pixelWidth() const { return source_->header.pixelWidth; }
int64_t Image::pixelHeight() const { return source_->header.pixelHeight; }
const std::string& Image::format() const { return source_->header.format; }
const foundation::Data& Image::encoded() const { return source_->encoded; }

Size Image::size() const {
    const double w = static_cast<double>(pixelWidth()) / scale_, h = static_cast<double>(pixelHeight()) / scale_;
    switch (orientation_) {
        case ImageOrientation::left:
        case ImageOrientation::right:
        case ImageOrientation::leftMirrored:
        case ImageOrientation::rightMirrored:
            return {h, w};
        default:
            return {w, h};
    }
}

std::shared_ptr<const Bitmap> Image::bitmap() const {
    source_->decode();
    return source_->bitmap;
}

std::shared_ptr<const Bitmap> Image::uprightBitmap() const {
    auto stored = bitmap();
    if (!stored || orientation_ == ImageOrientation::up) return stored;
    const auto slot = static_cast<size_t>(orientation_);
    std::lock_guard lock(source_->turnedMutex);
    if (slot >= source_->turned.size()) return stored;
    if (auto kept = source_->turned[slot]) return kept;
    const int pw = stored->width(), ph = stored->height();
    const bool sideways = orientation_ == ImageOrientation::left || orientation_ == ImageOrientation::right ||
                          orientation_ == ImageOrientation::leftMirrored ||
                          orientation_ == ImageOrientation::rightMirrored;
    const int uw = sideways ? ph : pw, uh = sideways ? pw : ph;
    auto made = Bitmap::make(uw, uh);
    if (!made.ok()) return stored;
    auto upright = *made;
    for (int uy = 0; uy < uh; ++uy) {
        uint32_t* out = upright->row(uy);
        for (int ux = 0; ux < uw; ++ux) {
            // Which stored pixel shows at (ux, uy).
            int sx = ux, sy = uy;
            switch (orientation_) {
                case ImageOrientation::up:
                    break;
                case ImageOrientation::down:
                    sx = pw - 1 - ux, sy = ph - 1 - uy;
                    break;
                case ImageOrientation::left:
                    sx = pw - 1 - uy, sy = ux;
                    break;
                case ImageOrientation::right:
                    sx = uy, sy = ph - 1 - ux;
                    break;
                case ImageOrientation::upMirrored:
                    sx = pw - 1 - ux;
                    break;
                case ImageOrientation::downMirrored:
                    sy = ph - 1 - uy;
                    break;
                case ImageOrientation::leftMirrored:
                    sx = uy, sy = ux;
                    break;
                case ImageOrientation::rightMirrored:
                    sx = pw - 1 - uy, sy = ph - 1 - ux;
                    break;
            }
            out[ux] = stored->row(sy)[sx];
        }
    }
    source_->turned[slot] = upright;
    return upright;
}

std::optional<foundation::Error> Image::decodeError() const {
    source_->decode();
    return source_->error;
}

namespace {
template <typename F>
ImagePtr modified(const Image& image, F change) {
    auto copy = std::make_shared<Image>(image);
    change(*copy);
    return copy;
}
}  // namespace

ImagePtr Image::withRenderingMode(RenderingMode mode) const {
    return modified(*this, [&](Image& i) { i.renderingMode_ = mode; });
}

ImagePtr Image::withTintColor(const Color& color) const {
    return modified(*this, [&](Image& i) {
        i.tintColor_ = color;
        i.renderingMode_ = RenderingMode::alwaysTemplate;
    });
}

ImagePtr Image::resizableWithCapInsets(const EdgeInsets& insets, ResizingMode mode) const {
    return modified(*this, [&](Image& i) {
        i.capInsets_ = insets;
        i.resizingMode_ = mode;
    });
}

ImagePtr Image::stretchable(int leftCapWidth, int topCapHeight) const {
    // The middle column and row are one point wide and stretch; the right and bottom caps are the rest.
    const Size s = size();
    EdgeInsets insets{static_cast<double>(topCapHeight), static_cast<double>(leftCapWidth), 0, 0};
    if (topCapHeight > 0) insets.bottom = std::max(0.0, s.height - topCapHeight - 1);
    if (leftCapWidth > 0) insets.right = std::max(0.0, s.width - leftCapWidth - 1);
    return resizableWithCapInsets(insets, ResizingMode::stretch);
}

ImagePtr Image::withOrientation(ImageOrientation orientation) const {
    return modified(*this, [&](Image& i) { i.orientation_ = orientation; });
}

ImagePtr Image::withScale(double scale) const {
    return modified(*this, [&](Image& i) { i.scale_ = scale > 0 && std::isfinite(scale) ? scale : 1; });
}

ImagePtr Image::reducedFor(Size pixels) const {
    const bool sideways = orientation_ == ImageOrientation::left || orientation_ == ImageOrientation::right ||
                          orientation_ == ImageOrientation::leftMirrored ||
                          orientation_ == ImageOrientation::rightMirrored;
    // In the stored pixels' directions.
    const auto w = static_cast<int64_t>(std::ceil(std::max(1.0, sideways ? pixels.height : pixels.width)));
    const auto h = static_cast<int64_t>(std::ceil(std::max(1.0, sideways ? pixels.width : pixels.height)));
    const ImageHeader& header = source_->header;
    const bool muchLarger = header.pixelWidth >= 2 * w && header.pixelHeight >= 2 * h;
    if (source_->encoded.empty() || !muchLarger) return modified(*this, [](Image&) {});
    foundation::Result<std::shared_ptr<Bitmap>> reduced = imageError(kImageCorruptError, "not reduced");
    if (header.format == "public.png") {
        reduced = decodePNGReduced(source_->encoded.data(), source_->encoded.size(), w, h);
    } else if (header.format == "public.jpeg") {
        reduced = decodeJPEGReduced(source_->encoded.data(), source_->encoded.size(), w, h);
    } else {
        if (header.pixelWidth * header.pixelHeight > kReducedWholePixelLimit) return nullptr;
        return modified(*this, [](Image&) {});
    }
    if (!reduced.ok()) return nullptr;
    const double factor = static_cast<double>(header.pixelWidth) / (*reduced)->width();
    auto source = std::make_shared<Source>();
    source->header = ImageHeader{(*reduced)->width(), (*reduced)->height(), ""};
    source->bitmap = std::move(*reduced);
    return modified(*this, [&](Image& i) {
        i.source_ = std::move(source);
        i.scale_ = scale_ / factor;
    });
}

ImagePtr Image::withHorizontallyFlippedOrientation() const {
    static const ImageOrientation flipped[8] = {
        ImageOrientation::upMirrored,   ImageOrientation::downMirrored, ImageOrientation::rightMirrored,
        ImageOrientation::leftMirrored, ImageOrientation::up,           ImageOrientation::down,
        ImageOrientation::right,        ImageOrientation::left};
    return withOrientation(flipped[static_cast<int>(orientation_)]);
}

ImagePtr Image::withName(std::string name, bool symbol) const {
    return modified(*this, [&](Image& i) {
        i.name_ = std::move(name);
        i.symbol_ = symbol;
    });
}

foundation::Result<foundation::Data> Image::archivedData() const {
    if (!source_->encoded.empty()) return source_->encoded;
    return encodePNG(*source_->bitmap);
}

foundation::Dictionary Image::toDictionary() const {
    auto data = archivedData();
    foundation::Dictionary d{{"pixelWidth", pixelWidth()},
                             {"pixelHeight", pixelHeight()},
                             {"scale", scale_},
                             {"format", format().empty() ? std::string("public.png") : format()},
                             {"data", data.ok() ? *data : foundation::Data{}}};
    if (orientation_ != orientationFromExif(source_->header.exifOrientation))
        d.set("orientation", static_cast<int64_t>(orientation_));
    return d;
}

foundation::Result<ImagePtr> Image::fromDictionary(const foundation::Dictionary& d) {
    const foundation::Value& data = d.get("data");
    const foundation::Value& scale = d.get("scale");
    const foundation::Value& w = d.get("pixelWidth");
    const foundation::Value& h = d.get("pixelHeight");
    const foundation::Value& format = d.get("format");
    const foundation::Value& orientation = d.get("orientation");
    if (!data.isData() || !scale.isNumber() || !w.isInt() || !h.isInt() || !format.isString()) {
        return imageError(kImageCorruptError, "missing or mistyped image fields");
    }
    auto image = fromEncoded(data.asData(), scale.doubleValue());
    if (!image.ok()) return image.error();
    const Image& i = **image;
    if (i.pixelWidth() != *w.ifInt() || i.pixelHeight() != *h.ifInt() || i.format() != format.asString()) {
        return imageError(kImageCorruptError, "the recorded size or format does not match the data");
    }
    if (orientation.isInt()) {
        const int64_t o = *orientation.ifInt();
        if (o < 0 || o > 7) return imageError(kImageCorruptError, "unknown orientation");
        return (*image)->withOrientation(static_cast<ImageOrientation>(o));
    }
    return image;
}

bool operator==(const Image& a, const Image& b) {
    const bool samePixels = a.source_ == b.source_ ||
                            (!a.source_->encoded.empty() && a.source_->encoded == b.source_->encoded) ||
                            (a.source_->bitmap && b.source_->bitmap && *a.source_->bitmap == *b.source_->bitmap);
    return samePixels && a.scale_ == b.scale_ && a.orientation_ == b.orientation_ &&
           a.renderingMode_ == b.renderingMode_ && a.capInsets_ == b.capInsets_ && a.resizingMode_ == b.resizingMode_ &&
           a.tintColor_ == b.tintColor_ && a.name_ == b.name_ && a.symbol_ == b.symbol_;
}

}  // namespace graphics
