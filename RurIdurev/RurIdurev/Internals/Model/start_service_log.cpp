#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"

foundation::Dictionary ZIVOStartServiceLog::serializeToDictionary() const {
    foundation::Dictionary dict = ZIVOAbstractLog::serializeToDictionary();
    if (services_) {
        foundation::Array names;
        for (const auto& name : *services_) names.emplace_back(name);
        dict.set("services", std::move(names));
        dict.set("isZidAzaduzuriEnabled", isZidAzaduzuriEnabled_);
    }
    return dict;
}

bool ZIVOStartServiceLog::isEqual(const ZIVOSerializableObject& other) const {
    const auto* log = dynamic_cast<const ZIVOStartServiceLog*>(&other);
    return log && ZIVOAbstractLog::isEqual(other) && services_ == log->services_;
}
