#include "ui/widgets/device_hardware.h"

#include <utility>
#include <vector>

#include "platform/kernel/sysctl.h"
#include "platform/toolkit/traits.h"

namespace DeviceHardware {

namespace {

// Identifier -> name, in the published order of the models.
const std::vector<std::pair<std::string_view, std::string_view>>& modelTable() {
    static const std::vector<std::pair<std::string_view, std::string_view>> table = {
        {"iPhone1,1", "iPhone 1G"},
        {"iPhone1,2", "iPhone 3G"},
        {"iPhone2,1", "iPhone 3GS"},
        {"iPhone3,1", "iPhone 4 (GSM)"},
        {"iPhone3,2", "iPhone 4 (GSM Rev A)"},
        {"iPhone3,3", "iPhone 4 (CDMA)"},
        {"iPhone4,1", "iPhone 4S"},
        {"iPhone5,1", "iPhone 5 (GSM)"},
        {"iPhone5,2", "iPhone 5 (Global)"},
        {"iPhone5,3", "iPhone 5c (GSM)"},
        {"iPhone5,4", "iPhone 5c (Global)"},
        {"iPhone6,1", "iPhone 5s (GSM)"},
        {"iPhone6,2", "iPhone 5s (Global)"},
        {"iPhone7,1", "iPhone 6 Plus"},
        {"iPhone7,2", "iPhone 6"},
        {"iPhone8,1", "iPhone 6s"},
        {"iPhone8,2", "iPhone 6s Plus"},
        {"iPhone8,4", "iPhone SE"},
        {"iPhone9,1", "iPhone 7 (CDMA)"},
        {"iPhone9,2", "iPhone 7 Plus (CDMA)"},
        {"iPhone9,3", "iPhone 7 (global)"},
        {"iPhone9,4", "iPhone 7 Plus (global)"},
        {"iPhone10,1", "iPhone 8 (CDMA)"},
        {"iPhone10,2", "iPhone 8 Plus (CDMA)"},
        {"iPhone10,3", "iPhone X (CDMA)"},
        {"iPhone10,4", "iPhone 8 (GSM)"},
        {"iPhone10,5", "iPhone 8 Plus (GSM)"},
        {"iPhone10,6", "iPhone X (GSM)"},
        {"iPhone11,2", "iPhone XS"},
        {"iPhone11,4", "iPhone XS Max"},
        {"iPhone11,6", "iPhone XS Max (CN)"},
        {"iPhone11,8", "iPhone XR"},
        {"iPhone12,1", "iPhone 11"},
        {"iPhone12,3", "iPhone 11 Pro"},
        {"iPhone12,5", "iPhone 11 Pro Max"},
        {"iPhone12,8", "iPhone SE (2nd Generation)"},
        {"iPhone13,1", "iPhone 12 Mini"},
        {"iPhone13,2", "iPhone 12"},
        {"iPhone13,3", "iPhone 12 Pro"},
        {"iPhone13,4", "iPhone 12 Pro Max"},
        {"iPhone14,2", "iPhone 13 Pro"},
        {"iPhone14,3", "iPhone 13 Pro Max"},
        {"iPhone14,4", "iPhone 13 Mini"},
        {"iPhone14,5", "iPhone 13"},
        {"iPhone14,6", "iPhone SE (3rd Generation)"},
        {"iPhone14,7", "iPhone 14"},
        {"iPhone14,8", "iPhone 14 Plus"},
        {"iPhone15,2", "iPhone 14 Pro"},
        {"iPhone15,3", "iPhone 14 Pro Max"},
        {"iPhone15,4", "iPhone 15"},
        {"iPhone15,5", "iPhone 15 Plus"},
        {"iPhone16,1", "iPhone 15 Pro"},
        {"iPhone16,2", "iPhone 15 Pro Max"},
        {"iPad1,1", "iPad"},
        {"iPad2,1", "iPad 2 (WiFi)"},
        {"iPad2,2", "iPad 2 (GSM)"},
        {"iPad2,3", "iPad 2 (CDMA)"},
        {"iPad2,4", "iPad 2 (Rev A)"},
        {"iPad3,1", "iPad (3rd Generation, WiFi)"},
        {"iPad3,2", "iPad (3rd Generation, CDMA)"},
        {"iPad3,3", "iPad (3rd Generation, Global)"},
        {"iPad3,4", "iPad (4th Generation, WiFi)"},
        {"iPad3,5", "iPad (4th Generation, GSM)"},
        {"iPad3,6", "iPad (4th Generation, Global)"},
        {"iPad4,1", "iPad Air (WiFi)"},
        {"iPad4,2", "iPad Air (Cellular)"},
        {"iPad4,3", "iPad Air (Cellular)"},
        {"iPad5,3", "iPad Air 2 (WiFi)"},
        {"iPad5,4", "iPad Air 2 (Cellular)"},
        {"iPad6,3", "iPad Pro (9.7\", WiFi)"},
        {"iPad6,4", "iPad Pro (9.7\", Cellular)"},
        {"iPad6,7", "iPad Pro (12.9\", WiFi)"},
        {"iPad6,8", "iPad Pro (12.9\", Cellular)"},
        {"iPad6,11", "iPad (5th Generation, WiFi)"},
        {"iPad6,12", "iPad (5th Generation, Cellular)"},
        {"iPad7,1", "iPad Pro (2nd Generation 12.9\", WiFi)"},
        {"iPad7,2", "iPad Pro (2nd Generation 12.9\", Cellular)"},
        {"iPad7,3", "iPad Pro (10.5\", WiFi)"},
        {"iPad7,4", "iPad Pro (10.5\", Cellular)"},
        {"iPad7,5", "iPad (6th Generation, WiFi)"},
        {"iPad7,6", "iPad (6th Generation, Cellular)"},
        {"iPad7,11", "iPad (7th Generation, WiFi)"},
        {"iPad7,12", "iPad (7th Generation, Cellular)"},
        {"iPad8,1", "iPad Pro (11\", WiFi)"},
        {"iPad8,2", "iPad Pro (11\", WiFi, 1TB)"},
        {"iPad8,3", "iPad Pro (11\", Cellular)"},
        {"iPad8,4", "iPad Pro (11\", Cellular, 1TB)"},
        {"iPad8,5", "iPad Pro (3rd Generation 12.9\", WiFi)"},
        {"iPad8,6", "iPad Pro (3rd Generation 12.9\", WiFi, 1TB)"},
        {"iPad8,7", "iPad Pro (3rd Generation 12.9\", Cellular)"},
        {"iPad8,8", "iPad Pro (3rd Generation 12.9\", Cellular, 1TB)"},
        {"iPad8,9", "iPad Pro (2nd Generation 11\", WiFi)"},
        {"iPad8,10", "iPad Pro (2nd Generation 11\", Cellular)"},
        {"iPad8,11", "iPad Pro (4th Generation 12.9\", WiFi)"},
        {"iPad8,12", "iPad Pro (4th Generation 12.9\", Cellular)"},
        {"iPad11,3", "iPad Air (3rd Generation, WiFi)"},
        {"iPad11,4", "iPad Air (3rd Generation, Cellular)"},
        {"iPad11,6", "iPad (8th Generation, WiFi)"},
        {"iPad11,7", "iPad (8th Generation, Cellular)"},
        {"iPad12,1", "iPad (9th Generation, WiFi)"},
        {"iPad12,2", "iPad (9th Generation, Cellular)"},
        {"iPad13,1", "iPad Air (4th Generation, WiFi)"},
        {"iPad13,2", "iPad Air (4th Generation, Cellular)"},
        {"iPad13,4", "iPad Pro (3rd Generation 11\", WiFi)"},
        {"iPad13,5", "iPad Pro (3rd Generation 11\", WiFi)"},
        {"iPad13,6", "iPad Pro (3rd Generation 11\", Cellular)"},
        {"iPad13,7", "iPad Pro (3rd Generation 11\", Cellular)"},
        {"iPad13,8", "iPad Pro (5th Generation 12.9\", WiFi)"},
        {"iPad13,9", "iPad Pro (5th Generation 12.9\", WiFi)"},
        {"iPad13,10", "iPad Pro (5th Generation 12.9\", Cellular)"},
        {"iPad13,11", "iPad Pro (5th Generation 12.9\", Cellular)"},
        {"iPad13,16", "iPad Air (5th Generation, WiFi)"},
        {"iPad13,17", "iPad Air (5th Generation, Cellular)"},
        {"iPad13,18", "iPad (10th Generation, WiFi)"},
        {"iPad13,19", "iPad (10th Generation, Cellular)"},
        {"iPad2,5", "iPad mini (WiFi)"},
        {"iPad2,6", "iPad mini (GSM)"},
        {"iPad2,7", "iPad mini (CDMA)"},
        {"iPad4,4", "iPad mini 2 (WiFi)"},
        {"iPad4,5", "iPad mini 2 (Cellular)"},
        {"iPad4,6", "iPad mini 2 (Cellular)"},
        {"iPad4,7", "iPad mini 3 (WiFi)"},
        {"iPad4,8", "iPad mini 3 (Cellular)"},
        {"iPad4,9", "iPad mini 3 (Cellular)"},
        {"iPad5,1", "iPad mini 4 (WiFi)"},
        {"iPad5,2", "iPad mini 4 (Cellular)"},
        {"iPad11,1", "iPad mini 5 (WiFi)"},
        {"iPad11,2", "iPad mini 5 (Cellular)"},
        {"iPad14,1", "iPad mini 6 (WiFi)"},
        {"iPad14,2", "iPad mini 6 (Cellular)"},
        {"iPod1,1", "iPod touch"},
        {"iPod2,1", "iPod touch 2nd Generation"},
        {"iPod3,1", "iPod touch 3rd Generation"},
        {"iPod4,1", "iPod touch 4th Generation"},
        {"iPod5,1", "iPod touch 5th Generation"},
        {"iPod7,1", "iPod touch 6th Generation"},
        {"iPod9,1", "iPod touch 7th Generation"},
    };
    return table;
}

}  // namespace

std::string platform() {
    size_t size = 0;
    if (kernel::sysctlbyname("hw.machine", nullptr, &size) != 0 || size == 0) return {};
    std::string machine(size, '\0');
    if (kernel::sysctlbyname("hw.machine", machine.data(), &size) != 0) return {};
    // The value is NUL-terminated; the string ends at the first NUL.
    machine.resize(std::min(size, machine.find('\0')));
    return machine;
}

std::string modelName() { return modelNameForModelIdentifier(platform()); }

std::string modelNameForModelIdentifier(std::string_view identifier) {
    for (const auto& [id, name] : modelTable())
        if (id == identifier) return std::string(name);
    if (identifier.ends_with("86") || identifier == "x86_64")
        return toolkit::Device::current().screen().size.width < 768 ? "iPhone Simulator" : "iPad Simulator";
    return std::string(identifier);
}

}  // namespace DeviceHardware
