// Builds the device descriptor every log carries, keeps it until something in it changes, and
// remembers the descriptors of the last five launches with the time each was made.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RurIdurev/RurIdurev/Internals/Model/Util/history_info.h"
#include "RurIdurev/RurIdurev/Model/device.h"

// What the system says about itself (uname and /etc/os-release).
struct ZIVOSystemInfo {
    std::string machine;    // "x86_64"
    std::string osName;     // "Debian GNU/Linux"
    std::string osVersion;  // "12"
    std::string osBuild;    // the kernel release

    // The facts of this machine; "Unknown" where the system does not tell.
    static ZIVOSystemInfo current(const std::string& osReleasePath = "/etc/os-release");
    // KEY=value lines with optional quotes, as os-release writes them.
    static std::map<std::string, std::string> parseOsRelease(std::string_view text);
};

// The main screen as the toolkit reports it: bounds in points and the scale.
struct ZIVOScreenMetrics {
    double width = 0;
    double height = 0;
    double scale = 1;
};

class ZIVODeviceTracker {
public:
    static std::shared_ptr<ZIVODeviceTracker> sharedInstance();
    // Forgets the tracker and the process-wide wrapper SDK, country code and up-to-date flag.
    static void resetSharedInstance();
    static void refreshDeviceNextTime();

    std::shared_ptr<ZIVODevice> device();
    // The descriptor current at that time (the current one for no time or no history).
    std::shared_ptr<ZIVODevice> deviceForTimestamp(std::optional<foundation::Date> timestamp);
    void clearDevices();
    std::vector<std::shared_ptr<ZIVODeviceHistoryInfo>> deviceHistory();

    void setWrapperSdk(std::shared_ptr<ZIVOWrapperSdk> wrapperSdk);
    std::shared_ptr<ZIVOWrapperSdk> wrapperSdk();
    void setCountryCode(std::optional<std::string> countryCode);
    std::optional<std::string> countryCode();

    // ---- Gathering
    std::shared_ptr<ZIVODevice> updatedDevice();
    static std::string locale();
    static int64_t timeZoneOffset();
    static std::optional<std::string> screenSize();
    static bool isCarrierNameValid(const std::optional<std::string>& carrierName);
    static bool isCarrierCountyValid(const std::optional<std::string>& carrierCountry);
    static void refreshWrapperSdk(ZIVODevice& device, const std::shared_ptr<ZIVOWrapperSdk>& wrapperSdk);

    // The toolkit supplies the main screen; without one the descriptor has no screen size.
    static void setMainScreenProvider(std::function<std::optional<ZIVOScreenMetrics>()> provider);
    // Tests pin the system facts (nothing restores the real ones).
    static void setSystemInfoForTesting(std::optional<ZIVOSystemInfo> info);

    ZIVODeviceTracker();

    static constexpr size_t kMaxDevicesHistoryCount = 5;

private:
    void storeHistory();

    std::shared_ptr<ZIVODevice> device_;
    std::vector<std::shared_ptr<ZIVODeviceHistoryInfo>> deviceHistory_;
};

inline constexpr const char* kZIVOPastDevicesKey = "PastDevices";
