// What all channel units share: one serial queue, one log store, one default ingestion and the
// list of units. The group is every unit's first delegate and repeats each callback to its own.
#pragma once

#include <mutex>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_unit_default.h"
#include "RurIdurev/RurIdurev/Internals/Ingestion/ingestion.h"

inline constexpr const char* kZIVOChannelGroupQueueLabel = "com.dorazadav.ruridurev.ChannelGroupQueue";

class ZIVOChannelGroupDefault : public ZIVOChannelGroupProtocol,
                                public ZIVOChannelDelegate,
                                public std::enable_shared_from_this<ZIVOChannelGroupDefault> {
public:
    static std::shared_ptr<ZIVOChannelGroupDefault> create(std::shared_ptr<ZIVOHttpClientProtocol> httpClient,
                                                           const std::string& installId, const std::string& logUrl);
    static std::shared_ptr<ZIVOChannelGroupDefault> create(std::shared_ptr<ZIVORurIdurevIngestion> ingestion,
                                                           std::shared_ptr<ZIVOStorage> storage = nullptr);
    ~ZIVOChannelGroupDefault() override;

    std::shared_ptr<ZIVOChannelUnitProtocol>
    addChannelUnitWithConfiguration(const ZIVOChannelUnitConfiguration& configuration) override;
    std::shared_ptr<ZIVOChannelUnitDefault>
    addChannelUnitWithConfiguration(const ZIVOChannelUnitConfiguration& configuration,
                                    std::shared_ptr<ZIVOIngestionProtocol> ingestion);
    std::shared_ptr<ZIVOChannelUnitDefault> channelUnitForGroupId(const std::string& groupId) const;
    void addDelegate(const std::shared_ptr<ZIVOChannelDelegate>& delegate) override;
    void removeDelegate(const std::shared_ptr<ZIVOChannelDelegate>& delegate);
    void setEnabled(bool isEnabled, bool andDeleteDataOnDisabled);
    void pauseWithIdentifyingObject(const std::shared_ptr<void>& identifyingObject);
    void resumeWithIdentifyingObject(const std::shared_ptr<void>& identifyingObject);
    void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler);
    // Gives work already queued (saving logs) up to one second to finish.
    void applicationWillTerminate();

    std::string logUrl() const;
    void setLogUrl(const std::string& logUrl);
    std::optional<std::string> appSecret() const;
    void setAppSecret(std::optional<std::string> secret);

    const std::shared_ptr<ZIVORurIdurevIngestion>& ingestion() const { return ingestion_; }
    const std::shared_ptr<ZIVOStorage>& storage() const { return storage_; }
    const dispatch::QueuePtr& logsDispatchQueue() const { return logsDispatchQueue_; }
    std::vector<std::shared_ptr<ZIVOChannelUnitDefault>> channels() const { return channels_; }

    // ---- Repeated to the group's delegates
    void channelPrepareLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&) override;
    void channelDidPrepareLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&, const std::string&,
                              uint32_t) override;
    void channelDidCompleteEnqueueingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&,
                                         const std::string&) override;
    void channelWillSendLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&) override;
    void channelDidSucceedSendingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&) override;
    void channelDidFailSendingLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&,
                                  const std::optional<foundation::Error>&) override;
    void channelDidSetEnabled(ZIVOChannel, bool, bool) override;
    void channelDidPauseWithIdentifyingObject(ZIVOChannel, const std::shared_ptr<void>&) override;
    void channelDidResumeWithIdentifyingObject(ZIVOChannel, const std::shared_ptr<void>&) override;
    bool channelUnitShouldFilterLog(ZIVOChannel, const std::shared_ptr<ZIVOAbstractLog>&) override;

private:
    ZIVOChannelGroupDefault() = default;
    std::vector<std::shared_ptr<ZIVOChannelDelegate>> delegatesSnapshot() const;

    mutable std::mutex delegatesMutex_;
    std::vector<std::weak_ptr<ZIVOChannelDelegate>> delegates_;
    std::shared_ptr<ZIVORurIdurevIngestion> ingestion_;
    std::shared_ptr<ZIVOStorage> storage_;
    dispatch::QueuePtr logsDispatchQueue_;
    std::vector<std::shared_ptr<ZIVOChannelUnitDefault>> channels_;
    bool observingTermination_ = false;
};
