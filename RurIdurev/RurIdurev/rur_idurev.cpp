#include "RurIdurev/RurIdurev/rur_idurev.h"

#include <algorithm>
#include <cstdlib>

#include "RurIdurev/RurIdurev/Internals/Channel/channel_group_default.h"
#include "RurIdurev/RurIdurev/Internals/Channel/zid_azaduzuri_channel_delegate.h"
#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"
#include "RurIdurev/RurIdurev/Internals/Context/Session/session_context.h"
#include "RurIdurev/RurIdurev/Internals/Context/UserId/user_id_context.h"
#include "RurIdurev/RurIdurev/Internals/DelegateForwarder/app_delegate_forwarder.h"
#include "RurIdurev/RurIdurev/Internals/HttpClient/http_client.h"
#include "RurIdurev/RurIdurev/Internals/Model/start_service_log.h"
#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/network_requests_allowed.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "RurIdurev/RurIdurev/logger.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/uuid.h"
#include "platform/kernel/sysctl.h"

#include <unistd.h>

namespace {

constexpr const char* kEnabledKey = "RurIdurevIsEnabled";
constexpr const char* kInstallIdKey = "InstallId";

// The SDK keeps every process-wide object alive to the end of the process (allocated once, never
// destroyed): its queues (the channel's, the logger's, the retry timers' global queue) may still
// run a block that reaches them while the main thread runs the static destructors at exit.
std::mutex& singletonMutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::shared_ptr<ZIVORurIdurev>& singleton() {
    static auto* instance = new std::shared_ptr<ZIVORurIdurev>;
    return *instance;
}
// Read by every enqueue on the caller's thread: kept apart from the facade's lock.
struct Region {
    foundation::Mutex mutex;
    std::optional<std::string> value HX_GUARDED_BY(mutex);
};
Region& region() {
    static auto* r = new Region;
    return *r;
}

struct Dependencies {
    foundation::Mutex mutex;
    std::shared_ptr<ZIVOHttpClientProtocol> client HX_GUARDED_BY(mutex);
};
Dependencies& dependencies() {
    static auto* d = new Dependencies;
    return *d;
}

}  // namespace

std::shared_ptr<ZIVOHttpClientProtocol> ZIVODependencyConfiguration::httpClient() {
    auto& d = dependencies();
    std::lock_guard lock(d.mutex);
    return d.client;
}
void ZIVODependencyConfiguration::setHttpClient(std::shared_ptr<ZIVOHttpClientProtocol> client) {
    auto& d = dependencies();
    std::lock_guard lock(d.mutex);
    d.client = std::move(client);
}

std::shared_ptr<ZIVORurIdurev> ZIVORurIdurev::sharedInstance() {
    std::lock_guard lock(singletonMutex());
    if (!singleton()) {
        singleton() = std::shared_ptr<ZIVORurIdurev>(new ZIVORurIdurev());
        ZIVOSdkState::setCurrent(singleton());
    }
    return singleton();
}

void ZIVORurIdurev::resetSharedInstance() {
    std::shared_ptr<ZIVORurIdurev> old;
    {
        std::lock_guard lock(singletonMutex());
        old = std::move(singleton());
    }
    if (old) foundation::NotificationCenter::defaultCenter().removeObserver(old.get());
    ZIVOSdkState::setCurrent(nullptr);
    auto& r = region();
    std::lock_guard lock(r.mutex);
    r.value.reset();
}

ZIVORurIdurev::ZIVORurIdurev() {
    ZIVORurIdurevUserDefaults::shared()->migrateKeys(
        {{"ZVRurIdurevChannelStartTimer", ZIVOUserDefaultsPrefixKey("ZVChannelStartTimer")},
         {"ZVRurIdurevPastDevices", std::string("pastDevicesKey")},
         {"ZVRurIdurevInstallId", std::string("ZVInstallId")},
         {"ZVRurIdurevRurIdurevIsEnabled", std::string("ZVRurIdurevIsEnabled")},
         {"ZVRurIdurevEncryptionKeyMetadata", std::string("ZVEncryptionKeyMetadata")},
         {"ZVRurIdurevSessionIdHistory", std::string("SessionIdHistory")},
         {"ZVRurIdurevUserIdHistory", std::string("UserIdHistory")}},
        "RurIdurev");
    ZIVOUtility::addMigrationClasses({{"ZVDeviceHistoryInfo", "ZIVODeviceHistoryInfo"},
                                      {"ZVDevice", "ZIVODevice"},
                                      {"ZVStartServiceLog", "ZIVOStartServiceLog"},
                                      {"ZVSessionHistoryInfo", "ZIVOSessionHistoryInfo"},
                                      {"ZVUserIdHistoryInfo", "ZIVOUserIdHistoryInfo"},
                                      {"ZVLogWithProperties", "ZIVOLogWithProperties"},
                                      {"ZVLogContainer", "ZIVOLogContainer"},
                                      {"ZVWrapperSdk", "ZIVOWrapperSdk"},
                                      {"ZVAbstractLog", "ZIVOAbstractLog"}});
    ZIVOArchiverUtil::registerRurIdurevModuleClasses();
    ZIVOArchiverUtil::addAllowedRurIdurevModuleClasses();
}

// ---- Class operations

void ZIVORurIdurev::start(const std::optional<std::string>& appSecret, const Services& services) {
    auto self = sharedInstance();
    if (!self->configure(ZIVOUtility::appSecretFrom(appSecret), ZIVOUtility::transmissionTargetTokenFrom(appSecret),
                         true))
        return;
    self->startServices(services, true);
}

void ZIVORurIdurev::startFromLibraryWithServices(const Services& services) {
    auto self = sharedInstance();
    if (!self->configure(std::nullopt, std::nullopt, false)) return;
    self->startServices(services, false);
}

void ZIVORurIdurev::configureWithAppSecret(const std::optional<std::string>& appSecret) {
    sharedInstance()->configure(ZIVOUtility::appSecretFrom(appSecret),
                                ZIVOUtility::transmissionTargetTokenFrom(appSecret), true);
}

void ZIVORurIdurev::startService(const std::shared_ptr<ZIVOServiceAbstract>& service) {
    if (!service) return;
    sharedInstance()->startServices({service}, true);
}

bool ZIVORurIdurev::isConfigured() {
    auto self = sharedInstance();
    std::lock_guard lock(self->mutex_);
    return self->sdkConfigured_ && self->configuredFromApplication_;
}

void ZIVORurIdurev::setEnabled(bool isEnabled) { sharedInstance()->setEnabledInstance(isEnabled); }
bool ZIVORurIdurev::isEnabledClass() { return sharedInstance()->isEnabled(); }

void ZIVORurIdurev::setNetworkRequestsAllowed(bool isAllowed) {
    auto self = sharedInstance();
    std::lock_guard lock(self->mutex_);
    ZIVOLogInfo(kZIVOLogTag,
                std::string("Rur Idurev SDK network requests are ") + (isAllowed ? "allowed" : "forbidden") + ".");
    // The flag itself is an atomic, so senders read it without this lock.
    ZIVONetworkRequestsAllowed::set(isAllowed);
    if (self->sdkConfigured_ && self->channelGroup_) {
        std::shared_ptr<void> lane(self->channelGroup_, static_cast<void*>(self->channelGroup_.get()));
        if (isAllowed) {
            self->channelGroup_->resumeWithIdentifyingObject(lane);
        } else {
            self->channelGroup_->pauseWithIdentifyingObject(lane);
        }
    }
}

bool ZIVORurIdurev::isNetworkRequestsAllowed() { return ZIVONetworkRequestsAllowed::isAllowed(); }

void ZIVORurIdurev::setLogUrl(const std::string& logUrl) {
    auto self = sharedInstance();
    std::lock_guard lock(self->mutex_);
    self->logUrl_ = logUrl;
    if (self->channelGroup_) {
        if (self->appSecret_) {
            ZIVOLogInfo(kZIVOLogTag, "The log url of Rur Idurev endpoint was changed to " + logUrl);
            self->channelGroup_->setLogUrl(logUrl);
        } else if (self->zidAzaduzuriChannelDelegate_) {
            ZIVOLogInfo(kZIVOLogTag, "The log url of Zid Azaduzuri endpoint was changed to " + logUrl);
            self->zidAzaduzuriChannelDelegate_->setLogUrl(logUrl);
        }
    }
}

std::optional<std::string> ZIVORurIdurev::logUrl() {
    auto self = sharedInstance();
    std::lock_guard lock(self->mutex_);
    return self->logUrl_;
}

void ZIVORurIdurev::setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) {
    if (sizeInBytes < kMinUpperSizeLimitInBytes) {
        if (completionHandler) completionHandler(false);
        ZIVOLogWarning(kZIVOLogTag, "Cannot set storage size to " + std::to_string(sizeInBytes) +
                                        " bytes, minimum value is " + std::to_string(kMinUpperSizeLimitInBytes) +
                                        " bytes");
        return;
    }
    auto self = sharedInstance();
    bool failed = false;
    {
        std::lock_guard lock(self->mutex_);
        if (self->setMaxStorageSizeHasBeenCalled_) {
            ZIVOLogWarning(kZIVOLogTag,
                           std::string("setMaxStorageSize:completionHandler: may only be called once per app launch"));
            failed = true;
        } else {
            self->setMaxStorageSizeHasBeenCalled_ = true;
            if (self->configuredFromApplication_) {
                ZIVOLogWarning(
                    kZIVOLogTag,
                    std::string("Unable to set storage size after the application has configured Rur Idurev"));
                failed = true;
            } else {
                self->requestedMaxStorageSizeInBytes_ = sizeInBytes;
                self->maxStorageSizeCompletionHandler_ = completionHandler;
                if (self->channelGroup_) self->channelGroup_->setMaxStorageSize(sizeInBytes, completionHandler);
            }
        }
    }
    if (failed && completionHandler) completionHandler(false);
}

void ZIVORurIdurev::setDataResidencyRegion(std::optional<std::string> value) {
    auto& r = region();
    std::lock_guard lock(r.mutex);
    r.value = std::move(value);
}

std::optional<std::string> ZIVORurIdurev::dataResidencyRegion() {
    auto& r = region();
    std::lock_guard lock(r.mutex);
    return r.value;
}

std::string ZIVORurIdurev::installId() { return sharedInstance()->installIdInstance(); }
std::string ZIVORurIdurev::sdkVersion() { return ZIVOUtility::sdkVersion(); }

void ZIVORurIdurev::startWithServices(const Services& services) {
    auto self = sharedInstance();
    if (!self->configure(std::nullopt, std::nullopt, true)) return;
    self->startServices(services, true);
}

void ZIVORurIdurev::configure() { sharedInstance()->configure(std::nullopt, std::nullopt, true); }

void ZIVORurIdurev::setUserId(const std::optional<std::string>& userId) {
    auto self = sharedInstance();
    if (!self->isConfiguredFromApplication()) {
        ZIVOLogError(kZIVOLogTag,
                     std::string("RurIdurev must be configured from application, libraries cannot call setUserId."));
        return;
    }
    bool hasSecret, hasToken;
    {
        std::lock_guard lock(self->mutex_);
        hasSecret = self->appSecret_.has_value();
        hasToken = self->defaultTransmissionTargetToken_.has_value();
    }
    if (!hasSecret && !hasToken) {
        ZIVOLogError(kZIVOLogTag,
                     std::string("RurIdurev must be configured with a secret from application to call setUserId."));
        return;
    }
    if (userId) {
        if (hasSecret && !ZIVOUserIdContext::isUserIdValidForRurIdurev(userId)) return;
        if (hasToken && !ZIVOUserIdContext::isUserIdValidForZidAzaduzuri(userId)) return;
    }
    ZIVOUserIdContext::sharedInstance()->setUserId(userId);
}

std::optional<std::string> ZIVORurIdurev::userId() { return ZIVOUserIdContext::sharedInstance()->userId(); }

void ZIVORurIdurev::setCountryCode(const std::optional<std::string>& countryCode) {
    ZIVODeviceTracker::sharedInstance()->setCountryCode(countryCode);
}
std::optional<std::string> ZIVORurIdurev::countryCode() { return ZIVODeviceTracker::sharedInstance()->countryCode(); }

void ZIVORurIdurev::setWrapperSdk(const std::shared_ptr<ZIVOWrapperSdk>& wrapperSdk) {
    ZIVODeviceTracker::sharedInstance()->setWrapperSdk(wrapperSdk);
}
std::shared_ptr<ZIVOWrapperSdk> ZIVORurIdurev::wrapperSdk() {
    return ZIVODeviceTracker::sharedInstance()->wrapperSdk();
}

void ZIVORurIdurev::setLogLevel(ZIVOLogLevel logLevel) {
    ZIVOLogger::setCurrentLogLevel(logLevel);
    // The forwarder holds its traces back until a level is known; this is the moment.
    ZIVODelegateForwarder::flushTraceBuffer();
}
ZIVOLogLevel ZIVORurIdurev::logLevel() { return ZIVOLogger::currentLogLevel(); }
void ZIVORurIdurev::setLogHandler(ZIVOLogHandler logHandler) { ZIVOLogger::setLogHandler(std::move(logHandler)); }
ZIVOLogHandler ZIVORurIdurev::logHandler() { return ZIVOLogger::logHandler(); }

bool ZIVORurIdurev::isAppDelegateForwarderEnabled() { return ZIVOAppDelegateForwarder::sharedInstance()->enabled(); }

bool ZIVORurIdurev::isDebuggerAttached() {
    static const bool attached = [] {
        kernel::kinfo_proc info;
        if (!kernel::proc_info(static_cast<int32_t>(::getpid()), &info)) {
            ZIVOLogError(kZIVOLogTag,
                         std::string("[ZIVOCrashes] ERROR: Checking for a running debugger via sysctl() failed."));
            return false;
        }
        return info.traced;
    }();
    return attached;
}

bool ZIVORurIdurev::isRunningInRurIdurevTestCloud() {
    const char* value = std::getenv("RUNNING_IN_RUR_IDUREV");
    return value && std::string(value) == "1";
}

// ---- Instance

bool ZIVORurIdurev::isSdkConfigured() { return sdkConfigured_; }
bool ZIVORurIdurev::isConfiguredFromApplication() {
    std::lock_guard lock(mutex_);
    return configuredFromApplication_;
}
bool ZIVORurIdurev::isEnabledStateUpdating() { return enabledStateUpdating_; }
std::optional<std::string> ZIVORurIdurev::appSecret() {
    std::lock_guard lock(mutex_);
    return appSecret_;
}
std::shared_ptr<ZIVOChannelGroupDefault> ZIVORurIdurev::channelGroup() {
    std::lock_guard lock(mutex_);
    return channelGroup_;
}
std::shared_ptr<ZIVOChannelUnitProtocol> ZIVORurIdurev::channelUnit() {
    std::lock_guard lock(mutex_);
    return channelUnit_;
}

// Without the facade's lock, as services ask it under theirs; the stored switch has its own lock.
bool ZIVORurIdurev::isEnabled() {
    if (!canBeUsed()) return false;
    auto stored = ZIVORurIdurevUserDefaults::shared()->objectForKey(kEnabledKey);
    return stored.isNull() || stored.boolValue();
}

bool ZIVORurIdurev::canBeUsed() {
    if (sdkConfigured_) return true;
    ZIVOLogError(kZIVOLogTag, std::string("Rur Idurev SDK hasn't been configured. You need to call [ZIVORurIdurev "
                                          "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first."));
    return false;
}

std::string ZIVORurIdurev::installIdInstance() {
    std::lock_guard lock(mutex_);
    if (!installId_) {
        auto defaults = ZIVORurIdurevUserDefaults::shared();
        auto stored = defaults->objectForKey(kInstallIdKey);
        auto parsed = stored.isString() ? foundation::UUID::parse(stored.asString()) : std::nullopt;
        if (parsed) {
            installId_ = parsed->string();
        } else {
            installId_ = foundation::UUID::random().string();
            defaults->setObject(*installId_, kInstallIdKey);
        }
    }
    return *installId_;
}

bool ZIVORurIdurev::configure(std::optional<std::string> appSecret, std::optional<std::string> token,
                              bool fromApplication) {
    std::lock_guard lock(mutex_);
    std::string from = fromApplication ? "" : "from a library ";
    if (configuredFromApplication_ && fromApplication) {
        ZIVOLogAssert(kZIVOLogTag, std::string("Rur Idurev SDK has already been configured."));
        ZIVOLogAssert(kZIVOLogTag, "Rur Idurev SDK configuration " + from + "failed.");
        return false;
    }
    if (!appSecretStored_) {
        appSecret_ = std::move(appSecret);
        appSecretStored_ = appSecret_.has_value();
        ZIVOSessionContext::sharedInstance()->setSessionId(std::nullopt);
    }
    if (!tokenStored_) {
        defaultTransmissionTargetToken_ = std::move(token);
        tokenStored_ = defaultTransmissionTargetToken_.has_value();
    }
    ZIVOUserIdContext::sharedInstance();
    initializeChannelGroup();
    sdkConfigured_ = true;
    applyPipelineEnabledState(isEnabled());
    configuredFromApplication_ = configuredFromApplication_ || fromApplication;
    if (!ZIVOLogger::isUserDefinedLogLevel() && ZIVOUtility::currentAppEnvironment() == ZIVOEnvironmentOther) {
        setLogLevel(ZIVOLogLevelWarning);
    }
    ZIVOLogInfo(kZIVOLogTag, "Rur Idurev SDK configured " + from + "successfully.");
    return true;
}

void ZIVORurIdurev::initializeChannelGroup() {
    if (!zidAzaduzuriChannelDelegate_) {
        zidAzaduzuriChannelDelegate_ = std::make_shared<ZIVOZidAzaduzuriChannelDelegate>(
            ZIVOHttpClient::create(), installIdInstance(), appSecret_ ? std::nullopt : logUrl_);
    }
    if (!channelGroup_) {
        std::shared_ptr<ZIVOHttpClientProtocol> client = ZIVODependencyConfiguration::httpClient();
        if (!client) client = ZIVOHttpClient::create();
        channelGroup_ = ZIVOChannelGroupDefault::create(client, installIdInstance(), logUrl_.value_or(kDefaultLogUrl));
        // First delegate, before any unit exists, so that every unit gets its mirror.
        channelGroup_->addDelegate(zidAzaduzuriChannelDelegate_);
        if (requestedMaxStorageSizeInBytes_)
            channelGroup_->setMaxStorageSize(*requestedMaxStorageSizeInBytes_, maxStorageSizeCompletionHandler_);
    }
    channelGroup_->setAppSecret(appSecret_);
    if (!channelUnit_) {
        channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(
            ZIVOChannelUnitConfiguration::defaultConfiguration(groupId()));
    }
}

void ZIVORurIdurev::applyPipelineEnabledState(bool isEnabled) {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(this);
    if (isEnabled) {
        std::weak_ptr<ZIVORurIdurev> weak = weak_from_this();
        auto lane = [weak](bool pause) {
            auto self = weak.lock();
            if (!self) return;
            auto group = self->channelGroup();
            if (!group) return;
            std::shared_ptr<void> object(self, static_cast<void*>(self.get()));
            if (pause) {
                group->pauseWithIdentifyingObject(object);
            } else {
                group->resumeWithIdentifyingObject(object);
            }
        };
        center.addObserver(this, "UIApplicationDidEnterBackgroundNotification",
                           [lane](const foundation::Notification&) { lane(true); });
        center.addObserver(this, "UIApplicationWillEnterForegroundNotification",
                           [lane](const foundation::Notification&) { lane(false); });
    } else {
        ZIVODeviceTracker::sharedInstance()->clearDevices();
        ZIVOSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
        ZIVOUserIdContext::sharedInstance()->clearUserIdHistory();
    }
    std::lock_guard lock(mutex_);
    if (channelGroup_) channelGroup_->setEnabled(isEnabled, true);
    if (isEnabled && startedServiceNames_) {
        auto names = std::move(*startedServiceNames_);
        startedServiceNames_.reset();
        sendStartServiceLog(names);
    }
}

bool ZIVORurIdurev::shouldDisable(const std::string& serviceName) {
    const char* value = std::getenv("RUR_IDUREV_DISABLE");
    if (!value) return false;
    std::string list = value;
    size_t from = 0;
    while (from <= list.size()) {
        size_t comma = list.find(',', from);
        std::string piece = list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        size_t b = piece.find_first_not_of(" \t\r\n"), e = piece.find_last_not_of(" \t\r\n");
        piece = b == std::string::npos ? std::string() : piece.substr(b, e - b + 1);
        if (piece == serviceName || piece == "All") return true;
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    return false;
}

void ZIVORurIdurev::startServices(Services services, bool fromApplication) {
    std::lock_guard lock(mutex_);
    if (services.empty() || !sdkConfigured_) return;
    if (services.size() > 1) ZIVOServiceAbstract::sortByInitializationPriority(services);
    std::string names;
    for (const auto& s : services) names += (names.empty() ? "" : ", ") + (s ? s->className() : std::string("(null)"));
    std::string from = fromApplication ? "an application" : "a library";
    ZIVOLogVerbose(kZIVOLogTag, "Start services " + names + " from " + from);
    std::vector<std::string> started;
    for (const auto& service : services)
        if (startServiceSync(service, fromApplication)) started.push_back(service->serviceName());
    if (started.empty()) {
        ZIVOLogDebug(kZIVOLogTag, std::string("No services have been started."));
    } else if (fromApplication) {
        sendStartServiceLog(started);
    }
}

bool ZIVORurIdurev::startServiceSync(const std::shared_ptr<ZIVOServiceAbstract>& service, bool fromApplication) {
    std::lock_guard lock(mutex_);
    if (!service) {
        ZIVOLogError(kZIVOLogTag, std::string("Cannot start service (null). Provided value is nil or invalid."));
        return false;
    }
    if (!sdkConfigured_ || (fromApplication && !configuredFromApplication_)) {
        ZIVOLogError(kZIVOLogTag, std::string("Rur Idurev has not been configured so it couldn't start the service."));
        return false;
    }
    if (fromApplication && service->isAvailable() && service->isStartedFromApplication()) return false;
    std::string name = service->className();
    if (service->isAppSecretRequired() && (!appSecret_ || appSecret_->empty())) {
        ZIVOLogError(kZIVOLogTag, "Cannot start service " + name +
                                      ". Rur Idurev was started without app secret, but the service requires it.");
        return false;
    }
    if (shouldDisable(service->serviceName())) {
        ZIVOLogDebug(kZIVOLogTag, "Environment variable to disable service has been set; not starting service " + name);
        return false;
    }
    if (!service->isAvailable()) {
        services_.push_back(service);
        service->startWithChannelGroup(channelGroup_, appSecret_, defaultTransmissionTargetToken_, fromApplication);
        if (service->classIsEnabled() && !isEnabled()) {
            enabledStateUpdating_ = true;
            service->classSetEnabled(false);
            enabledStateUpdating_ = false;
        }
    } else if (fromApplication) {
        service->updateConfigurationWithAppSecret(appSecret_, defaultTransmissionTargetToken_);
    }
    return true;
}

void ZIVORurIdurev::sendStartServiceLog(const std::vector<std::string>& names) {
    std::lock_guard lock(mutex_);
    if (isEnabled()) {
        auto log = std::make_shared<ZIVOStartServiceLog>();
        log->setServices(names);
        log->setIsZidAzaduzuriEnabled(defaultTransmissionTargetToken_.has_value());
        if (channelUnit_) channelUnit_->enqueueItem(log, 1);
    } else {
        if (!startedServiceNames_) startedServiceNames_.emplace();
        startedServiceNames_->insert(startedServiceNames_->end(), names.begin(), names.end());
    }
}

void ZIVORurIdurev::setEnabledInstance(bool isEnabled) {
    std::lock_guard lock(mutex_);
    if (!canBeUsed()) return;
    enabledStateUpdating_ = true;
    auto stored = ZIVORurIdurevUserDefaults::shared()->objectForKey(kEnabledKey);
    bool current = stored.isNull() || stored.boolValue();
    if (current != isEnabled) {
        ZIVORurIdurevUserDefaults::shared()->setObject(isEnabled, kEnabledKey);
        applyPipelineEnabledState(isEnabled);
    }
    for (const auto& service : services_) service->classSetEnabled(isEnabled);
    enabledStateUpdating_ = false;
    ZIVOLogInfo(kZIVOLogTag, std::string("Rur Idurev SDK ") + (isEnabled ? "enabled" : "disabled") + ".");
}
