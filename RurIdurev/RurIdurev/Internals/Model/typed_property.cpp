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

void ZIVOTypedProperty::encode(foundation::Coder& coder) const {
    zivoEncodeIfPresent(coder, "type", type_);
    zivoEncodeIfPresent(coder, "name", name_);
}

void ZIVOTypedProperty::decodeFields(foundation::Decoder& decoder) {
    type_ = decoder.decodeString("type");
    name_ = decoder.decodeString("name");
}

std::shared_ptr<ZIVOTypedProperty> ZIVOTypedProperty::decode(foundation::Decoder& decoder) {
    auto p = std::make_shared<ZIVOTypedProperty>();
    p->decodeFields(decoder);
    return p;
}

void ZIVOBooleanTypedProperty::encode(foundation::Coder& coder) const {
    ZIVOTypedProperty::encode(coder);
    coder.encodeBool("value", value_);
}

std::shared_ptr<ZIVOBooleanTypedProperty> ZIVOBooleanTypedProperty::decode(foundation::Decoder& decoder) {
    auto p = std::make_shared<ZIVOBooleanTypedProperty>();
    p->decodeFields(decoder);
    p->value_ = decoder.decodeBool("value");
    return p;
}

void ZIVODateTimeTypedProperty::encode(foundation::Coder& coder) const {
    ZIVOTypedProperty::encode(coder);
    if (value_) coder.encodeDate("value", *value_);
}

std::shared_ptr<ZIVODateTimeTypedProperty> ZIVODateTimeTypedProperty::decode(foundation::Decoder& decoder) {
    auto p = std::make_shared<ZIVODateTimeTypedProperty>();
    p->decodeFields(decoder);
    p->value_ = decoder.decodeDate("value");
    return p;
}

void ZIVODoubleTypedProperty::encode(foundation::Coder& coder) const {
    ZIVOTypedProperty::encode(coder);
    coder.encodeDouble("value", value_);
}

std::shared_ptr<ZIVODoubleTypedProperty> ZIVODoubleTypedProperty::decode(foundation::Decoder& decoder) {
    auto p = std::make_shared<ZIVODoubleTypedProperty>();
    p->decodeFields(decoder);
    p->value_ = decoder.decodeDouble("value");
    return p;
}

void ZIVOLongTypedProperty::encode(foundation::Coder& coder) const {
    ZIVOTypedProperty::encode(coder);
    coder.encodeInt64("value", value_);
}

std::shared_ptr<ZIVOLongTypedProperty> ZIVOLongTypedProperty::decode(foundation::Decoder& decoder) {
    auto p = std::make_shared<ZIVOLongTypedProperty>();
    p->decodeFields(decoder);
    p->value_ = decoder.decodeInt64("value");
    return p;
}

void ZIVOStringTypedProperty::encode(foundation::Coder& coder) const {
    ZIVOTypedProperty::encode(coder);
    zivoEncodeIfPresent(coder, "value", value_);
}

std::shared_ptr<ZIVOStringTypedProperty> ZIVOStringTypedProperty::decode(foundation::Decoder& decoder) {
    auto p = std::make_shared<ZIVOStringTypedProperty>();
    p->decodeFields(decoder);
    p->value_ = decoder.decodeString("value");
    return p;
}
