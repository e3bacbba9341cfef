#include "RurIdurev/RurIdurev/Internals/Model/log_with_properties.h"

foundation::Dictionary ZIVOLogWithProperties::serializeToDictionary() const {
    foundation::Dictionary dict = ZIVOAbstractLog::serializeToDictionary();
    if (properties_ && !properties_->empty()) dict.set("properties", *properties_);
    return dict;
}

bool ZIVOLogWithProperties::isEqual(const ZIVOSerializableObject& other) const {
    const auto* log = dynamic_cast<const ZIVOLogWithProperties*>(&other);
    return log && ZIVOAbstractLog::isEqual(other) && properties_ == log->properties_;
}
