#include "RurIdurev/RurIdurev/Internals/Channel/channel_group_default.h"

#include "RurIdurev/RurIdurev/Internals/Storage/log_db_storage.h"
#include "RurIdurev/RurIdurev/Internals/Util/dispatcher_util.h"
#include "platform/foundation/notification_center.h"

namespace {
constexpr const char* kWillTerminateNotification = "UIApplicationWillTerminateNotification";
}

std::shared_ptr<ZIVOChannelGroupDefault>
ZIVOChannelGroupDefault::create(std::shared_ptr<ZIVOHttpClientProtocol> httpClient, const std::string& installId,
                                const std::string& logUrl) {
    return create(ZIVORurIdurevIngestion::create(std::move(httpClient), logUrl, installId));
}

std::shared_ptr<ZIVOChannelGroupDefault>
ZIVOChannelGroupDefault::create(std::shared_ptr<ZIVORurIdurevIngestion> ingestion,
                                std::shared_ptr<ZIVOStorage> storage) {
    std::shared_ptr<ZIVOChannelGroupDefault> group(new ZIVOChannelGroupDefault());
    group->logsDispatchQueue_ = dispatch::Queue::serial(kZIVOChannelGroupQueueLabel);
    group->storage_ = storage ? std::move(storage) : std::make_shared<ZIVOLogDBStorage>();
    group->ingestion_ = std::move(ingestion);
    return group;
}

ZIVOChannelGroupDefault::~ZIVOChannelGroupDefault() {
    if (observingTermination_) foundation::NotificationCenter::defaultCenter().removeObserver(this);
}

std::shared_ptr<ZIVOChannelUnitProtocol>
ZIVOChannelGroupDefault::addChannelUnitWithConfiguration(const ZIVOChannelUnitConfiguration& configuration) {
    return addChannelUnitWithConfiguration(configuration, nullptr);
}

std::shared_ptr<ZIVOChannelUnitDefault>
ZIVOChannelGroupDefault::addChannelUnitWithConfiguration(const ZIVOChannelUnitConfiguration& configuration,
                                                         std::shared_ptr<ZIVOIngestionProtocol> ingestion) {
    auto unit = ZIVOChannelUnitDefault::create(ingestion ? std::move(ingestion) : ingestion_, storage_, configuration,
                                               logsDispatchQueue_);
    unit->addDelegate(shared_from_this());
    // Logs stored by an earlier run go out without waiting for a new one.
    unit->checkPendingLogs();
    channels_.push_back(unit);
    for (const auto& d : delegatesSnapshot()) d->channelGroupDidAddChannelUnit(*this, unit);
    return unit;
}

std::shared_ptr<ZIVOChannelUnitDefault>
ZIVOChannelGroupDefault::channelUnitForGroupId(const std::string& groupId) const {
    for (const auto& unit : channels_)
        if (unit->configuration().groupId == groupId) return unit;
    return nullptr;
}

void ZIVOChannelGroupDefault::addDelegate(const std::shared_ptr<ZIVOChannelDelegate>& delegate) {
    std::lock_guard lock(delegatesMutex_);
    delegates_.push_back(delegate);
}

void ZIVOChannelGroupDefault::removeDelegate(const std::shared_ptr<ZIVOChannelDelegate>& delegate) {
    std::lock_guard lock(delegatesMutex_);
    std::erase_if(delegates_, [&](const auto& weak) {
        auto d = weak.lock();
        return !d || d == delegate;
    });
}

std::vector<std::shared_ptr<ZIVOChannelDelegate>> ZIVOChannelGroupDefault::delegatesSnapshot() const {
    std::lock_guard lock(delegatesMutex_);
    std::vector<std::shared_ptr<ZIVOChannelDelegate>> out;
    for (const auto& weak : delegates_)
        if (auto d = weak.lock()) out.push_back(std::move(d));
    return out;
}

void ZIVOChannelGroupDefault::setEnabled(bool isEnabled, bool andDeleteDataOnDisabled) {
    auto& center = foundation::NotificationCenter::defaultCenter();
    if (isEnabled) {
        if (!observingTermination_) {
            std::weak_ptr<ZIVOChannelGroupDefault> weak = weak_from_this();
            center.addObserver(this, kWillTerminateNotification, [weak](const foundation::Notification&) {
                if (auto self = weak.lock()) self->applicationWillTerminate();
            });
            observingTermination_ = true;
        }
    } else {
        center.removeObserver(this);
        observingTermination_ = false;
    }
    if (ingestion_) ingestion_->setEnabled(isEnabled, andDeleteDataOnDisabled);
    for (const auto& unit : channels_) unit->setEnabled(isEnabled, andDeleteDataOnDisabled);
    for (const auto& d : delegatesSnapshot()) d->channelDidSetEnabled(this, isEnabled, andDeleteDataOnDisabled);
}

void ZIVOChannelGroupDefault::applicationWillTerminate() {
    ZIVODispatcherUtil::dispatchSyncWithTimeout(1, logsDispatchQueue_, [] {});
}

void ZIVOChannelGroupDefault::pauseWithIdentifyingObject(const std::shared_ptr<void>& identifyingObject) {
    if (ingestion_) ingestion_->setEnabled(false, false);
    auto units = channels_;
    for (const auto& unit : units) unit->pauseWithIdentifyingObject(identifyingObject);
}

void ZIVOChannelGroupDefault::resumeWithIdentifyingObject(const std::shared_ptr<void>& identifyingObject) {
    if (ingestion_) ingestion_->setEnabled(true, false);
    auto units = channels_;
    for (const auto& unit : units) unit->resumeWithIdentifyingObject(identifyingObject);
}

void ZIVOChannelGroupDefault::setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) {
    auto storage = storage_;
    logsDispatchQueue_->async(
        [storage, sizeInBytes, completionHandler] { storage->setMaxStorageSize(sizeInBytes, completionHandler); });
}

std::string ZIVOChannelGroupDefault::logUrl() const {
    auto url = ingestion_ ? ingestion_->sendURL() : std::string();
    auto at = url.find("/logs?");
    return at == std::string::npos ? url : url.substr(0, at);
}

void ZIVOChannelGroupDefault::setLogUrl(const std::string& logUrl) {
    if (ingestion_) ingestion_->setBaseURL(logUrl);
}

std::optional<std::string> ZIVOChannelGroupDefault::appSecret() const {
    return ingestion_ ? ingestion_->appSecret() : std::nullopt;
}

void ZIVOChannelGroupDefault::setAppSecret(std::optional<std::string> secret) {
    if (ingestion_) ingestion_->setAppSecret(std::move(secret));
}

void ZIVOChannelGroupDefault::channelPrepareLog(ZIVOChannel c, const std::shared_ptr<ZIVOAbstractLog>& log) {
    for (const auto& d : delegatesSnapshot()) d->channelPrepareLog(c, log);
}
void ZIVOChannelGroupDefault::channelDidPrepareLog(ZIVOChannel c, const std::shared_ptr<ZIVOAbstractLog>& log,
                                                   const std::string& id, uint32_t flags) {
    for (const auto& d : delegatesSnapshot()) d->channelDidPrepareLog(c, log, id, flags);
}
void ZIVOChannelGroupDefault::channelDidCompleteEnqueueingLog(ZIVOChannel c,
                                                              const std::shared_ptr<ZIVOAbstractLog>& log,
                                                              const std::string& id) {
    for (const auto& d : delegatesSnapshot()) d->channelDidCompleteEnqueueingLog(c, log, id);
}
void ZIVOChannelGroupDefault::channelWillSendLog(ZIVOChannel c, const std::shared_ptr<ZIVOAbstractLog>& log) {
    for (const auto& d : delegatesSnapshot()) d->channelWillSendLog(c, log);
}
void ZIVOChannelGroupDefault::channelDidSucceedSendingLog(ZIVOChannel c, const std::shared_ptr<ZIVOAbstractLog>& log) {
    for (const auto& d : delegatesSnapshot()) d->channelDidSucceedSendingLog(c, log);
}
void ZIVOChannelGroupDefault::channelDidFailSendingLog(ZIVOChannel c, const std::shared_ptr<ZIVOAbstractLog>& log,
                                                       const std::optional<foundation::Error>& error) {
    for (const auto& d : delegatesSnapshot()) d->channelDidFailSendingLog(c, log, error);
}
void ZIVOChannelGroupDefault::channelDidSetEnabled(ZIVOChannel c, bool enabled, bool deleteData) {
    for (const auto& d : delegatesSnapshot()) d->channelDidSetEnabled(c, enabled, deleteData);
}
void ZIVOChannelGroupDefault::channelDidPauseWithIdentifyingObject(ZIVOChannel c, const std::shared_ptr<void>& o) {
    for (const auto& d : delegatesSnapshot()) d->channelDidPauseWithIdentifyingObject(c, o);
}
void ZIVOChannelGroupDefault::channelDidResumeWithIdentifyingObject(ZIVOChannel c, const std::shared_ptr<void>& o) {
    for (const auto& d : delegatesSnapshot()) d->channelDidResumeWithIdentifyingObject(c, o);
}
bool ZIVOChannelGroupDefault::channelUnitShouldFilterLog(ZIVOChannel c, const std::shared_ptr<ZIVOAbstractLog>& log) {
    for (const auto& d : delegatesSnapshot())
        if (d->channelUnitShouldFilterLog(c, log)) return true;
    return false;
}
