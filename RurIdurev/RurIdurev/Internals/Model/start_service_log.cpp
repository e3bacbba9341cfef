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

void ZIVOStartServiceLog::encode(foundation::Coder& coder) const {
    ZIVOAbstractLog::encode(coder);
    if (services_) {
        foundation::Array names;
        for (const auto& name : *services_) names.emplace_back(name);
        coder.encodeValue("services", foundation::Value(std::move(names)));
    }
    coder.encodeBool("isZidAzaduzuriEnabled", isZidAzaduzuriEnabled_);
}

std::shared_ptr<ZIVOStartServiceLog> ZIVOStartServiceLog::decode(foundation::Decoder& decoder) {
    auto log = std::make_shared<ZIVOStartServiceLog>();
    log->decodeFields(decoder);
    foundation::Value services = decoder.decodeValue("services");
    if (const auto* list = services.ifArray()) {
        std::vector<std::string> names;
        for (const auto& name : *list) {
            if (!name.isString()) {
                decoder.failWithError(foundation::Error::withDescription(foundation::kCocoaErrorDomain,
                                                                         foundation::kArchiveReadCorruptError,
                                                                         "services holds a non-text name"));
                return nullptr;
            }
            names.push_back(name.asString());
        }
        log->services_ = std::move(names);
    }
    log->isZidAzaduzuriEnabled_ = decoder.decodeBool("isZidAzaduzuriEnabled", false);
    return log;
}

bool ZIVOStartServiceLog::isEqual(const ZIVOSerializableObject& other) const {
    const auto* log = dynamic_cast<const ZIVOStartServiceLog*>(&other);
    return log && ZIVOAbstractLog::isEqual(other) && services_ == log->services_;
}
