// The one entry point of the telemetry SDK: start-up with the secret and the services, and the
// SDK-wide switches (enabled, network requests, log URL, storage size, region, install id).
// Every state change happens under the singleton's recursive lock.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurev/RurIdurev/sdk_state.h"
#include "RurIdurev/RurIdurev/service_abstract.h"
#include "platform/foundation/thread_annotations.h"

class ZIVOChannelGroupDefault;
class ZIVOZidAzaduzuriChannelDelegate;
class ZIVOChannelUnitProtocol;
class ZIVOHttpClientProtocol;
class ZIVOWrapperSdk;

// A slot through which another HTTP client can be put in place before start-up.
class ZIVODependencyConfiguration {
public:
    static std::shared_ptr<ZIVOHttpClientProtocol> httpClient();
    static void setHttpClient(std::shared_ptr<ZIVOHttpClientProtocol> client);
};

class ZIVORurIdurev : public ZIVOSdkState, public std::enable_shared_from_this<ZIVORurIdurev> {
public:
    static constexpr int64_t kMinUpperSizeLimitInBytes = 24576;
    static constexpr const char* kDefaultLogUrl = "https://in.ruridurev.dorazadav.com";

    static std::shared_ptr<ZIVORurIdurev> sharedInstance();
    static void resetSharedInstance();

    using Services = std::vector<std::shared_ptr<ZIVOServiceAbstract>>;
    static void start(const std::optional<std::string>& appSecret, const Services& services);
    static void startFromLibraryWithServices(const Services& services);
    static void configureWithAppSecret(const std::optional<std::string>& appSecret);
    static void startService(const std::shared_ptr<ZIVOServiceAbstract>& service);
    static bool isConfigured();
    static void setEnabled(bool isEnabled);
    static bool isEnabledClass();
    static void setNetworkRequestsAllowed(bool isAllowed);
    static bool isNetworkRequestsAllowed();
    static void setLogUrl(const std::string& logUrl);
    static std::optional<std::string> logUrl();
    static void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler);
    static void setDataResidencyRegion(std::optional<std::string> region);
    static std::optional<std::string> dataResidencyRegion();
    static std::string installId();
    // Starts as the application with no secret string.
    static void startWithServices(const Services& services);
    // Configures as the application with no secret and no token.
    static void configure();

    // Only the application may set the user id, and only after it configured the SDK with a
    // secret or a token; an id the back end would refuse is dropped. An empty value clears it.
    static void setUserId(const std::optional<std::string>& userId);
    static std::optional<std::string> userId();
    // Forwarded to the device tracker: they change the device descriptor of later logs.
    static void setCountryCode(const std::optional<std::string>& countryCode);
    static std::optional<std::string> countryCode();
    static void setWrapperSdk(const std::shared_ptr<ZIVOWrapperSdk>& wrapperSdk);
    static std::shared_ptr<ZIVOWrapperSdk> wrapperSdk();
    // Forwarded to the logger; setting the level also releases the forwarder's held-back traces.
    static void setLogLevel(ZIVOLogLevel logLevel);
    static ZIVOLogLevel logLevel();
    static void setLogHandler(ZIVOLogHandler logHandler);
    static ZIVOLogHandler logHandler();
    static bool isAppDelegateForwarderEnabled();
    // Whether a tracer (a debugger) is attached to this process; asked once per process.
    static bool isDebuggerAttached();
    static bool isRunningInRurIdurevTestCloud();
    static std::string sdkVersion();
    static std::string logTag() { return "RurIdurev"; }
    static std::string groupId() { return "RurIdurev"; }

    // ---- What services and other parts ask of the instance
    bool isSdkConfigured() override;
    bool isConfiguredFromApplication();
    bool isEnabled() override;
    bool isEnabledStateUpdating() override;
    std::optional<std::string> appSecret();
    std::shared_ptr<ZIVOChannelGroupDefault> channelGroup();
    std::shared_ptr<ZIVOChannelUnitProtocol> channelUnit();
    std::string installIdInstance();

private:
    ZIVORurIdurev();
    bool configure(std::optional<std::string> appSecret, std::optional<std::string> token, bool fromApplication);
    void startServices(Services services, bool fromApplication);
    bool startServiceSync(const std::shared_ptr<ZIVOServiceAbstract>& service, bool fromApplication);
    void initializeChannelGroup() HX_REQUIRES(mutex_);
    void applyPipelineEnabledState(bool isEnabled);
    void sendStartServiceLog(const std::vector<std::string>& names);
    bool canBeUsed();
    void setEnabledInstance(bool isEnabled);
    static bool shouldDisable(const std::string& serviceName);

    foundation::RecursiveMutex mutex_;
    // Services ask these under their own locks while the facade, holding its lock, starts and
    // switches them: read without the facade's lock (written under it), so the two locks are
    // never taken in both orders.
    std::atomic<bool> sdkConfigured_{false};
    std::atomic<bool> enabledStateUpdating_{false};
    bool configuredFromApplication_ HX_GUARDED_BY(mutex_) = false;
    bool setMaxStorageSizeHasBeenCalled_ HX_GUARDED_BY(mutex_) = false;
    std::optional<std::string> installId_ HX_GUARDED_BY(mutex_);
    std::optional<std::string> logUrl_ HX_GUARDED_BY(mutex_);
    std::shared_ptr<ZIVOChannelUnitProtocol> channelUnit_ HX_GUARDED_BY(mutex_);
    std::shared_ptr<ZIVOChannelGroupDefault> channelGroup_ HX_GUARDED_BY(mutex_);
    std::shared_ptr<ZIVOZidAzaduzuriChannelDelegate> zidAzaduzuriChannelDelegate_ HX_GUARDED_BY(mutex_);
    Services services_ HX_GUARDED_BY(mutex_);
    std::optional<std::vector<std::string>> startedServiceNames_ HX_GUARDED_BY(mutex_);
    std::optional<std::string> appSecret_ HX_GUARDED_BY(mutex_);
    bool appSecretStored_ HX_GUARDED_BY(mutex_) = false;
    std::optional<std::string> defaultTransmissionTargetToken_ HX_GUARDED_BY(mutex_);
    bool tokenStored_ HX_GUARDED_BY(mutex_) = false;
    std::optional<int64_t> requestedMaxStorageSizeInBytes_ HX_GUARDED_BY(mutex_);
    std::function<void(bool)> maxStorageSizeCompletionHandler_ HX_GUARDED_BY(mutex_);
};
