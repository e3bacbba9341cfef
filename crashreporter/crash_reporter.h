// The crash capture's entry point: holds the configuration and the application's strings, installs
// the crash handlers once per process, writes "live_report.zvcrash" at crash time and then calls
// one post-crash callback; at the next launch the report is loaded and purged. Live reports of the
// running process are written by the same writer.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/kernel/mach.h"
#include "platform/kernel/uncaught_exception.h"

enum ZVCrashSignalHandlerType : uint32_t {
    ZVCrashSignalHandlerTypeBSD = 0,
    // Mach exceptions through the kernel stand-in's exception ports (SIGABRT still by signal).
    ZVCrashSignalHandlerTypeMach = 1,
};

class ZVCrashReporterConfig {
public:
    static std::shared_ptr<ZVCrashReporterConfig> defaultConfiguration();
    static std::shared_ptr<ZVCrashReporterConfig> initWithBasePath(std::optional<std::string> basePath);
    static std::shared_ptr<ZVCrashReporterConfig>
    initWithSignalHandlerType(uint32_t signalHandlerType, uint32_t symbolicationStrategy,
                              bool shouldRegisterUncaughtExceptionHandler = true,
                              std::optional<std::string> basePath = std::nullopt);

    uint32_t signalHandlerType() const { return signalHandlerType_; }
    uint32_t symbolicationStrategy() const { return symbolicationStrategy_; }
    bool shouldRegisterUncaughtExceptionHandler() const { return shouldRegisterUncaughtExceptionHandler_; }
    const std::optional<std::string>& basePath() const { return basePath_; }

private:
    uint32_t signalHandlerType_ = ZVCrashSignalHandlerTypeBSD;
    uint32_t symbolicationStrategy_ = 0;
    bool shouldRegisterUncaughtExceptionHandler_ = true;
    std::optional<std::string> basePath_;
};

// What the reporter takes from the application's bundle.
struct ZVCrashReporterBundleInfo {
    std::optional<std::string> identifier;
    std::optional<std::string> version;             // CFBundleVersion
    std::optional<std::string> shortVersionString;  // CFBundleShortVersionString
};

struct ZVCrashReporterCallbacks {
    uint16_t version = 0;
    void* context = nullptr;
    void (*handleSignal)(siginfo_t* info, ucontext_t* uap, void* context) = nullptr;
};

class ZVCrashReporter {
public:
    // Errors carry the domain "ZVCrashReporterException" where the reporter refuses a call.
    static foundation::Result<std::shared_ptr<ZVCrashReporter>>
    initWithBundle(const ZVCrashReporterBundleInfo& bundle, std::shared_ptr<ZVCrashReporterConfig> configuration);
    static foundation::Result<std::shared_ptr<ZVCrashReporter>>
    initWithConfiguration(std::shared_ptr<ZVCrashReporterConfig> configuration);
    static std::shared_ptr<ZVCrashReporter>
    initWithApplicationIdentifier(const std::string& applicationIdentifier, const std::string& appVersion,
                                  std::optional<std::string> appMarketingVersion,
                                  std::shared_ptr<ZVCrashReporterConfig> configuration);

    foundation::Status setCrashCallbacks(const ZVCrashReporterCallbacks* callbacks);
    void setCustomData(std::optional<std::vector<uint8_t>> data);
    const std::optional<std::vector<uint8_t>>& customData() const { return customData_; }

    bool enableCrashReporter();
    bool enableCrashReporterAndReturnError(foundation::Error* error);
    bool isEnabled() const { return enabled_; }

    bool hasPendingCrashReport() const;
    foundation::Result<std::vector<uint8_t>> loadPendingCrashReportDataAndReturnError() const;
    foundation::Status purgePendingCrashReportAndReturnError() const;
    bool purgePendingCrashReport() const { return purgePendingCrashReportAndReturnError().ok(); }
    // Moves a pending report that cannot be read or parsed out of the way, kept for inspection
    // beside it as "live_report.zvcrash.unreadable" ("-2", "-3", ... when taken: nothing kept
    // before is replaced); answers where it went.
    foundation::Result<std::string> setAsidePendingCrashReport() const;

    // A report of the running process; `thread` defaults to the calling thread.
    foundation::Result<std::vector<uint8_t>> generateLiveReport();
    foundation::Result<std::vector<uint8_t>>
    generateLiveReportWithException(const kernel::PlatformException* exception);
    foundation::Result<std::vector<uint8_t>>
    generateLiveReportWithThread(kernel::thread_t thread, const kernel::PlatformException* exception = nullptr);

    std::shared_ptr<ZVCrashReporterConfig> config() const { return config_; }
    const std::string& applicationIdentifier() const { return applicationIdentifier_; }
    const std::string& applicationVersion() const { return applicationVersion_; }
    const std::optional<std::string>& applicationMarketingVersion() const { return applicationMarketingVersion_; }
    const std::string& crashReportDirectory() const { return crashReportDirectory_; }
    std::string crashReportPath() const;
    std::string queuedCrashReportDirectory() const;

    // The shared image list of this task (set up on first use, kept current by the loader).
    static struct zvcrash_async_image_list* sharedImageList();
    // Waits until the shared list's images are indexed and the indexing thread has ended (a live
    // report waits, so that it neither stops that thread midway nor lists it).
    static void waitForImageIndexes();

private:
    ZVCrashReporter() = default;

    std::shared_ptr<ZVCrashReporterConfig> config_;
    bool enabled_ = false;
    std::string applicationIdentifier_;
    std::string applicationVersion_;
    std::optional<std::string> applicationMarketingVersion_;
    std::string crashReportDirectory_;
    std::optional<std::vector<uint8_t>> customData_;
};
