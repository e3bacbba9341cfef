#include "RurIdurev/RurIdurev/Internals/Model/typed_property.h"

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"

foundation::Dictionary ZIVOTypedProperty::serializeToDictionary() const {
    foundation::Dictionary dict;
    zivoSetIfPresent(dict, "type", type_);
    zivoSetIfPresent(dict, "name", name_);
    return dict;
}

bool ZIVOTypedProperty::isEqual(const ZIVOSerializableObject& other) const {
    const auto* p = dynamic_cast<const ZIVOTypedProperty*>(&other);
    return p && type_ == p->type_;
}

foundation::Dictionary ZIVOBooleanTypedProperty::serializeToDictionary() const {
    auto dict = ZIVOTypedProperty::serializeToDictionary();
    dict.set("value", value_);
    return dict;
}

bool ZIVOBooleanTypedProperty::isEqual(const ZIVOSerializableObject& other) const {
    const auto* p = dynamic_cast<const ZIVOBooleanTypedProperty*>(&other);
    return p && ZIVOTypedProperty::isEqual(other) && value_ == p->value_;
}

foundation::Dictionary ZIVODateTimeTypedProperty::serializeToDictionary() const {
    auto dict = ZIVOTypedProperty::serializeToDictionary();
    if (value_) dict.set("value", ZIVOUtility::dateToISO8601(*value_));
    return dict;
}

bool ZIVODateTimeTypedProperty::isEqual(const ZIVOSerializableObject& other) const {
    const auto* p = dynamic_cast<const ZIVODateTimeTypedProperty*>(&other);
    return p && ZIVOTypedProperty::isEqual(other) && value_ == p->value_;
}

foundation::Dictionary ZIVODoubleTypedProperty::serializeToDictionary() const {
    auto dict = ZIVOTypedProperty::serializeToDictionary();
    dict.set("value", value_);
    return dict;
}

bool ZIVODoubleTypedProperty::isEqual(const ZIVOSerializableObject& other) const {
    const auto* p = dynamic_cast<const ZIVODoubleTypedProperty*>(&other);
    return p && ZIVOTypedProperty::isEqual(other) && value_ == p->value_;
}

foundation::Dictionary ZIVOLongTypedProperty::serializeToDictionary() const {
    auto dict = ZIVOTypedProperty::serializeToDictionary();
    dict.set("value", value_);
    return dict;
}

bool ZIVOLongTypedProperty::isEqual(const ZIVOSerializableObject& other) const {
    const auto* p = dynamic_cast<const ZIVOLongTypedProperty*>(&other);
    return p && ZIVOTypedProperty::isEqual(other) && value_ == p->value_;
}

foundation::Dictionary ZIVOStringTypedProperty::serializeToDictionary() const {
    auto dict = ZIVOTypedProperty::serializeToDictionary();
    if (value_) dict.set("value", *value_);
    return dict;
}

bool ZIVOStringTypedProperty::isEqual(const ZIVOSerializableObject& other) const {
    const auto* p = dynamic_cast<const ZIVOStringTypedProperty*>(&other);
    return p && ZIVOTypedProperty::isEqual(other) && value_ == p->value_;
}
