// Named, typed values with a JSON and an archived form. Nothing in this system makes them; stored
// archives may hold them.
#pragma once

#include <cstdint>

#include "RurIdurev/RurIdurev/Internals/Model/serializable_object.h"

class ZIVOTypedProperty : public ZIVOSerializableObject {
public:
    std::string className() const override { return "ZIVOTypedProperty"; }
    foundation::Dictionary serializeToDictionary() const override;
    // Same class family and equal type; the name takes no part.
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOTypedProperty> decode(foundation::Decoder& decoder);

    ZIVO_TEXT_PROPERTY(type, Type)
    ZIVO_TEXT_PROPERTY(name, Name)

protected:
    void decodeFields(foundation::Decoder& decoder);
};

class ZIVOBooleanTypedProperty : public ZIVOTypedProperty {
public:
    ZIVOBooleanTypedProperty() { setType(std::string("boolean")); }
    std::string className() const override { return "ZIVOBooleanTypedProperty"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOBooleanTypedProperty> decode(foundation::Decoder& decoder);
    bool value() const { return value_; }
    void setValue(bool value) { value_ = value; }

private:
    bool value_ = false;
};

class ZIVODateTimeTypedProperty : public ZIVOTypedProperty {
public:
    ZIVODateTimeTypedProperty() { setType(std::string("dateTime")); }
    std::string className() const override { return "ZIVODateTimeTypedProperty"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVODateTimeTypedProperty> decode(foundation::Decoder& decoder);
    const std::optional<foundation::Date>& value() const { return value_; }
    void setValue(std::optional<foundation::Date> value) { value_ = value; }

private:
    std::optional<foundation::Date> value_;
};

class ZIVODoubleTypedProperty : public ZIVOTypedProperty {
public:
    ZIVODoubleTypedProperty() { setType(std::string("double")); }
    std::string className() const override { return "ZIVODoubleTypedProperty"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVODoubleTypedProperty> decode(foundation::Decoder& decoder);
    double value() const { return value_; }
    void setValue(double value) { value_ = value; }

private:
    double value_ = 0;
};

class ZIVOLongTypedProperty : public ZIVOTypedProperty {
public:
    ZIVOLongTypedProperty() { setType(std::string("long")); }
    std::string className() const override { return "ZIVOLongTypedProperty"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOLongTypedProperty> decode(foundation::Decoder& decoder);
    int64_t value() const { return value_; }
    void setValue(int64_t value) { value_ = value; }

private:
    int64_t value_ = 0;
};

class ZIVOStringTypedProperty : public ZIVOTypedProperty {
public:
    ZIVOStringTypedProperty() { setType(std::string("string")); }
    std::string className() const override { return "ZIVOStringTypedProperty"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOStringTypedProperty> decode(foundation::Decoder& decoder);
    const std::optional<std::string>& value() const { return value_; }
    void setValue(std::optional<std::string> value) { value_ = std::move(value); }

private:
    std::optional<std::string> value_;
};
