#include "RurIdurev/RurIdurev/Model/wrapper_sdk.h"

ZIVOWrapperSdk::ZIVOWrapperSdk(std::optional<std::string> wrapperSdkVersion, std::optional<std::string> wrapperSdkName,
                               std::optional<std::string> wrapperRuntimeVersion,
                               std::optional<std::string> liveUpdateReleaseLabel,
                               std::optional<std::string> liveUpdateDeploymentKey,
                               std::optional<std::string> liveUpdatePackageHash)
    : wrapperSdkVersion_(std::move(wrapperSdkVersion)),
      wrapperSdkName_(std::move(wrapperSdkName)),
      wrapperRuntimeVersion_(std::move(wrapperRuntimeVersion)),
      liveUpdateReleaseLabel_(std::move(liveUpdateReleaseLabel)),
      liveUpdateDeploymentKey_(std::move(liveUpdateDeploymentKey)),
      liveUpdatePackageHash_(std::move(liveUpdatePackageHash)) {}

foundation::Dictionary ZIVOWrapperSdk::serializeToDictionary() const {
    foundation::Dictionary dict;
    zivoSetIfPresent(dict, "wrapperSdkVersion", wrapperSdkVersion_);
    zivoSetIfPresent(dict, "wrapperSdkName", wrapperSdkName_);
    zivoSetIfPresent(dict, "wrapperRuntimeVersion", wrapperRuntimeVersion_);
    zivoSetIfPresent(dict, "liveUpdateReleaseLabel", liveUpdateReleaseLabel_);
    zivoSetIfPresent(dict, "liveUpdateDeploymentKey", liveUpdateDeploymentKey_);
    zivoSetIfPresent(dict, "liveUpdatePackageHash", liveUpdatePackageHash_);
    return dict;
}

void ZIVOWrapperSdk::encode(foundation::Coder& coder) const {
    zivoEncodeIfPresent(coder, "wrapperSdkVersion", wrapperSdkVersion_);
    zivoEncodeIfPresent(coder, "wrapperSdkName", wrapperSdkName_);
    zivoEncodeIfPresent(coder, "wrapperRuntimeVersion", wrapperRuntimeVersion_);
    zivoEncodeIfPresent(coder, "liveUpdateReleaseLabel", liveUpdateReleaseLabel_);
    zivoEncodeIfPresent(coder, "liveUpdateDeploymentKey", liveUpdateDeploymentKey_);
    zivoEncodeIfPresent(coder, "liveUpdatePackageHash", liveUpdatePackageHash_);
}

void ZIVOWrapperSdk::decodeFields(foundation::Decoder& decoder) {
    wrapperSdkVersion_ = decoder.decodeString("wrapperSdkVersion");
    wrapperSdkName_ = decoder.decodeString("wrapperSdkName");
    wrapperRuntimeVersion_ = decoder.decodeString("wrapperRuntimeVersion");
    liveUpdateReleaseLabel_ = decoder.decodeString("liveUpdateReleaseLabel");
    liveUpdateDeploymentKey_ = decoder.decodeString("liveUpdateDeploymentKey");
    liveUpdatePackageHash_ = decoder.decodeString("liveUpdatePackageHash");
}

std::shared_ptr<ZIVOWrapperSdk> ZIVOWrapperSdk::decode(foundation::Decoder& decoder) {
    auto sdk = std::make_shared<ZIVOWrapperSdk>();
    sdk->decodeFields(decoder);
    return sdk;
}

bool ZIVOWrapperSdk::isEqual(const ZIVOSerializableObject& other) const {
    const auto* sdk = dynamic_cast<const ZIVOWrapperSdk*>(&other);
    return sdk && wrapperSdkVersion_ == sdk->wrapperSdkVersion_ && wrapperSdkName_ == sdk->wrapperSdkName_ &&
           wrapperRuntimeVersion_ == sdk->wrapperRuntimeVersion_ &&
           liveUpdateReleaseLabel_ == sdk->liveUpdateReleaseLabel_ &&
           liveUpdateDeploymentKey_ == sdk->liveUpdateDeploymentKey_ &&
           liveUpdatePackageHash_ == sdk->liveUpdatePackageHash_;
}
