// A log with a map of named text values.
#pragma once

#include "RurIdurev/RurIdurev/Internals/Model/abstract_log.h"

class ZIVOLogWithProperties : public ZIVOAbstractLog {
public:
    std::string className() const override { return "ZIVOLogWithProperties"; }
    foundation::Dictionary serializeToDictionary() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;

    const std::optional<foundation::Dictionary>& properties() const { return properties_; }
    void setProperties(std::optional<foundation::Dictionary> value) { properties_ = std::move(value); }

private:
    std::optional<foundation::Dictionary> properties_;
};
