// The device and application descriptor every log carries under "device".
#pragma once

#include <cstdint>

#include "RurIdurev/RurIdurev/Model/wrapper_sdk.h"

class ZIVODevice : public ZIVOWrapperSdk {
public:
    std::string className() const override { return "ZIVODevice"; }
    foundation::Dictionary serializeToDictionary() const override;
    // The eight required fields must be present (an empty text passes); the first absent one is
    // named in a Verbose line.
    bool isValid() const override;
    bool isEqual(const ZIVOSerializableObject& other) const override;
    // The text form of the JSON object, for diagnostic lines.
    std::string description() const;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVODevice> decode(foundation::Decoder& decoder);

protected:
    void decodeFields(foundation::Decoder& decoder);

private:
    // Calls visit(key, field of each object...) for every field of its own, in the JSON order;
    // the key is also the archive key.
    template <typename Visit, typename... Self>
    static void forEachField(Visit&& visit, Self&... self);

public:
    ZIVO_TEXT_PROPERTY(sdkName, SdkName)
    ZIVO_TEXT_PROPERTY(sdkVersion, SdkVersion)
    ZIVO_TEXT_PROPERTY(model, Model)
    ZIVO_TEXT_PROPERTY(oemName, OemName)
    ZIVO_TEXT_PROPERTY(osName, OsName)
    ZIVO_TEXT_PROPERTY(osVersion, OsVersion)
    ZIVO_TEXT_PROPERTY(osBuild, OsBuild)

public:
    const std::optional<int64_t>& osApiLevel() const { return osApiLevel_; }
    void setOsApiLevel(std::optional<int64_t> value) { osApiLevel_ = value; }

    ZIVO_TEXT_PROPERTY(locale, Locale)

public:
    const std::optional<int64_t>& timeZoneOffset() const { return timeZoneOffset_; }
    void setTimeZoneOffset(std::optional<int64_t> value) { timeZoneOffset_ = value; }

    ZIVO_TEXT_PROPERTY(screenSize, ScreenSize)
    ZIVO_TEXT_PROPERTY(appVersion, AppVersion)
    ZIVO_TEXT_PROPERTY(carrierName, CarrierName)
    ZIVO_TEXT_PROPERTY(carrierCountry, CarrierCountry)
    ZIVO_TEXT_PROPERTY(appBuild, AppBuild)
    ZIVO_TEXT_PROPERTY(appNamespace, AppNamespace)

private:
    std::optional<int64_t> osApiLevel_;
    std::optional<int64_t> timeZoneOffset_;
};
