#include "RurIdurev/RurIdurev/Internals/Model/log_with_properties.h"

foundation::Dictionary ZIVOLogWithProperties::serializeToDictionary() const {
    foundation::Dictionary dict = ZIVOAbstractLog::serializeToDictionary();
    if (properties_ && !properties_->empty()) dict.set("properties", *properties_);
    return dict;
}

void ZIVOLogWithProperties::encode(foundation::Coder& coder) const {
    ZIVOAbstractLog::encode(coder);
    if (properties_) coder.encodeValue("properties", *properties_);
}

void ZIVOLogWithProperties::decodeFields(foundation::Decoder& decoder) {
    ZIVOAbstractLog::decodeFields(decoder);
    foundation::Value properties = decoder.decodeValue("properties");
    if (auto* dict = properties.ifDictionary()) properties_ = std::move(*dict);
}

std::shared_ptr<ZIVOLogWithProperties> ZIVOLogWithProperties::decode(foundation::Decoder& decoder) {
    auto log = std::make_shared<ZIVOLogWithProperties>();
    log->decodeFields(decoder);
    return log;
}

bool ZIVOLogWithProperties::isEqual(const ZIVOSerializableObject& other) const {
    const auto* log = dynamic_cast<const ZIVOLogWithProperties*>(&other);
    return log && ZIVOAbstractLog::isEqual(other) && properties_ == log->properties_;
}
