#include "RurIdurev/RurIdurev/Internals/Context/Device/device_tracker.h"

#include <sys/utsname.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Util/archiver_util.h"
#include "RurIdurev/RurIdurev/Internals/Util/platform_adapters.h"
#include "RurIdurev/RurIdurev/Internals/Util/rur_idurev_user_defaults.h"
#include "RurIdurev/RurIdurev/Internals/Util/utility.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/dates.h"
#include "platform/foundation/strings.h"
#include "platform/kernel/sysctl.h"

namespace {

constexpr const char* kUnknown = "Unknown";

// The tracker's lock: the shared instance and the process-wide values below share it.
std::recursive_mutex& trackerMutex() {
    static auto* m = new std::recursive_mutex;
    return *m;
}

struct ProcessValues {
    std::shared_ptr<ZIVODeviceTracker> shared;
    std::shared_ptr<ZIVOWrapperSdk> wrapperSdk;
    std::optional<std::string> countryCode;
    bool upToDate = false;
    std::function<std::optional<ZIVOScreenMetrics>()> screenProvider;
    std::optional<ZIVOSystemInfo> pinnedSystemInfo;
};

ProcessValues& values() {
    static auto* v = new ProcessValues;
    return *v;
}

ZIVOSystemInfo systemInfo() {
    std::lock_guard lock(trackerMutex());
    if (values().pinnedSystemInfo) return *values().pinnedSystemInfo;
    return ZIVOSystemInfo::current();
}

std::optional<std::string> infoString(const char* key) {
    auto value = zivo_platform::infoValue(key);
    if (!value.isString()) return std::nullopt;
    return value.asString();
}

bool earlier(const std::shared_ptr<ZIVODeviceHistoryInfo>& a, double t) {
    return a->timestamp().value_or(foundation::Date{-1e300}).secondsSince1970 < t;
}

}  // namespace

std::map<std::string, std::string> ZIVOSystemInfo::parseOsRelease(std::string_view text) {
    std::map<std::string, std::string> fields;
    for (const auto& rawLine : foundation::split(text, "\n")) {
        const std::string line = foundation::trim(rawLine);
        if (line.empty() || line[0] == '#') continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            const char quote = value.front();
            std::string unquoted;
            for (size_t i = 1; i + 1 < value.size(); ++i) {
                if (quote == '"' && value[i] == '\\' && i + 2 < value.size()) ++i;
                unquoted.push_back(value[i]);
            }
            value = std::move(unquoted);
        }
        fields[line.substr(0, eq)] = std::move(value);
    }
    return fields;
}

ZIVOSystemInfo ZIVOSystemInfo::current(const std::string& osReleasePath) {
    ZIVOSystemInfo info{kUnknown, kUnknown, kUnknown, kUnknown};
    struct utsname names {};
    const bool haveUname = ::uname(&names) == 0;
    if (haveUname) {
        auto text = [](const char* s) { return foundation::stringFromUtf8(std::string_view(s)).value_or(kUnknown); };
        info.machine = text(names.machine);
        info.osName = text(names.sysname);
        info.osVersion = text(names.release);
    }
    // The build as the crash reports name it ("kern.osversion"), so that one install's logs agree.
    size_t length = 0;
    if (kernel::sysctlbyname("kern.osversion", nullptr, &length) == 0 && length > 0) {
        std::string build(length, '\0');
        if (kernel::sysctlbyname("kern.osversion", build.data(), &length) == 0) {
            build.resize(std::min(length, build.size()));
            while (!build.empty() && build.back() == '\0') build.pop_back();
            info.osBuild = foundation::stringFromUtf8(std::string_view(build)).value_or(kUnknown);
        }
    }
    std::ifstream in(osReleasePath);
    if (in) {
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto fields = parseOsRelease(text);
        if (auto it = fields.find("NAME"); it != fields.end() && !it->second.empty()) info.osName = it->second;
        if (auto it = fields.find("VERSION_ID"); it != fields.end() && !it->second.empty()) info.osVersion = it->second;
    }
    return info;
}

std::shared_ptr<ZIVODeviceTracker> ZIVODeviceTracker::sharedInstance() {
    std::lock_guard lock(trackerMutex());
    auto& shared = values().shared;
    if (!shared) shared = std::make_shared<ZIVODeviceTracker>();
    return shared;
}

void ZIVODeviceTracker::resetSharedInstance() {
    std::lock_guard lock(trackerMutex());
    auto& v = values();
    v.shared.reset();
    v.upToDate = false;
    v.wrapperSdk.reset();
    v.countryCode.reset();
}

void ZIVODeviceTracker::refreshDeviceNextTime() {
    std::lock_guard lock(trackerMutex());
    values().upToDate = false;
}

ZIVODeviceTracker::ZIVODeviceTracker() {
    ZIVOArchiverUtil::registerRurIdurevModuleClasses();
    std::lock_guard lock(trackerMutex());
    auto stored = ZIVORurIdurevUserDefaults::shared()->objectForKey(kZIVOPastDevicesKey);
    if (const auto* data = stored.ifData()) {
        if (auto history = ZIVOUtility::unarchiveKeyedArray<ZIVODeviceHistoryInfo>(*data)) {
            for (auto& record : *history)
                if (record) deviceHistory_.push_back(std::move(record));
        }
    }
    // This launch's descriptor goes into the history now.
    device();
}

std::shared_ptr<ZIVODevice> ZIVODeviceTracker::device() {
    std::lock_guard lock(trackerMutex());
    if (device_ && values().upToDate) return device_;
    device_ = updatedDevice();
    const double now = dispatch::wallNow();
    auto record = std::make_shared<ZIVODeviceHistoryInfo>(foundation::Date{now}, device_);
    auto at = std::lower_bound(deviceHistory_.begin(), deviceHistory_.end(), now, earlier);
    // Equal timestamps keep their order of insertion: the new record goes after them.
    while (at != deviceHistory_.end() && (*at)->timestamp() && (*at)->timestamp()->secondsSince1970 == now) ++at;
    deviceHistory_.insert(at, std::move(record));
    if (deviceHistory_.size() > kMaxDevicesHistoryCount) deviceHistory_.erase(deviceHistory_.begin());
    storeHistory();
    return device_;
}

std::shared_ptr<ZIVODevice> ZIVODeviceTracker::deviceForTimestamp(std::optional<foundation::Date> timestamp) {
    std::lock_guard lock(trackerMutex());
    if (!timestamp || deviceHistory_.empty()) return device();
    auto at = std::lower_bound(deviceHistory_.begin(), deviceHistory_.end(), timestamp->secondsSince1970, earlier);
    if (at == deviceHistory_.begin()) return deviceHistory_.front()->device();
    if (at == deviceHistory_.end()) return deviceHistory_.back()->device();
    return (*(at - 1))->device();
}

void ZIVODeviceTracker::clearDevices() {
    std::lock_guard lock(trackerMutex());
    if (deviceHistory_.size() >= 2) deviceHistory_.erase(deviceHistory_.begin(), deviceHistory_.end() - 1);
    storeHistory();
}

std::vector<std::shared_ptr<ZIVODeviceHistoryInfo>> ZIVODeviceTracker::deviceHistory() {
    std::lock_guard lock(trackerMutex());
    return deviceHistory_;
}

void ZIVODeviceTracker::setWrapperSdk(std::shared_ptr<ZIVOWrapperSdk> wrapperSdk) {
    std::lock_guard lock(trackerMutex());
    values().wrapperSdk = std::move(wrapperSdk);
    values().upToDate = false;
    // The newest record is replaced, so the history keeps its length.
    if (!deviceHistory_.empty()) deviceHistory_.pop_back();
    device();
}

std::shared_ptr<ZIVOWrapperSdk> ZIVODeviceTracker::wrapperSdk() {
    std::lock_guard lock(trackerMutex());
    return values().wrapperSdk;
}

void ZIVODeviceTracker::setCountryCode(std::optional<std::string> countryCode) {
    std::lock_guard lock(trackerMutex());
    values().countryCode = std::move(countryCode);
    values().upToDate = false;
}

std::optional<std::string> ZIVODeviceTracker::countryCode() {
    std::lock_guard lock(trackerMutex());
    return values().countryCode;
}

std::shared_ptr<ZIVODevice> ZIVODeviceTracker::updatedDevice() {
    std::lock_guard lock(trackerMutex());
    auto device = std::make_shared<ZIVODevice>();
    const ZIVOSystemInfo system = systemInfo();
    device->setSdkName(ZIVOUtility::sdkName());
    device->setSdkVersion(ZIVOUtility::sdkVersion());
    device->setModel(system.machine);
    device->setOemName(std::string("Apple"));
    device->setOsName(system.osName);
    device->setOsVersion(system.osVersion);
    device->setOsBuild(system.osBuild);
    device->setLocale(locale());
    device->setTimeZoneOffset(timeZoneOffset());
    device->setScreenSize(screenSize());
    device->setAppVersion(infoString("CFBundleShortVersionString"));
    // No cellular provider on this platform: the country is the one the application set, and
    // there is no carrier name.
    device->setCarrierCountry(values().countryCode);
    device->setAppBuild(infoString("CFBundleVersion"));
    const std::string identifier = zivo_platform::bundleIdentifier();
    if (!identifier.empty()) device->setAppNamespace(identifier);
    refreshWrapperSdk(*device, values().wrapperSdk);
    values().upToDate = true;
    return device;
}

std::string ZIVODeviceTracker::locale() {
    const auto languages = foundation::preferredLanguages();
    const std::string preferred = languages.empty() ? foundation::currentLocaleIdentifier() : languages.front();
    const std::string language = foundation::localeLanguageCode(preferred);
    const std::string script = foundation::localeScriptCode(preferred);
    std::string country = foundation::localeCountryCode(preferred);
    if (country.empty()) country = foundation::currentCountryCode();
    std::string text = language;
    if (!script.empty()) text += "-" + script;
    // Without any region the language stands alone rather than with a placeholder region.
    if (!country.empty()) text += "_" + country;
    return text;
}

int64_t ZIVODeviceTracker::timeZoneOffset() { return foundation::currentSecondsFromGMT() / 60; }

std::optional<std::string> ZIVODeviceTracker::screenSize() {
    std::function<std::optional<ZIVOScreenMetrics>()> provider;
    {
        std::lock_guard lock(trackerMutex());
        provider = values().screenProvider;
    }
    if (!provider) return std::nullopt;
    auto metrics = provider();
    if (!metrics) return std::nullopt;
    const int height = static_cast<int>(metrics->scale * metrics->height);
    const int width = static_cast<int>(metrics->scale * metrics->width);
    return std::to_string(height) + "x" + std::to_string(width);
}

bool ZIVODeviceTracker::isCarrierNameValid(const std::optional<std::string>& carrierName) {
    return carrierName && !carrierName->empty() &&
           !foundation::equals(*carrierName, "carrier", foundation::kCaseInsensitive) && *carrierName != "--";
}

bool ZIVODeviceTracker::isCarrierCountyValid(const std::optional<std::string>& carrierCountry) {
    return carrierCountry && !carrierCountry->empty() && *carrierCountry != "--";
}

void ZIVODeviceTracker::refreshWrapperSdk(ZIVODevice& device, const std::shared_ptr<ZIVOWrapperSdk>& wrapperSdk) {
    if (!wrapperSdk) return;
    device.setWrapperSdkVersion(wrapperSdk->wrapperSdkVersion());
    device.setWrapperSdkName(wrapperSdk->wrapperSdkName());
    device.setWrapperRuntimeVersion(wrapperSdk->wrapperRuntimeVersion());
    device.setLiveUpdateReleaseLabel(wrapperSdk->liveUpdateReleaseLabel());
    device.setLiveUpdateDeploymentKey(wrapperSdk->liveUpdateDeploymentKey());
    device.setLiveUpdatePackageHash(wrapperSdk->liveUpdatePackageHash());
}

void ZIVODeviceTracker::setMainScreenProvider(std::function<std::optional<ZIVOScreenMetrics>()> provider) {
    std::lock_guard lock(trackerMutex());
    values().screenProvider = std::move(provider);
    values().upToDate = false;
}

void ZIVODeviceTracker::setSystemInfoForTesting(std::optional<ZIVOSystemInfo> info) {
    std::lock_guard lock(trackerMutex());
    values().pinnedSystemInfo = std::move(info);
    values().upToDate = false;
}

void ZIVODeviceTracker::storeHistory() {
    std::vector<std::shared_ptr<const foundation::Archivable>> records(deviceHistory_.begin(), deviceHistory_.end());
    if (auto data = ZIVOUtility::archiveKeyedArray(records))
        ZIVORurIdurevUserDefaults::shared()->setObject(*data, kZIVOPastDevicesKey);
}
