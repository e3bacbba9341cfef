#include "RurIdurev/RurIdurev/Model/device.h"

#include "RurIdurev/RurIdurev/logger.h"

foundation::Dictionary ZIVODevice::serializeToDictionary() const {
    foundation::Dictionary dict = ZIVOWrapperSdk::serializeToDictionary();
    zivoSetIfPresent(dict, "sdkName", sdkName_);
    zivoSetIfPresent(dict, "sdkVersion", sdkVersion_);
    zivoSetIfPresent(dict, "model", model_);
    zivoSetIfPresent(dict, "oemName", oemName_);
    zivoSetIfPresent(dict, "osName", osName_);
    zivoSetIfPresent(dict, "osVersion", osVersion_);
    zivoSetIfPresent(dict, "osBuild", osBuild_);
    if (osApiLevel_) dict.set("osApiLevel", *osApiLevel_);
    zivoSetIfPresent(dict, "locale", locale_);
    if (timeZoneOffset_) dict.set("timeZoneOffset", *timeZoneOffset_);
    zivoSetIfPresent(dict, "screenSize", screenSize_);
    zivoSetIfPresent(dict, "appVersion", appVersion_);
    zivoSetIfPresent(dict, "carrierName", carrierName_);
    zivoSetIfPresent(dict, "carrierCountry", carrierCountry_);
    zivoSetIfPresent(dict, "appBuild", appBuild_);
    zivoSetIfPresent(dict, "appNamespace", appNamespace_);
    return dict;
}

bool ZIVODevice::isValid() const {
    if (!ZIVOWrapperSdk::isValid()) return false;
    const char* missing = nullptr;
    if (!sdkName_) missing = "sdkName";
    else if (!sdkVersion_) missing = "sdkVersion";
    else if (!osName_) missing = "osName";
    else if (!osVersion_) missing = "osVersion";
    else if (!locale_) missing = "locale";
    else if (!timeZoneOffset_) missing = "timeZoneOffset";
    else if (!appVersion_) missing = "appVersion";
    else if (!appBuild_) missing = "appBuild";
    if (!missing) return true;
    std::string name = className(), field = missing;
    ZIVOLogVerbose(kZIVOLogTag, name + ": \"" + field + "\" is not valid.");
    return false;
}

bool ZIVODevice::isEqual(const ZIVOSerializableObject& other) const {
    const auto* d = dynamic_cast<const ZIVODevice*>(&other);
    return d && ZIVOWrapperSdk::isEqual(other) && sdkName_ == d->sdkName_ && sdkVersion_ == d->sdkVersion_ &&
           model_ == d->model_ && oemName_ == d->oemName_ && osName_ == d->osName_ && osVersion_ == d->osVersion_ &&
           osBuild_ == d->osBuild_ && osApiLevel_ == d->osApiLevel_ && locale_ == d->locale_ &&
           timeZoneOffset_ == d->timeZoneOffset_ && screenSize_ == d->screenSize_ && appVersion_ == d->appVersion_ &&
           carrierName_ == d->carrierName_ && carrierCountry_ == d->carrierCountry_ && appBuild_ == d->appBuild_ &&
           appNamespace_ == d->appNamespace_;
}

void ZIVODevice::encode(foundation::Coder& coder) const {
    ZIVOWrapperSdk::encode(coder);
    zivoEncodeIfPresent(coder, "sdkName", sdkName_);
    zivoEncodeIfPresent(coder, "sdkVersion", sdkVersion_);
    zivoEncodeIfPresent(coder, "model", model_);
    zivoEncodeIfPresent(coder, "oemName", oemName_);
    zivoEncodeIfPresent(coder, "osName", osName_);
    zivoEncodeIfPresent(coder, "osVersion", osVersion_);
    zivoEncodeIfPresent(coder, "osBuild", osBuild_);
    if (osApiLevel_) coder.encodeInt64("osApiLevel", *osApiLevel_);
    zivoEncodeIfPresent(coder, "locale", locale_);
    if (timeZoneOffset_) coder.encodeInt64("timeZoneOffset", *timeZoneOffset_);
    zivoEncodeIfPresent(coder, "screenSize", screenSize_);
    zivoEncodeIfPresent(coder, "appVersion", appVersion_);
    zivoEncodeIfPresent(coder, "carrierName", carrierName_);
    zivoEncodeIfPresent(coder, "carrierCountry", carrierCountry_);
    zivoEncodeIfPresent(coder, "appBuild", appBuild_);
    zivoEncodeIfPresent(coder, "appNamespace", appNamespace_);
}

void ZIVODevice::decodeFields(foundation::Decoder& decoder) {
    ZIVOWrapperSdk::decodeFields(decoder);
    sdkName_ = decoder.decodeString("sdkName");
    sdkVersion_ = decoder.decodeString("sdkVersion");
    model_ = decoder.decodeString("model");
    oemName_ = decoder.decodeString("oemName");
    osName_ = decoder.decodeString("osName");
    osVersion_ = decoder.decodeString("osVersion");
    osBuild_ = decoder.decodeString("osBuild");
    if (decoder.containsValue("osApiLevel")) osApiLevel_ = decoder.decodeInt64("osApiLevel");
    locale_ = decoder.decodeString("locale");
    if (decoder.containsValue("timeZoneOffset")) timeZoneOffset_ = decoder.decodeInt64("timeZoneOffset");
    screenSize_ = decoder.decodeString("screenSize");
    appVersion_ = decoder.decodeString("appVersion");
    carrierName_ = decoder.decodeString("carrierName");
    carrierCountry_ = decoder.decodeString("carrierCountry");
    appBuild_ = decoder.decodeString("appBuild");
    appNamespace_ = decoder.decodeString("appNamespace");
}

std::shared_ptr<ZIVODevice> ZIVODevice::decode(foundation::Decoder& decoder) {
    auto device = std::make_shared<ZIVODevice>();
    device->decodeFields(decoder);
    return device;
}

std::string ZIVODevice::description() const { return foundation::Value(serializeToDictionary()).description(); }
