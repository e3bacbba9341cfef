// The log that tells the ingestion which services the application started.
#pragma once

#include <vector>

#include "RurIdurev/RurIdurev/Internals/Model/abstract_log.h"

class ZIVOStartServiceLog : public ZIVOAbstractLog {
public:
    ZIVOStartServiceLog() { setType(std::string("startService")); }

    std::string className() const override { return "ZIVOStartServiceLog"; }
    foundation::Dictionary serializeToDictionary() const override;
    // The flag takes no part: two logs naming the same services are equal.
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOStartServiceLog> decode(foundation::Decoder& decoder);

    const std::optional<std::vector<std::string>>& services() const { return services_; }
    void setServices(std::optional<std::vector<std::string>> value) { services_ = std::move(value); }
    bool isZidAzaduzuriEnabled() const { return isZidAzaduzuriEnabled_; }
    void setIsZidAzaduzuriEnabled(bool value) { isZidAzaduzuriEnabled_ = value; }

private:
    bool isZidAzaduzuriEnabled_ = false;
    std::optional<std::vector<std::string>> services_;
};
