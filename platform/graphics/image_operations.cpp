#include "platform/graphics/image_operations.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/codecs.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/screen_scale.h"

namespace graphics {

std::optional<foundation::Data> jpegRepresentation(const ImagePtr& image, double quality) {
    if (!image) return std::nullopt;
    auto bitmap = image->bitmap();
    if (!bitmap) return std::nullopt;
    auto data = encodeJPEG(*bitmap, quality);
    if (!data.ok()) return std::nullopt;
    return std::move(*data);
}

std::optional<foundation::Data> pngRepresentation(const ImagePtr& image) {
    if (!image) return std::nullopt;
    auto bitmap = image->bitmap();
    if (!bitmap) return std::nullopt;
    auto data = encodePNG(*bitmap);
    if (!data.ok()) return std::nullopt;
    return std::move(*data);
}

ImagePtr imageWithFixedOrientationOfImage(const ImagePtr& image) {
    if (!image || image->orientation() == ImageOrientation::up) return image;
    const Size s = image->size();
    const int w = static_cast<int>(s.width), h = static_cast<int>(s.height);
    auto context = GraphicsContext::bitmap(w, h);
    if (!context.ok()) return nullptr;
    (*context)->drawImage(*image, Rect{0, 0, static_cast<double>(w), static_cast<double>(h)});
    return Image::fromBitmap((*context)->copyBitmap(), 1, ImageOrientation::up);
}

ImagePtr resizedWithPercentage(const ImagePtr& image, double f) {
    if (!image) return nullptr;
    const Size s = image->size();
    auto context = GraphicsContext::image({s.width * f, s.height * f}, false, image->scale());
    if (!context.ok()) return nullptr;
    (*context)->drawImage(*image, Rect{0, 0, s.width * f, s.height * f});
    return (*context)->makeImage();
}

std::optional<foundation::Data> UIImageJPEGRepresentationWithMaxSize(const ImagePtr& image, double maxSize,
                                                                     double quality) {
    auto data = jpegRepresentation(image, quality);
    if (!data || data->empty()) return std::nullopt;
    ImagePtr current = image;
    while (static_cast<double>(data->size()) > maxSize || std::isnan(maxSize)) {
        ImagePtr smaller = resizedWithPercentage(current, 0.9);
        if (!smaller ||
            (smaller->pixelWidth() >= current->pixelWidth() && smaller->pixelHeight() >= current->pixelHeight())) {
            return std::nullopt;  // one pixel and still too large: the limit cannot be met
        }
        current = smaller;
        data = jpegRepresentation(current, quality);
        if (!data || data->empty()) return std::nullopt;
    }
    return data;
}

ImagePtr imageTintedWithColor(const ImagePtr& image, const std::optional<Color>& color, double fraction) {
    if (!image || !color) return image;
    const Size s = image->size();
    auto context = GraphicsContext::image(s, false, mainScreenScale());
    if (!context.ok()) return nullptr;
    GraphicsContext& c = **context;
    const Rect all{0, 0, s.width, s.height};
    c.setFillColor(*color);
    c.fillRect(all);
    c.drawImage(*image, all, BlendMode::destinationIn, 1);
    if (fraction > 0) c.drawImage(*image, all, BlendMode::sourceAtop, fraction);
    return c.makeImage();
}

ImagePtr imageToFitSize(const ImagePtr& image, Size box, int method) {
    if (!image) return nullptr;
    // The ratios and sizes are computed in single precision, rounding halves away from zero.
    const float W = static_cast<float>(box.width), H = static_cast<float>(box.height);
    if (!(W > 0) || !(H > 0) || !std::isfinite(W) || !std::isfinite(H)) return nullptr;
    const float s = image->scale() > 0 ? static_cast<float>(image->scale()) : 1.0f;
    const Size size = image->size();
    const float sw = static_cast<float>(size.width) * s, sh = static_cast<float>(size.height) * s;
    if (!(sw > 0) || !(sh > 0)) return nullptr;
    const float R = sw / sh, T = W / H;
    const bool cropping = method != 3;
    const bool byWidth = cropping ? R <= T : R > T;
    float SW, SH;
    if (byWidth) {
        SW = W;
        SH = std::round(W * (1 / R));
    } else {
        SW = std::round(H * R);
        SH = H;
    }
    const float k = SH / sh;
    Rect source, destination;
    if (cropping) {
        float x = 0, y = 0;
        switch (method) {
            case 0:
                x = std::round((SW - W) * 0.5f), y = std::round((SH - H) * 0.5f);
                break;
            case 1:
                if (!byWidth) y = std::round((SH - H) * 0.5f);
                break;
            case 2:
                if (byWidth) {
                    x = std::round((SW - W) * 0.5f), y = std::round(SH - H);
                } else {
                    x = std::round(SW - W), y = std::round((SH - H) * 0.5f);
                }
                break;
            default:
                break;
        }
        destination = Rect{0, 0, W, H};
        // The cut-out is taken in whole pixels of the upright picture.
        source = Rect{x / k, y / k, W / k, H / k}.integral().intersection(Rect{0, 0, sw, sh});
    } else {
        source = Rect{0, 0, sw, sh};
        destination = Rect{0, 0, SW, SH};
    }
    if (source.isEmpty() || destination.isEmpty()) return nullptr;
    auto context = GraphicsContext::image(destination.size, false, mainScreenScale());
    if (!context.ok()) return nullptr;
    // The whole upright picture placed so that the cut-out fills the destination; the context's
    // bounds clip the rest. Cutting the upright picture (not the stored pixels) keeps turned
    // camera pictures whole.
    const double kx = destination.width() / source.width(), ky = destination.height() / source.height();
    // A picture many times the size drawn is drawn from pixels reduced while decoding (a
    // camera's picture as a thumbnail never decodes whole).
    const double pixelScale = (*context)->scale();
    const ImagePtr drawn = image->reducedFor({sw * kx * pixelScale, sh * ky * pixelScale});
    if (!drawn) return nullptr;
    (*context)->clipToRect(destination);
    (*context)->drawImage(*drawn, Rect{-source.minX() * kx, -source.minY() * ky, sw * kx, sh * ky});
    return (*context)->makeImage();
}

ImagePtr imageCroppedToFitSize(const ImagePtr& image, Size size) { return imageToFitSize(image, size, 0); }
ImagePtr imageScaledToFitSize(const ImagePtr& image, Size size) { return imageToFitSize(image, size, 3); }

ImagePtr makeRoundedImageWithRadius(const ImagePtr& image, float radius) {
    if (!image) return nullptr;
    const Size s = image->size();
    auto context = GraphicsContext::image(s, false, image->scale());
    if (!context.ok()) return nullptr;
    GraphicsContext& c = **context;
    const Rect all{0, 0, s.width, s.height};
    c.addPath(Path::roundedRect(all, radius));
    c.clip();
    c.drawImage(*image, all);
    return c.makeImage();
}

ImagePtr makeRoundImage(const ImagePtr& image) {
    if (!image) return nullptr;
    const Size s = image->size();
    return makeRoundedImageWithRadius(image, std::floor(static_cast<float>(std::min(s.width, s.height)) / 2));
}

}  // namespace graphics
