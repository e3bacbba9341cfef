// The wrapper fields of a device descriptor: what a wrapper SDK between the application and this
// SDK tells about itself.
#pragma once

#include "RurIdurev/RurIdurev/Internals/Model/serializable_object.h"

class ZIVOWrapperSdk : public ZIVOSerializableObject {
public:
    ZIVOWrapperSdk() = default;
    ZIVOWrapperSdk(std::optional<std::string> wrapperSdkVersion, std::optional<std::string> wrapperSdkName,
                   std::optional<std::string> wrapperRuntimeVersion, std::optional<std::string> liveUpdateReleaseLabel,
                   std::optional<std::string> liveUpdateDeploymentKey,
                   std::optional<std::string> liveUpdatePackageHash);

    std::string className() const override { return "ZIVOWrapperSdk"; }
    foundation::Dictionary serializeToDictionary() const override;
    // Always valid: every wrapper field is optional.
    virtual bool isValid() const { return true; }
    bool isEqual(const ZIVOSerializableObject& other) const override;
    void encode(foundation::Coder& coder) const override;
    static std::shared_ptr<ZIVOWrapperSdk> decode(foundation::Decoder& decoder);

protected:
    void decodeFields(foundation::Decoder& decoder);

private:
    // Calls visit(key, field of each object...) for every field, in the JSON order; the key is
    // also the archive key.
    template <typename Visit, typename... Self>
    static void forEachField(Visit&& visit, Self&... self);

public:
    ZIVO_TEXT_PROPERTY(wrapperSdkVersion, WrapperSdkVersion)
    ZIVO_TEXT_PROPERTY(wrapperSdkName, WrapperSdkName)
    ZIVO_TEXT_PROPERTY(wrapperRuntimeVersion, WrapperRuntimeVersion)
    ZIVO_TEXT_PROPERTY(liveUpdateReleaseLabel, LiveUpdateReleaseLabel)
    ZIVO_TEXT_PROPERTY(liveUpdateDeploymentKey, LiveUpdateDeploymentKey)
    ZIVO_TEXT_PROPERTY(liveUpdatePackageHash, LiveUpdatePackageHash)
};
