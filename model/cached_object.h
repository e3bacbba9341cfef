// What the object caches hold: an archivable object (an image, ...) or a plain value (data and
// the other property-list values). Shared and immutable once made.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/value.h"
#include "platform/graphics/image.h"

// An image in an archive: its encoded bytes with their pixel size, scale and format, so
// contact thumbnails and attachment previews can be cached and read back as images.
class HXCCachedImage : public foundation::Archivable {
public:
    explicit HXCCachedImage(graphics::ImagePtr image) : image_(std::move(image)) {}
    const graphics::ImagePtr& image() const { return image_; }

    static constexpr const char* kClassName = "UIImage";
    std::string className() const override { return kClassName; }
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<HXCCachedImage> decode(foundation::Decoder& decoder);
    // Makes the class known to the archive readers (once; safe from any thread).
    static void registerClass();

private:
    graphics::ImagePtr image_;
};

struct HXCCachedObject {
    std::shared_ptr<const foundation::Archivable> archivable;
    foundation::Value value;

    static std::shared_ptr<const HXCCachedObject> withData(foundation::Data data) {
        return std::make_shared<const HXCCachedObject>(HXCCachedObject{nullptr, foundation::Value(std::move(data))});
    }
    static std::shared_ptr<const HXCCachedObject> withValue(foundation::Value value) {
        return std::make_shared<const HXCCachedObject>(HXCCachedObject{nullptr, std::move(value)});
    }
    static std::shared_ptr<const HXCCachedObject> withArchivable(std::shared_ptr<const foundation::Archivable> object) {
        return std::make_shared<const HXCCachedObject>(HXCCachedObject{std::move(object), {}});
    }
    static std::shared_ptr<const HXCCachedObject> withImage(graphics::ImagePtr image) {
        return withArchivable(std::make_shared<HXCCachedImage>(std::move(image)));
    }

    // The image this object holds, if it is one.
    graphics::ImagePtr image() const {
        if (auto held = std::dynamic_pointer_cast<const HXCCachedImage>(archivable)) return held->image();
        return nullptr;
    }
};

using HXCCacheObject = std::shared_ptr<const HXCCachedObject>;
