#include "platform/graphics/named_images.h"

#include <librsvg/rsvg.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

#include "platform/foundation/bundle.h"
#include "platform/foundation/files.h"
#include "platform/foundation/thread_annotations.h"
#include "platform/graphics/graphics_context.h"
#include "platform/graphics/screen_scale.h"

namespace graphics {
namespace {

double effectiveScale(double scale) { return scale > 0 && std::isfinite(scale) ? scale : mainScreenScale(); }

struct HandleDeleter {
    void operator()(RsvgHandle* h) const { g_object_unref(h); }
};

std::optional<foundation::Data> readResource(const std::string& name, const char* type, const char* folder) {
    auto path = foundation::Bundle::main().pathForResource(name, type, folder);
    if (!path) return std::nullopt;
    auto data = foundation::files::readData(*path);
    if (!data.ok()) return std::nullopt;
    return std::move(*data);
}

// Named images made once per file and scale, as long as the file stays as it was: drawing code
// asks for its images every time it draws, and an SVG costs a rasterisation each time.
class NamedImageCache {
public:
    // The image of the file at the scale, made by make (and kept) unless one is kept already.
    template <typename Make>
    ImagePtr get(const std::filesystem::path& path, double scale, Make make) {
        std::error_code ec;
        const auto stamp = std::filesystem::last_write_time(path, ec);
        if (ec) return make();
        const auto size = std::filesystem::file_size(path, ec);
        if (ec) return make();
        const Key key{path.string(), scale};
        {
            std::lock_guard lock(mutex_);
            if (auto it = kept_.find(key); it != kept_.end() && it->second.stamp == stamp && it->second.size == size)
                return it->second.image;
        }
        ImagePtr image = make();
        if (image) {
            std::lock_guard lock(mutex_);
            kept_[key] = Entry{stamp, size, image};
        }
        return image;
    }

private:
    using Key = std::pair<std::string, double>;
    struct Entry {
        std::filesystem::file_time_type stamp;
        uintmax_t size = 0;
        ImagePtr image;
    };
    foundation::Mutex mutex_;
    std::map<Key, Entry> kept_ HX_GUARDED_BY(mutex_);
};

NamedImageCache& namedImageCache() {
    static auto* cache = new NamedImageCache();
    return *cache;
}

}  // namespace

ImagePtr imageFromSVG(const foundation::Data& svg, std::optional<Size> size, double scale) {
    GError* error = nullptr;
    std::unique_ptr<RsvgHandle, HandleDeleter> handle(rsvg_handle_new_from_data(svg.data(), svg.size(), &error));
    if (error) g_error_free(error);
    if (!handle) return nullptr;
    gdouble w = 0, h = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &w, &h) || !(w > 0) || !(h > 0)) {
        // Without a width and height the view box is the size.
        gboolean hasWidth = FALSE, hasHeight = FALSE, hasViewBox = FALSE;
        RsvgLength width{}, height{};
        RsvgRectangle viewBox{};
        rsvg_handle_get_intrinsic_dimensions(handle.get(), &hasWidth, &width, &hasHeight, &height, &hasViewBox,
                                             &viewBox);
        if (!hasViewBox || !(viewBox.width > 0) || !(viewBox.height > 0)) return nullptr;
        w = viewBox.width, h = viewBox.height;
    }
    const Size target = size.value_or(Size{w, h});
    const double k = effectiveScale(scale);
    auto context = GraphicsContext::image(target, false, k);
    if (!context.ok()) return nullptr;
    RsvgRectangle viewport{0, 0, target.width, target.height};
    if (!rsvg_handle_render_document(handle.get(), (*context)->cairo(), &viewport, &error)) {
        if (error) g_error_free(error);
        return nullptr;
    }
    return GraphicsContext::finishImage(std::move(*context));
}

ImagePtr imageNamed(const std::string& name, double scale) {
    const double k = effectiveScale(scale);
    if (auto path = foundation::Bundle::main().pathForResource(name, ".svg", "images")) {
        return namedImageCache().get(*path, k, [&]() -> ImagePtr {
            auto svg = foundation::files::readData(*path);
            if (!svg.ok()) return nullptr;
            ImagePtr image = imageFromSVG(*svg, std::nullopt, k);
            return image ? image->withName(name, false) : nullptr;
        });
    }
    // The PNG drawn for the nearest scale at or above the one asked, else the largest there is.
    const int wanted = static_cast<int>(std::ceil(k - 1e-9));
    for (int s : {wanted, 3, 2, 1}) {
        if (s < 1 || s > 3) continue;
        const std::string file = s == 1 ? name : name + "@" + std::to_string(s) + "x";
        if (auto png = readResource(file, ".png", "images")) {
            auto image = Image::fromEncoded(std::move(*png), s);
            if (image.ok()) return (*image)->withName(name, false);
        }
    }
    return nullptr;
}

ImagePtr systemImageNamed(const std::string& name, double pointSize, double scale) {
    auto svg = readResource(name, ".svg", "symbols");
    if (!svg || !(pointSize > 0)) return nullptr;
    ImagePtr natural = imageFromSVG(*svg, std::nullopt, 1);
    if (!natural) return nullptr;
    const Size s = natural->size();
    const Size size{s.width * pointSize / s.height, pointSize};
    ImagePtr drawn = imageFromSVG(*svg, size, effectiveScale(scale));
    return drawn ? drawn->withRenderingMode(RenderingMode::alwaysTemplate)->withName(name, true) : nullptr;
}

}  // namespace graphics
