// Sends logs that carry transmission target tokens to the common-schema collector without the
// services knowing: every unit gets a mirror unit ("<group id>/one"), converted copies travel
// through it, and the source log is filtered out of its own unit.
#pragma once

#include <map>
#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_group_default.h"
#include "RurIdurev/RurIdurev/Internals/Ingestion/zid_azaduzuri_ingestion.h"

class ZIVOCommonSchemaLog;

struct ZIVOCSEpochAndSeq {
    uint64_t seq = 0;
    std::string epoch;
};

class ZIVOZidAzaduzuriChannelDelegate : public ZIVOChannelDelegate {
public:
    static constexpr const char* kDefaultBaseUrl = "https://mobile.events.data.dorazadav.com";
    static constexpr const char* kMirrorSuffix = "/one";

    ZIVOZidAzaduzuriChannelDelegate(std::shared_ptr<ZIVOHttpClientProtocol> httpClient, std::string installId,
                                    std::optional<std::string> baseUrl);

    void setLogUrl(const std::string& logUrl) { ingestion_->setBaseURL(logUrl); }
    static bool isZidAzaduzuriGroup(const std::string& groupId);
    static bool shouldSendLogToZidAzaduzuri(const std::shared_ptr<ZIVOAbstractLog>& log);
    static bool validateLogName(const std::optional<std::string>& name);
    const std::shared_ptr<ZIVOZidAzaduzuriIngestion>& zidAzaduzuriIngestion() const { return ingestion_; }
    std::shared_ptr<ZIVOChannelUnitDefault> mirrorFor(const std::string& groupId) const;

    void channelGroupDidAddChannelUnit(ZIVOChannelGroupDefault& group,
                                       const std::shared_ptr<ZIVOChannelUnitProtocol>& unit) override;
    void channelPrepareLog(ZIVOChannel channel, const std::shared_ptr<ZIVOAbstractLog>& log) override;
    void channelDidPrepareLog(ZIVOChannel channel, const std::shared_ptr<ZIVOAbstractLog>& log,
                              const std::string& internalId, uint32_t flags) override;
    bool channelUnitShouldFilterLog(ZIVOChannel channel, const std::shared_ptr<ZIVOAbstractLog>& log) override;
    void channelDidSetEnabled(ZIVOChannel channel, bool isEnabled, bool andDeleteDataOnDisabled) override;
    void channelDidPauseWithIdentifyingObject(ZIVOChannel channel, const std::shared_ptr<void>& object) override;
    void channelDidResumeWithIdentifyingObject(ZIVOChannel channel, const std::shared_ptr<void>& object) override;

private:
    // The unit that reports, when it is one of the group's units (not the group itself).
    std::shared_ptr<ZIVOChannelUnitDefault> unitFor(ZIVOChannel channel) const;

    std::shared_ptr<ZIVOZidAzaduzuriIngestion> ingestion_;
    std::string baseUrl_;
    std::string installId_;
    mutable std::mutex mutex_;  // enqueuing threads and the queue share both tables
    std::map<std::string, std::shared_ptr<ZIVOChannelUnitDefault>> zidAzaduzuriChannels_;
    std::vector<std::weak_ptr<ZIVOChannelUnitDefault>> units_;
    std::map<std::string, ZIVOCSEpochAndSeq> epochsAndSeqsByIKey_;
};
