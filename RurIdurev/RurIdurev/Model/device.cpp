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

std::string ZIVODevice::description() const { return foundation::Value(serializeToDictionary()).description(); }
