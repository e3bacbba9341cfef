#include "model/cached_object.h"

#include <mutex>

void HXCCachedImage::encode(foundation::Coder& coder) const {
    const foundation::Dictionary fields = image_->toDictionary();
    coder.encodeInt64("pixelWidth", fields.get("pixelWidth").int64Value());
    coder.encodeInt64("pixelHeight", fields.get("pixelHeight").int64Value());
    coder.encodeDouble("scale", fields.get("scale").doubleValue());
    coder.encodeString("format", fields.get("format").asString());
    coder.encodeData("data", fields.get("data").asData());
    if (fields.contains("orientation")) coder.encodeInt64("orientation", fields.get("orientation").int64Value());
}

std::shared_ptr<HXCCachedImage> HXCCachedImage::decode(foundation::Decoder& decoder) {
    foundation::Dictionary fields;
    fields.set("pixelWidth", decoder.decodeInt64("pixelWidth"));
    fields.set("pixelHeight", decoder.decodeInt64("pixelHeight"));
    fields.set("scale", decoder.decodeDouble("scale"));
    if (auto format = decoder.decodeString("format")) fields.set("format", *format);
    if (auto data = decoder.decodeData("data")) fields.set("data", std::move(*data));
    if (decoder.containsValue("orientation")) fields.set("orientation", decoder.decodeInt64("orientation"));
    // The image value checks the bytes against the recorded size and format.
    auto image = graphics::Image::fromDictionary(fields);
    if (!image.ok()) return nullptr;
    return std::make_shared<HXCCachedImage>(std::move(*image));
}

void HXCCachedImage::registerClass() {
    static std::once_flag once;
    std::call_once(once, [] { foundation::ArchiveClassRegistry::shared().registerClass<HXCCachedImage>(kClassName); });
}
