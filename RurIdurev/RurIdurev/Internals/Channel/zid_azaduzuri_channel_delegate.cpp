#include "RurIdurev/RurIdurev/Internals/Channel/zid_azaduzuri_channel_delegate.h"

#include <regex>

#include "RurIdurev/RurIdurev/Internals/Model/CommonSchema/common_schema_log.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/foundation/uuid.h"

namespace {
constexpr const char* kNamePattern = "^[a-zA-Z0-9]((\\.(?!(\\.|$)))|[_a-zA-Z0-9]){3,99}$";
}

ZIVOZidAzaduzuriChannelDelegate::ZIVOZidAzaduzuriChannelDelegate(std::shared_ptr<ZIVOHttpClientProtocol> httpClient,
                                                                 std::string installId,
                                                                 std::optional<std::string> baseUrl)
    : baseUrl_(baseUrl.value_or(kDefaultBaseUrl)), installId_(std::move(installId)) {
    ingestion_ = ZIVOZidAzaduzuriIngestion::create(std::move(httpClient), baseUrl_);
}

bool ZIVOZidAzaduzuriChannelDelegate::isZidAzaduzuriGroup(const std::string& groupId) {
    return groupId.size() >= 4 && groupId.compare(groupId.size() - 4, 4, kMirrorSuffix) == 0;
}

bool ZIVOZidAzaduzuriChannelDelegate::shouldSendLogToZidAzaduzuri(const std::shared_ptr<ZIVOAbstractLog>& log) {
    auto tokens = log->transmissionTargetTokens();
    return tokens && !tokens->empty() && dynamic_cast<const ZIVOLogConversion*>(log.get()) &&
           !dynamic_cast<const ZIVOCommonSchemaLog*>(log.get());
}

bool ZIVOZidAzaduzuriChannelDelegate::validateLogName(const std::optional<std::string>& name) {
    if (!name || name->empty()) {
        ZIVOLogError(kZIVOLogTag, std::string("Log validation failed. Name must not be nil or empty."));
        return false;
    }
    static const std::regex pattern(kNamePattern, std::regex::ECMAScript);
    if (!std::regex_match(*name, pattern)) {
        std::string text = *name;
        ZIVOLogError(kZIVOLogTag, "Log validation failed. Name must match '" + std::string(kNamePattern) +
                                      "' but was '" + text + "'");
        return false;
    }
    return true;
}

std::shared_ptr<ZIVOChannelUnitDefault> ZIVOZidAzaduzuriChannelDelegate::mirrorFor(const std::string& groupId) const {
    std::lock_guard lock(mutex_);
    auto it = zidAzaduzuriChannels_.find(groupId);
    return it == zidAzaduzuriChannels_.end() ? nullptr : it->second;
}

std::shared_ptr<ZIVOChannelUnitDefault> ZIVOZidAzaduzuriChannelDelegate::unitFor(ZIVOChannel channel) const {
    std::lock_guard lock(mutex_);
    for (const auto& weak : units_)
        if (auto unit = weak.lock(); unit && unit.get() == channel) return unit;
    return nullptr;
}

void ZIVOZidAzaduzuriChannelDelegate::channelGroupDidAddChannelUnit(
    ZIVOChannelGroupDefault& group, const std::shared_ptr<ZIVOChannelUnitProtocol>& added) {
    auto unit = std::dynamic_pointer_cast<ZIVOChannelUnitDefault>(added);
    if (!unit) return;
    {
        std::lock_guard lock(mutex_);
        units_.push_back(unit);
    }
    const auto& groupId = unit->configuration().groupId;
    if (isZidAzaduzuriGroup(groupId)) return;
    ZIVOChannelUnitConfiguration mirror = ZIVOChannelUnitConfiguration::defaultConfiguration(groupId + kMirrorSuffix);
    mirror.flushInterval = unit->configuration().flushInterval;
    auto mirrorUnit = group.addChannelUnitWithConfiguration(mirror, ingestion_);
    std::lock_guard lock(mutex_);
    zidAzaduzuriChannels_[groupId] = mirrorUnit;
}

void ZIVOZidAzaduzuriChannelDelegate::channelPrepareLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>& log) {
    auto* cs = dynamic_cast<ZIVOCommonSchemaLog*>(log.get());
    if (!cs) return;
    std::lock_guard lock(mutex_);
    auto key = cs->iKey().value_or("");
    auto it = epochsAndSeqsByIKey_.find(key);
    if (it == epochsAndSeqsByIKey_.end()) {
        it = epochsAndSeqsByIKey_.emplace(key, ZIVOCSEpochAndSeq{0, foundation::UUID::random().string()}).first;
    }
    if (!cs->ext) cs->ext = std::make_shared<ZIVOCSExtensions>();
    if (!cs->ext->sdkExt) cs->ext->sdkExt = std::make_shared<ZIVOSDKExtension>();
    cs->ext->sdkExt->setEpoch(it->second.epoch);
    cs->ext->sdkExt->setSeq(static_cast<int64_t>(++it->second.seq));
    cs->ext->sdkExt->setInstallId(installId_);
}

void ZIVOZidAzaduzuriChannelDelegate::channelDidPrepareLog(ZIVOChannel channel,
                                                           const std::shared_ptr<ZIVOAbstractLog>& log,
                                                           const std::string&, uint32_t flags) {
    auto unit = unitFor(channel);
    if (!unit) return;
    const auto& groupId = unit->configuration().groupId;
    if (auto cs = std::dynamic_pointer_cast<ZIVOCommonSchemaLog>(log)) {
        if (isZidAzaduzuriGroup(groupId)) return;
        if (auto mirror = mirrorFor(groupId)) mirror->enqueueItem(cs, flags);
        return;
    }
    if (!shouldSendLogToZidAzaduzuri(log)) return;
    auto mirror = mirrorFor(groupId);
    if (!mirror) return;
    for (const auto& converted : dynamic_cast<const ZIVOLogConversion&>(*log).toCommonSchemaLogsWithFlags(flags))
        mirror->enqueueItem(converted, flags);
}

bool ZIVOZidAzaduzuriChannelDelegate::channelUnitShouldFilterLog(ZIVOChannel channel,
                                                                 const std::shared_ptr<ZIVOAbstractLog>& log) {
    auto unit = unitFor(channel);
    bool onMirror = unit && isZidAzaduzuriGroup(unit->configuration().groupId);
    if (const auto* cs = dynamic_cast<const ZIVOCommonSchemaLog*>(log.get())) {
        return onMirror ? !validateLogName(cs->name()) : true;
    }
    auto tokens = log->transmissionTargetTokens();
    return tokens && !tokens->empty();
}

void ZIVOZidAzaduzuriChannelDelegate::channelDidSetEnabled(ZIVOChannel channel, bool isEnabled,
                                                           bool andDeleteDataOnDisabled) {
    if (auto unit = unitFor(channel)) {
        if (isZidAzaduzuriGroup(unit->configuration().groupId)) return;
        if (auto mirror = mirrorFor(unit->configuration().groupId))
            mirror->setEnabled(isEnabled, andDeleteDataOnDisabled);
        return;
    }
    // The group's own report: disabling with deletion starts new epochs.
    if (!isEnabled && andDeleteDataOnDisabled) {
        std::lock_guard lock(mutex_);
        epochsAndSeqsByIKey_.clear();
    }
}

void ZIVOZidAzaduzuriChannelDelegate::channelDidPauseWithIdentifyingObject(ZIVOChannel channel,
                                                                           const std::shared_ptr<void>& object) {
    auto unit = unitFor(channel);
    if (!unit || isZidAzaduzuriGroup(unit->configuration().groupId)) return;
    if (auto mirror = mirrorFor(unit->configuration().groupId)) mirror->pauseWithIdentifyingObject(object);
}

void ZIVOZidAzaduzuriChannelDelegate::channelDidResumeWithIdentifyingObject(ZIVOChannel channel,
                                                                            const std::shared_ptr<void>& object) {
    auto unit = unitFor(channel);
    if (!unit || isZidAzaduzuriGroup(unit->configuration().groupId)) return;
    if (auto mirror = mirrorFor(unit->configuration().groupId)) mirror->resumeWithIdentifyingObject(object);
}
