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

template <typename Visit, typename... Self>
void ZIVOWrapperSdk::forEachField(Visit&& visit, Self&... self) {
    visit("wrapperSdkVersion", self.wrapperSdkVersion_...);
    visit("wrapperSdkName", self.wrapperSdkName_...);
    visit("wrapperRuntimeVersion", self.wrapperRuntimeVersion_...);
    visit("liveUpdateReleaseLabel", self.liveUpdateReleaseLabel_...);
    visit("liveUpdateDeploymentKey", self.liveUpdateDeploymentKey_...);
    visit("liveUpdatePackageHash", self.liveUpdatePackageHash_...);
}

foundation::Dictionary ZIVOWrapperSdk::serializeToDictionary() const {
    foundation::Dictionary dict;
    forEachField([&](const char* key, const auto& value) { zivoSetIfPresent(dict, key, value); }, *this);
    return dict;
}

void ZIVOWrapperSdk::encode(foundation::Coder& coder) const {
    forEachField([&](const char* key, const auto& value) { zivoEncodeIfPresent(coder, key, value); }, *this);
}

void ZIVOWrapperSdk::decodeFields(foundation::Decoder& decoder) {
    forEachField([&](const char* key, auto& value) { zivoDecodeIfPresent(decoder, key, value); }, *this);
}

std::shared_ptr<ZIVOWrapperSdk> ZIVOWrapperSdk::decode(foundation::Decoder& decoder) {
    auto sdk = std::make_shared<ZIVOWrapperSdk>();
    sdk->decodeFields(decoder);
    return sdk;
}

bool ZIVOWrapperSdk::isEqual(const ZIVOSerializableObject& other) const {
    const auto* sdk = dynamic_cast<const ZIVOWrapperSdk*>(&other);
    if (!sdk) return false;
    bool equal = true;
    forEachField([&](const char*, const auto& a, const auto& b) { equal = equal && a == b; }, *this, *sdk);
    return equal;
}
