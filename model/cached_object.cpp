#include "model/cached_object.h"

#include <mutex>

void HXCCachedImage::encode(foundation::Coder& coder) const {
    coder.encodeInt64("pixelWidth", image_.pixelWidth);
    coder.encodeInt64("pixelHeight", image_.pixelHeight);
    coder.encodeDouble("scale", image_.scale);
    coder.encodeString("format", image_.format);
    coder.encodeData("data", image_.encoded);
}

std::shared_ptr<HXCCachedImage> HXCCachedImage::decode(foundation::Decoder& decoder) {
    foundation::Dictionary fields;
    fields.set("pixelWidth", decoder.decodeInt64("pixelWidth"));
    fields.set("pixelHeight", decoder.decodeInt64("pixelHeight"));
    fields.set("scale", decoder.decodeDouble("scale"));
    if (auto format = decoder.decodeString("format")) fields.set("format", *format);
    if (auto data = decoder.decodeData("data")) fields.set("data", std::move(*data));
    // The image value checks the bytes against the recorded size and format.
    auto image = foundation::Image::fromDictionary(fields);
    if (!image.ok()) return nullptr;
    return std::make_shared<HXCCachedImage>(std::move(*image));
}

void HXCCachedImage::registerClass() {
    static std::once_flag once;
    std::call_once(once, [] { foundation::ArchiveClassRegistry::shared().registerClass<HXCCachedImage>(kClassName); });
}
