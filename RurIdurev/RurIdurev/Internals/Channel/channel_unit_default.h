// The per-group pipe between the services that produce logs and the ingestion that sends them:
// filter, store, decide when to flush, send batches, and shut down on a permanent failure.
// All state lives on the group's serial queue; only enqueueing's preparation runs on the caller.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_delegate.h"
#include "RurIdurev/RurIdurev/Internals/Channel/channel_protocols.h"
#include "RurIdurev/RurIdurev/Internals/Ingestion/ingestion.h"
#include "RurIdurev/RurIdurev/Internals/Storage/storage.h"
#include "platform/dispatch/dispatch.h"

inline constexpr int kZIVOConnectionPausedErrorCode = 100;

class ZIVOChannelUnitDefault : public ZIVOChannelUnitProtocol,
                               public std::enable_shared_from_this<ZIVOChannelUnitDefault> {
public:
    static std::shared_ptr<ZIVOChannelUnitDefault> create(std::shared_ptr<ZIVOIngestionProtocol> ingestion,
                                                          std::shared_ptr<ZIVOStorage> storage,
                                                          ZIVOChannelUnitConfiguration configuration,
                                                          dispatch::QueuePtr logsDispatchQueue);

    void enqueueItem(const std::shared_ptr<ZIVOAbstractLog>& item, uint32_t flags) override;
    void enqueueItem(const std::shared_ptr<ZIVOAbstractLog>& item, uint32_t flags,
                     std::function<void(bool saved)> saved) override;
    void setEnabled(bool isEnabled, bool andDeleteDataOnDisabled) override;
    void addDelegate(const std::shared_ptr<ZIVOChannelDelegate>& delegate) override;
    void removeDelegate(const std::shared_ptr<ZIVOChannelDelegate>& delegate) override;
    void pauseWithIdentifyingObject(const std::shared_ptr<void>& identifyingObject) override;
    void resumeWithIdentifyingObject(const std::shared_ptr<void>& identifyingObject) override;
    void pauseSendingLogsWithToken(const std::string& token);
    void resumeSendingLogsWithToken(const std::string& token);
    void checkPendingLogs() override;

    const ZIVOChannelUnitConfiguration& configuration() const { return configuration_; }
    const dispatch::QueuePtr& logsDispatchQueue() const { return logsDispatchQueue_; }
    std::string oldestPendingLogTimestampKey() const { return "ChannelStartTimer:" + configuration_.groupId; }

    // State for inspection; read on the queue.
    bool isEnabled() const { return enabled_; }
    bool isPaused() const { return paused_; }
    bool discardLogs() const { return discardLogs_; }
    uint64_t itemsCount() const { return itemsCount_; }
    size_t pendingBatchCount() const { return pendingBatchIds_.size(); }
    bool hasTimer() const { return timerSource_ != nullptr; }

private:
    ZIVOChannelUnitDefault(std::shared_ptr<ZIVOIngestionProtocol> ingestion, std::shared_ptr<ZIVOStorage> storage,
                           ZIVOChannelUnitConfiguration configuration, dispatch::QueuePtr queue);
    std::vector<std::shared_ptr<ZIVOChannelDelegate>> delegatesSnapshot();
    void checkPendingLogsSync();
    void flushQueue();
    void sendLogContainer(const std::shared_ptr<ZIVOLogContainer>& container);
    void handleReply(const std::string& batchId, const std::optional<net::HTTPURLResponse>& response,
                     const std::shared_ptr<ZIVOLogContainer>& container, const std::optional<foundation::Error>& error);
    void startTimer(uint64_t seconds);
    void resetTimer();
    uint64_t resolveFlushInterval();
    void setEnabledSync(bool isEnabled, bool andDeleteDataOnDisabled);
    void pauseWithIdentifyingObjectSync(const std::shared_ptr<void>& identifyingObject);
    void resumeWithIdentifyingObjectSync(const std::shared_ptr<void>& identifyingObject);
    void deleteAllLogsWithErrorSync(const foundation::Error& error);
    void notifyFailureBeforeSendingForItem(const std::shared_ptr<ZIVOAbstractLog>& item,
                                           const std::optional<foundation::Error>& error);

    ZIVOChannelUnitConfiguration configuration_;
    dispatch::QueuePtr logsDispatchQueue_;
    std::shared_ptr<ZIVOIngestionProtocol> ingestion_;
    std::shared_ptr<ZIVOStorage> storage_;

    std::mutex delegatesMutex_;
    std::vector<std::weak_ptr<ZIVOChannelDelegate>> delegates_;

    // Queue-owned state.
    bool availableBatchFromStorage_ = false;
    bool pendingBatchQueueFull_ = false;
    bool enabled_ = true;
    bool paused_ = false;
    bool discardLogs_ = false;
    uint64_t itemsCount_ = 0;
    std::unique_ptr<dispatch::TimerSource> timerSource_;
    std::vector<std::string> pendingBatchIds_;
    std::vector<std::weak_ptr<void>> pausedIdentifyingObjects_;
    std::set<std::string> pausedTargetKeys_;
};
