#include "RurIdurev/RurIdurev/Internals/Model/abstract_log.h"

#include <cstdio>
#include <cstdlib>

#include <algorithm>

#include "RurIdurev/RurIdurev/Internals/Context/UserId/user_id_context.h"
#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/common_schema_log.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/json.h"

foundation::Dictionary ZIVOAbstractLog::serializeToDictionary() const {
    foundation::Dictionary dict;
    zivoSetIfPresent(dict, "type", type_);
    if (timestamp_) dict.set("timestamp", ZIVOUtility::dateToISO8601(*timestamp_));
    zivoSetIfPresent(dict, "sid", sid_);
    zivoSetIfPresent(dict, "distributionGroupId", distributionGroupId_);
    zivoSetIfPresent(dict, "userId", userId_);
    if (device_) dict.set("device", device_->serializeToDictionary());
    zivoSetIfPresent(dict, "dataResidencyRegion", dataResidencyRegion_);
    return dict;
}

std::optional<std::string> ZIVOAbstractLog::serializeLogWithPrettyPrinting(bool prettyPrint) const {
    auto json = foundation::toJSON(serializeToDictionary(), foundation::JSONWriteOptions{.pretty = prettyPrint});
    if (!json.ok()) return std::nullopt;
    return std::move(json).value();
}

void ZIVOAbstractLog::logInvalidField(const std::string& field) const {
    std::string name = className();
    ZIVOLogVerbose(kZIVOLogTag, name + ": \"" + field + "\" is not valid.");
}

bool ZIVOAbstractLog::isValid() const {
    if (!type_) {
        logInvalidField("type");
        return false;
    }
    if (!timestamp_) {
        logInvalidField("timestamp");
        return false;
    }
    if (!device_ || !device_->isValid()) {
        logInvalidField("device");
        return false;
    }
    return true;
}

bool ZIVOAbstractLog::isEqual(const ZIVOSerializableObject& other) const {
    const auto* log = dynamic_cast<const ZIVOAbstractLog*>(&other);
    return log && tag_ == log->tag_ && type_ == log->type_ && timestamp_ == log->timestamp_ && sid_ == log->sid_ &&
           distributionGroupId_ == log->distributionGroupId_ && userId_ == log->userId_ &&
           zivoObjectEquals(device_, log->device_) && dataResidencyRegion_ == log->dataResidencyRegion_;
}

void ZIVOAbstractLog::encode(foundation::Coder& coder) const {
    zivoEncodeIfPresent(coder, "type", type_);
    if (timestamp_) coder.encodeDate("timestamp", *timestamp_);
    zivoEncodeIfPresent(coder, "sid", sid_);
    zivoEncodeIfPresent(coder, "distributionGroupId", distributionGroupId_);
    zivoEncodeIfPresent(coder, "userId", userId_);
    if (device_) coder.encodeObject("device", std::shared_ptr<const foundation::Archivable>(device_));
    zivoEncodeIfPresent(coder, "dataResidencyRegion", dataResidencyRegion_);
}

void ZIVOAbstractLog::decodeFields(foundation::Decoder& decoder) {
    type_ = decoder.decodeString("type");
    timestamp_ = decoder.decodeDate("timestamp");
    sid_ = decoder.decodeString("sid");
    distributionGroupId_ = decoder.decodeString("distributionGroupId");
    userId_ = decoder.decodeString("userId");
    device_ = decoder.decodeObject<ZIVODevice>("device");
    dataResidencyRegion_ = decoder.decodeString("dataResidencyRegion");
}

std::shared_ptr<ZIVOAbstractLog> ZIVOAbstractLog::decode(foundation::Decoder& decoder) {
    auto log = std::make_shared<ZIVOAbstractLog>();
    log->decodeFields(decoder);
    return log;
}

std::optional<std::set<std::string>> ZIVOAbstractLog::transmissionTargetTokens() const {
    std::lock_guard lock(tokensMutex_);
    return transmissionTargetTokens_;
}

void ZIVOAbstractLog::addTransmissionTargetToken(const std::string& token) {
    std::lock_guard lock(tokensMutex_);
    if (!transmissionTargetTokens_) transmissionTargetTokens_.emplace();
    transmissionTargetTokens_->insert(token);
}

void ZIVOAbstractLog::setTransmissionTargetTokens(std::optional<std::set<std::string>> tokens) {
    // Guarded as well: a plain write beside a locked read is a data race in C++.
    std::lock_guard lock(tokensMutex_);
    transmissionTargetTokens_ = std::move(tokens);
}

std::vector<std::shared_ptr<ZIVOCommonSchemaLog>> ZIVOAbstractLog::toCommonSchemaLogsWithFlags(uint32_t flags) const {
    std::vector<std::shared_ptr<ZIVOCommonSchemaLog>> logs;
    for (const auto& token : transmissionTargetTokens().value_or(std::set<std::string>{}))
        if (auto log = toCommonSchemaLogForTargetToken(token, flags)) logs.push_back(std::move(log));
    return logs;
}

std::shared_ptr<ZIVOCommonSchemaLog> ZIVOAbstractLog::toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                      uint32_t flags) const {
    auto log = std::make_shared<ZIVOCommonSchemaLog>();
    log->setTransmissionTargetTokens(std::set<std::string>{token});
    log->setVer("3.0");
    log->setTimestamp(timestamp_);
    log->setIKey(ZIVOUtility::iKeyFromTargetToken(token));
    log->setFlags(flags);

    auto ext = std::make_shared<ZIVOCSExtensions>();
    ext->protocolExt = std::make_shared<ZIVOProtocolExtension>();
    ext->userExt = std::make_shared<ZIVOUserExtension>();
    ext->osExt = std::make_shared<ZIVOOSExtension>();
    ext->appExt = std::make_shared<ZIVOAppExtension>();
    ext->netExt = std::make_shared<ZIVONetExtension>();
    ext->sdkExt = std::make_shared<ZIVOSDKExtension>();
    ext->locExt = std::make_shared<ZIVOLocExtension>();
    ext->deviceExt = std::make_shared<ZIVODeviceExtension>();

    ext->userExt->setLocalId(ZIVOUserIdContext::prefixedUserIdFromUserId(userId_));
    const auto localizations = foundation::Bundle::main().preferredLocalizations();
    if (!localizations.empty()) ext->appExt->setLocale(localizations.front());
    if (device_) {
        const ZIVODevice& device = *device_;
        ext->protocolExt->setDevMake(device.oemName());
        ext->protocolExt->setDevModel(device.model());
        if (auto locale = device.locale()) {
            std::replace(locale->begin(), locale->end(), '_', '-');
            ext->userExt->setLocale(std::move(locale));
        }
        ext->osExt->setName(device.osName());
        ext->osExt->setVer(combineOsVersion(device.osVersion(), device.osBuild()));
        if (device.appNamespace()) ext->appExt->setAppId("I:" + *device.appNamespace());
        ext->appExt->setVer(device.appVersion());
        ext->netExt->setProvider(device.carrierName());
        ext->sdkExt->setLibVer(combineSDKLibVer(device.sdkName(), device.sdkVersion()));
        if (device.timeZoneOffset()) ext->locExt->setTz(convertTimeZoneOffsetToISO8601(*device.timeZoneOffset()));
    }
    log->ext = std::move(ext);
    return log;
}

std::optional<std::string> ZIVOAbstractLog::combineOsVersion(const std::optional<std::string>& version,
                                                             const std::optional<std::string>& build) {
    std::optional<std::string> text;
    if (version && !version->empty()) text = "Version " + *version;
    if (build && !build->empty()) {
        // A build without a version keeps the same shape with an empty version part.
        text = (text ? *text : std::string()) + " (Build " + *build + ")";
    }
    return text;
}

std::optional<std::string> ZIVOAbstractLog::combineSDKLibVer(const std::optional<std::string>& name,
                                                             const std::optional<std::string>& version) {
    if (!name || name->empty() || !version || version->empty()) return std::nullopt;
    return *name + "-" + *version;
}

std::string ZIVOAbstractLog::convertTimeZoneOffsetToISO8601(int64_t minutes) {
    // The sign comes from the offset itself: -30 minutes is "-00:30", never "+00:30".
    const char sign = minutes < 0 ? '-' : '+';
    const uint64_t magnitude = minutes < 0 ? 0 - static_cast<uint64_t>(minutes) : static_cast<uint64_t>(minutes);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%c%02llu:%02llu", sign, static_cast<unsigned long long>(magnitude / 60),
                  static_cast<unsigned long long>(magnitude % 60));
    return buffer;
}
