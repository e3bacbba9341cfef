#include "RurIdurev/RurIdurev/Internals/Channel/channel_unit_default.h"

#include <cmath>

#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/http_util.h"
#include "RurIdurev/RurIdurev/Internals/Model/log_container.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurev/RurIdurev/rur_idurev.h"
#include "platform/dispatch/queue_check.h"
#include "platform/foundation/uuid.h"

namespace {

foundation::Error cancellationError() { return ZIVOHttpUtil::sdkError(kZIVOConnectionPausedErrorCode); }

}  // namespace

std::shared_ptr<ZIVOChannelUnitDefault> ZIVOChannelUnitDefault::create(std::shared_ptr<ZIVOIngestionProtocol> ingestion,
                                                                       std::shared_ptr<ZIVOStorage> storage,
                                                                       ZIVOChannelUnitConfiguration configuration,
                                                                       dispatch::QueuePtr logsDispatchQueue) {
    return std::shared_ptr<ZIVOChannelUnitDefault>(new ZIVOChannelUnitDefault(
        std::move(ingestion), std::move(storage), std::move(configuration), std::move(logsDispatchQueue)));
}

ZIVOChannelUnitDefault::ZIVOChannelUnitDefault(std::shared_ptr<ZIVOIngestionProtocol> ingestion,
                                               std::shared_ptr<ZIVOStorage> storage,
                                               ZIVOChannelUnitConfiguration configuration, dispatch::QueuePtr queue)
    : configuration_(std::move(configuration)),
      logsDispatchQueue_(std::move(queue)),
      ingestion_(std::move(ingestion)),
      storage_(std::move(storage)) {
    if (storage_) itemsCount_ = storage_->countLogs();
}

std::vector<std::shared_ptr<ZIVOChannelDelegate>> ZIVOChannelUnitDefault::delegatesSnapshot() {
    std::lock_guard lock(delegatesMutex_);
    std::vector<std::shared_ptr<ZIVOChannelDelegate>> out;
    for (const auto& weak : delegates_)
        if (auto d = weak.lock()) out.push_back(std::move(d));
    return out;
}

void ZIVOChannelUnitDefault::addDelegate(const std::shared_ptr<ZIVOChannelDelegate>& delegate) {
    std::weak_ptr<ZIVOChannelDelegate> weak = delegate;
    auto self = shared_from_this();
    logsDispatchQueue_->async([self, weak] {
        std::lock_guard lock(self->delegatesMutex_);
        if (auto d = weak.lock()) {
            for (const auto& existing : self->delegates_)
                if (existing.lock() == d) return;
            self->delegates_.push_back(weak);
        }
    });
}

void ZIVOChannelUnitDefault::removeDelegate(const std::shared_ptr<ZIVOChannelDelegate>& delegate) {
    auto self = shared_from_this();
    const void* target = delegate.get();
    logsDispatchQueue_->async([self, target] {
        std::lock_guard lock(self->delegatesMutex_);
        std::erase_if(self->delegates_, [target](const auto& weak) {
            auto d = weak.lock();
            return !d || d.get() == target;
        });
    });
}

void ZIVOChannelUnitDefault::enqueueItem(const std::shared_ptr<ZIVOAbstractLog>& item, uint32_t flags) {
    enqueueItem(item, flags, nullptr);
}

void ZIVOChannelUnitDefault::enqueueItem(const std::shared_ptr<ZIVOAbstractLog>& item, uint32_t flags,
                                         std::function<void(bool saved)> saved) {
    auto answer = [&saved](bool result) {
        if (saved) saved(result);
    };
    if (!item) {
        ZIVOLogWarning(kZIVOLogTag, std::string("Log is not valid."));
        answer(false);
        return;
    }
    if (!item->timestamp()) item->setTimestamp(foundation::Date{dispatch::wallNow()});
    if (!item->device()) item->setDevice(ZIVODeviceTracker::sharedInstance()->device());
    if (!item->dataResidencyRegion()) item->setDataResidencyRegion(ZIVORurIdurev::dataResidencyRegion());
    if (!item->isValid()) {
        ZIVOLogWarning(kZIVOLogTag, std::string("Log is not valid."));
        answer(false);
        return;
    }
    std::string internalId = foundation::UUID::random().string();
    const void* channel = this;
    for (const auto& d : delegatesSnapshot()) d->channelPrepareLog(channel, item);
    for (const auto& d : delegatesSnapshot()) d->channelDidPrepareLog(channel, item, internalId, flags);

    auto self = shared_from_this();
    logsDispatchQueue_->async([self, item, internalId, flags, channel, saved = std::move(saved)] {
        auto answer = [&saved](bool result) {
            if (saved) saved(result);
        };
        bool filtered = false;
        for (const auto& d : self->delegatesSnapshot()) {
            if (d->channelUnitShouldFilterLog(channel, item)) {
                filtered = true;
                break;
            }
        }
        auto complete = [&] {
            for (const auto& d : self->delegatesSnapshot())
                d->channelDidCompleteEnqueueingLog(channel, item, internalId);
        };
        std::string type = item->type().value_or("");
        if (filtered) {
            ZIVOLogDebug(kZIVOLogTag, "Log of type '" + type + "' was filtered out by delegate(s)");
            complete();
            answer(false);
            return;
        }
        if (!self->ingestion_ || !self->ingestion_->isReadyToSend()) {
            ZIVOLogDebug(kZIVOLogTag,
                         "Log of type '" + type +
                             "' was not filtered out by delegate(s) but ingestion is not ready to send it.");
            complete();
            answer(false);
            return;
        }
        if (self->discardLogs_) {
            std::string group = self->configuration_.groupId;
            ZIVOLogWarning(kZIVOLogTag, "Channel " + group + " disabled in log discarding mode, discard this log.");
            self->notifyFailureBeforeSendingForItem(item, cancellationError());
            complete();
            answer(false);
            return;
        }
        ZIVOLogDebug(kZIVOLogTag, "Saving log, type: " + type + ", flags: " + std::to_string(flags) + ".");
        const bool stored = self->storage_->saveLog(item, self->configuration_.groupId, flags);
        complete();
        answer(stored);
        if (stored) {
            ++self->itemsCount_;
            self->checkPendingLogsSync();
        }
    });
}

void ZIVOChannelUnitDefault::checkPendingLogs() {
    auto self = shared_from_this();
    logsDispatchQueue_->async([self] { self->checkPendingLogsSync(); });
}

void ZIVOChannelUnitDefault::checkPendingLogsSync() {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    // Only the 6-second unit flushes early on count; the others always wait for their timer.
    if (!paused_ && configuration_.flushInterval == 6 && itemsCount_ >= configuration_.batchSizeLimit) {
        flushQueue();
        return;
    }
    if (itemsCount_ == 0) return;
    uint64_t delay = resolveFlushInterval();
    if (paused_) return;
    if (delay > 0) {
        startTimer(delay);
    } else {
        flushQueue();
    }
}

uint64_t ZIVOChannelUnitDefault::resolveFlushInterval() {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    auto interval = static_cast<uint64_t>(configuration_.flushInterval);
    if (interval <= 6) return interval;
    auto defaults = ZIVORurIdurevUserDefaults::shared();
    auto key = oldestPendingLogTimestampKey();
    auto stored = defaults->objectForKey(key);
    double now = dispatch::wallNow();
    if (const auto* start = stored.ifDate(); start && start->secondsSince1970 <= now) {
        double startTime = start->secondsSince1970;
        if (now > startTime + static_cast<double>(interval)) {
            defaults->removeObjectForKey(key);
            return 0;
        }
        return interval - static_cast<uint64_t>(std::trunc(now - startTime));
    }
    defaults->setObject(foundation::Date{dispatch::wallNow()}, key);
    return interval;
}

void ZIVOChannelUnitDefault::startTimer(uint64_t seconds) {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    if (!enabled_) return;
    resetTimer();
    std::weak_ptr<ZIVOChannelUnitDefault> weak = weak_from_this();
    timerSource_ = std::make_unique<dispatch::TimerSource>(logsDispatchQueue_, [weak] {
        auto self = weak.lock();
        if (!self) return;
        if (self->itemsCount_ > 0) self->flushQueue();
        self->resetTimer();
        ZIVORurIdurevUserDefaults::shared()->removeObjectForKey(self->oldestPendingLogTimestampKey());
    });
    timerSource_->setTimerAtWallTime(dispatch::wallNow() + static_cast<double>(seconds), 1, 1);
    timerSource_->start();
}

void ZIVOChannelUnitDefault::resetTimer() {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    if (timerSource_) {
        timerSource_->cancel();
        // The handler may be the one running now; let the source go once it has returned.
        auto* source = timerSource_.release();
        logsDispatchQueue_->async([source] { delete source; });
    }
}

void ZIVOChannelUnitDefault::flushQueue() {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    for (;;) {
        if (!ingestion_ || !ingestion_->isEnabled()) {
            std::string group = configuration_.groupId;
            ZIVOLogDebug(kZIVOLogTag, "RurIdurev SDK is offline, groupId:" + group + ".");
            return;
        }
        if (!enabled_ || !ingestion_->isReadyToSend()) return;
        resetTimer();
        if (paused_ || pendingBatchQueueFull_) {
            if (itemsCount_ >= configuration_.batchSizeLimit) {
                availableBatchFromStorage_ = true;
                itemsCount_ = 0;
            }
            return;
        }
        itemsCount_ = 0;
        auto self = shared_from_this();
        availableBatchFromStorage_ = storage_->loadLogsWithGroupId(
            configuration_.groupId, configuration_.batchSizeLimit,
            std::vector<std::string>(pausedTargetKeys_.begin(), pausedTargetKeys_.end()),
            [self](const std::vector<std::shared_ptr<ZIVOAbstractLog>>& logs,
                   const std::optional<std::string>& batchId) {
                if (!logs.empty() && batchId) self->sendLogContainer(std::make_shared<ZIVOLogContainer>(batchId, logs));
            });
        if (!(availableBatchFromStorage_ && !pendingBatchQueueFull_)) return;
    }
}

void ZIVOChannelUnitDefault::sendLogContainer(const std::shared_ptr<ZIVOLogContainer>& container) {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    std::string batchId = container->batchId().value_or("");
    pendingBatchIds_.push_back(batchId);
    if (pendingBatchIds_.size() >= configuration_.pendingBatchesLimit) pendingBatchQueueFull_ = true;
    const auto& logs = container->logs();
    if (ZIVOLogger::currentLogLevel() <= ZIVOLogLevelDebug) {
        for (size_t i = 0; i < logs.size(); ++i) {
            auto log = logs[i];
            std::string group = configuration_.groupId;
            size_t count = logs.size();
            ZIVOLogDebug(kZIVOLogTag, "Sending " + std::to_string(i + 1) + "/" + std::to_string(count) +
                                          " log, group Id: " + group + ", batch Id: " + batchId +
                                          ", session Id: " + log->sid().value_or("(null)") + ", payload:\n" +
                                          log->serializeLogWithPrettyPrinting(true).value_or(""));
        }
    }
    const void* channel = this;
    for (const auto& d : delegatesSnapshot())
        for (const auto& log : logs) d->channelWillSendLog(channel, log);
    // The ingestion keeps this handler while the call waits (paused, retrying): a strong reference
    // here would keep the unit alive through its own ingestion for as long as that lasts.
    std::weak_ptr<ZIVOChannelUnitDefault> weak = weak_from_this();
    ingestion_->sendAsync(container,
                          [weak, container](const std::string& id, const std::optional<net::HTTPURLResponse>& response,
                                            const std::optional<foundation::Data>&,
                                            const std::optional<foundation::Error>& error) {
                              auto self = weak.lock();
                              if (!self) return;
                              self->logsDispatchQueue_->async([self, id, response, container, error] {
                                  self->handleReply(id, response, container, error);
                              });
                          });
}

void ZIVOChannelUnitDefault::handleReply(const std::string& batchId,
                                         const std::optional<net::HTTPURLResponse>& response,
                                         const std::shared_ptr<ZIVOLogContainer>& container,
                                         const std::optional<foundation::Error>& error) {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    auto it = std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId);
    if (it == pendingBatchIds_.end()) {
        ZIVOLogWarning(kZIVOLogTag, "Batch Id " + batchId + " not expected, ignore.");
        return;
    }
    int status = response ? response->statusCode : 0;
    const void* channel = this;
    bool success = ZIVOHttpUtil::isSuccessStatusCode(status);
    if (success) {
        ZIVOLogDebug(kZIVOLogTag, "Log(s) sent with success, batch Id:" + batchId + ".");
        for (const auto& d : delegatesSnapshot())
            for (const auto& log : container->logs()) d->channelDidSucceedSendingLog(channel, log);
        storage_->deleteLogsWithBatchId(batchId, configuration_.groupId);
    } else {
        ZIVOLogError(kZIVOLogTag,
                     "Log(s) sent with failure, batch Id:" + batchId + ", status code:" + std::to_string(status));
        for (const auto& d : delegatesSnapshot())
            for (const auto& log : container->logs()) d->channelDidFailSendingLog(channel, log, error);
        if (!ZIVOHttpUtil::isRecoverableError(status)) {
            std::string group = configuration_.groupId;
            ZIVOLogError(kZIVOLogTag, "Fatal error encountered; shutting down channel unit with group ID " + group);
            auto self = shared_from_this();
            logsDispatchQueue_->async([self] { self->setEnabledSync(false, true); });
            return;
        }
    }
    pendingBatchIds_.erase(std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId));
    if (pendingBatchQueueFull_ && pendingBatchIds_.size() < configuration_.pendingBatchesLimit) {
        pendingBatchQueueFull_ = false;
        if (success && availableBatchFromStorage_) flushQueue();
    }
}

void ZIVOChannelUnitDefault::setEnabled(bool isEnabled, bool andDeleteDataOnDisabled) {
    auto self = shared_from_this();
    logsDispatchQueue_->async(
        [self, isEnabled, andDeleteDataOnDisabled] { self->setEnabledSync(isEnabled, andDeleteDataOnDisabled); });
}

void ZIVOChannelUnitDefault::setEnabledSync(bool isEnabled, bool andDeleteDataOnDisabled) {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    if (enabled_ != isEnabled) {
        enabled_ = isEnabled;
        // The unit's own pause lane: a shared pointer that does not own the unit.
        std::shared_ptr<void> lane(shared_from_this(), static_cast<void*>(this));
        if (isEnabled) {
            resumeWithIdentifyingObjectSync(lane);
        } else {
            pauseWithIdentifyingObjectSync(lane);
        }
    }
    if (!isEnabled && andDeleteDataOnDisabled) {
        std::string group = configuration_.groupId;
        ZIVOLogDebug(kZIVOLogTag, "Delete all logs for group Id " + group);
        deleteAllLogsWithErrorSync(cancellationError());
        itemsCount_ = 0;
        availableBatchFromStorage_ = false;
        pendingBatchQueueFull_ = false;
        ZIVORurIdurevUserDefaults::shared()->removeObjectForKey(oldestPendingLogTimestampKey());
        discardLogs_ = true;
    } else {
        discardLogs_ = false;
    }
    for (const auto& d : delegatesSnapshot()) d->channelDidSetEnabled(this, isEnabled, andDeleteDataOnDisabled);
}

void ZIVOChannelUnitDefault::pauseWithIdentifyingObject(const std::shared_ptr<void>& identifyingObject) {
    auto self = shared_from_this();
    logsDispatchQueue_->async([self, identifyingObject] { self->pauseWithIdentifyingObjectSync(identifyingObject); });
}

void ZIVOChannelUnitDefault::resumeWithIdentifyingObject(const std::shared_ptr<void>& identifyingObject) {
    auto self = shared_from_this();
    logsDispatchQueue_->async([self, identifyingObject] { self->resumeWithIdentifyingObjectSync(identifyingObject); });
}

void ZIVOChannelUnitDefault::pauseWithIdentifyingObjectSync(const std::shared_ptr<void>& object) {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    std::erase_if(pausedIdentifyingObjects_, [](const auto& weak) { return weak.expired(); });
    bool present = false;
    for (const auto& weak : pausedIdentifyingObjects_) present |= weak.lock().get() == object.get();
    if (!present) pausedIdentifyingObjects_.push_back(object);
    std::string group = configuration_.groupId;
    ZIVOLogVerbose(kZIVOLogTag, "Identifying object added to pause lane for channel " + group + ".");
    if (!paused_) {
        ZIVOLogDebug(kZIVOLogTag, "Pause channel " + group + ".");
        paused_ = true;
        resetTimer();
    }
    for (const auto& d : delegatesSnapshot()) d->channelDidPauseWithIdentifyingObject(this, object);
}

void ZIVOChannelUnitDefault::resumeWithIdentifyingObjectSync(const std::shared_ptr<void>& object) {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    std::erase_if(pausedIdentifyingObjects_,
                  [&](const auto& weak) { return weak.expired() || weak.lock().get() == object.get(); });
    std::string group = configuration_.groupId;
    ZIVOLogVerbose(kZIVOLogTag, "Identifying object removed from pause lane for channel " + group + ".");
    if (pausedIdentifyingObjects_.empty()) {
        ZIVOLogDebug(kZIVOLogTag, "Resume channel " + group + ".");
        paused_ = false;
        checkPendingLogsSync();
    }
    for (const auto& d : delegatesSnapshot()) d->channelDidResumeWithIdentifyingObject(this, object);
}

void ZIVOChannelUnitDefault::pauseSendingLogsWithToken(const std::string& token) {
    auto key = ZIVOUtility::targetKeyFromTargetToken(token).value_or("");
    auto self = shared_from_this();
    logsDispatchQueue_->async([self, key] {
        ZIVOLogDebug(kZIVOLogTag, "Pause channel for target key " + key + ".");
        self->pausedTargetKeys_.insert(key);
    });
}

void ZIVOChannelUnitDefault::resumeSendingLogsWithToken(const std::string& token) {
    auto key = ZIVOUtility::targetKeyFromTargetToken(token).value_or("");
    auto self = shared_from_this();
    logsDispatchQueue_->async([self, key] {
        ZIVOLogDebug(kZIVOLogTag, "Resume channel for target key " + key + ".");
        self->pausedTargetKeys_.erase(key);
        self->itemsCount_ = self->storage_->countLogs();
        self->checkPendingLogsSync();
    });
}

void ZIVOChannelUnitDefault::deleteAllLogsWithErrorSync(const foundation::Error& error) {
    HX_ASSERT_ON_QUEUE(logsDispatchQueue_);
    for (const auto& batchId : pendingBatchIds_) storage_->deleteLogsWithBatchId(batchId, configuration_.groupId);
    pendingBatchIds_.clear();
    for (const auto& log : storage_->deleteLogsWithGroupId(configuration_.groupId))
        notifyFailureBeforeSendingForItem(log, error);
}

void ZIVOChannelUnitDefault::notifyFailureBeforeSendingForItem(const std::shared_ptr<ZIVOAbstractLog>& item,
                                                               const std::optional<foundation::Error>& error) {
    for (const auto& d : delegatesSnapshot()) {
        d->channelWillSendLog(this, item);
        d->channelDidFailSendingLog(this, item, error);
    }
}
