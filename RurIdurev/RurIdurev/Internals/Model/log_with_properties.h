// A log with a map of named text values.
#pragma once

#include "RurIdurev/RurIdurev/Internals/Model/abstract_log.h"

class ZIVOLogWithProperties : public ZIVOAbstractLog {
public:
    std::string className() const override { return "ZIVOLogWithProperties"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOLogWithProperties> decode(foundation::Decoder& decoder);

    const std::optional<foundation::Dictionary>& properties() const { return properties_; }
    void setProperties(std::optional<foundation::Dictionary> value) { properties_ = std::move(value); }

protected:
    void decodeFields(foundation::Decoder& decoder);

private:
    std::optional<foundation::Dictionary> properties_;
};
