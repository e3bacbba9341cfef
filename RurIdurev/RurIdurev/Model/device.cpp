#include "RurIdurev/RurIdurev/Model/device.h"

#include "RurIdurev/RurIdurev/logger.h"

template <typename Visit, typename... Self>
void ZIVODevice::forEachField(Visit&& visit, Self&... self) {
    visit("sdkName", self.sdkName_...);
    visit("sdkVersion", self.sdkVersion_...);
    visit("model", self.model_...);
    visit("oemName", self.oemName_...);
    visit("osName", self.osName_...);
    visit("osVersion", self.osVersion_...);
    visit("osBuild", self.osBuild_...);
    visit("osApiLevel", self.osApiLevel_...);
    visit("locale", self.locale_...);
    visit("timeZoneOffset", self.timeZoneOffset_...);
    visit("screenSize", self.screenSize_...);
    visit("appVersion", self.appVersion_...);
    visit("carrierName", self.carrierName_...);
    visit("carrierCountry", self.carrierCountry_...);
    visit("appBuild", self.appBuild_...);
    visit("appNamespace", self.appNamespace_...);
}

foundation::Dictionary ZIVODevice::serializeToDictionary() const {
    foundation::Dictionary dict = ZIVOWrapperSdk::serializeToDictionary();
    forEachField([&](const char* key, const auto& value) { zivoSetIfPresent(dict, key, value); }, *this);
    return dict;
}

bool ZIVODevice::isValid() const {
    if (!ZIVOWrapperSdk::isValid()) return false;
    const char* missing = nullptr;
    if (!sdkName_)
        missing = "sdkName";
    else if (!sdkVersion_)
        missing = "sdkVersion";
    else if (!osName_)
        missing = "osName";
    else if (!osVersion_)
        missing = "osVersion";
    else if (!locale_)
        missing = "locale";
    else if (!timeZoneOffset_)
        missing = "timeZoneOffset";
    else if (!appVersion_)
        missing = "appVersion";
    else if (!appBuild_)
        missing = "appBuild";
    if (!missing) return true;
    std::string name = className(), field = missing;
    ZIVOLogVerbose(kZIVOLogTag, name + ": \"" + field + "\" is not valid.");
    return false;
}

bool ZIVODevice::isEqual(const ZIVOSerializableObject& other) const {
    const auto* d = dynamic_cast<const ZIVODevice*>(&other);
    if (!d || !ZIVOWrapperSdk::isEqual(other)) return false;
    bool equal = true;
    forEachField([&](const char*, const auto& a, const auto& b) { equal = equal && a == b; }, *this, *d);
    return equal;
}

void ZIVODevice::encode(foundation::Coder& coder) const {
    ZIVOWrapperSdk::encode(coder);
    forEachField([&](const char* key, const auto& value) { zivoEncodeIfPresent(coder, key, value); }, *this);
}

void ZIVODevice::decodeFields(foundation::Decoder& decoder) {
    ZIVOWrapperSdk::decodeFields(decoder);
    forEachField([&](const char* key, auto& value) { zivoDecodeIfPresent(decoder, key, value); }, *this);
}

std::shared_ptr<ZIVODevice> ZIVODevice::decode(foundation::Decoder& decoder) {
    auto device = std::make_shared<ZIVODevice>();
    device->decodeFields(decoder);
    return device;
}

std::string ZIVODevice::description() const { return foundation::Value(serializeToDictionary()).description(); }
