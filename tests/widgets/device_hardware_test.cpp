#include "ui/widgets/device_hardware.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <set>

#include "platform/toolkit/traits.h"

namespace {

TEST(DeviceHardware, NamesModelsByTheirIdentifiers) {
    struct Case {
        const char* identifier;
        const char* name;
    };
    const Case cases[] = {
        {"iPhone1,1", "iPhone 1G"},
        {"iPhone3,2", "iPhone 4 (GSM Rev A)"},
        {"iPhone5,2", "iPhone 5 (Global)"},
        {"iPhone9,3", "iPhone 7 (global)"},
        {"iPhone10,3", "iPhone X (CDMA)"},
        {"iPhone11,6", "iPhone XS Max (CN)"},
        {"iPhone12,8", "iPhone SE (2nd Generation)"},
        {"iPhone13,1", "iPhone 12 Mini"},
        {"iPhone16,2", "iPhone 15 Pro Max"},
        {"iPad2,4", "iPad 2 (Rev A)"},
        {"iPad3,3", "iPad (3rd Generation, Global)"},
        {"iPad4,2", "iPad Air (Cellular)"},
        {"iPad4,3", "iPad Air (Cellular)"},
        {"iPad8,2", "iPad Pro (11\", WiFi, 1TB)"},
        {"iPad13,4", "iPad Pro (3rd Generation 11\", WiFi)"},
        {"iPad13,5", "iPad Pro (3rd Generation 11\", WiFi)"},
        {"iPad4,5", "iPad mini 2 (Cellular)"},
        {"iPad4,6", "iPad mini 2 (Cellular)"},
        {"iPad14,2", "iPad mini 6 (Cellular)"},
        {"iPod1,1", "iPod touch"},
        {"iPod9,1", "iPod touch 7th Generation"},
        // Unknown models come back unchanged, near misses included.
        {"iPhone99,1", "iPhone99,1"},
        {"iPhone1,1 ", "iPhone1,1 "},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeviceHardware::modelNameForModelIdentifier(c.identifier), c.name) << c.identifier;
}

TEST(DeviceHardware, SimulatorsAreNamedByScreenWidth) {
    auto& device = toolkit::Device::current();
    device.setScreen(toolkit::ScreenProfile::iPhone8());
    EXPECT_EQ(DeviceHardware::modelNameForModelIdentifier("i386"), "iPhone Simulator");
    EXPECT_EQ(DeviceHardware::modelNameForModelIdentifier("x86_64"), "iPhone Simulator");
    device.setScreen(toolkit::ScreenProfile::iPad());
    EXPECT_EQ(DeviceHardware::modelNameForModelIdentifier("i386"), "iPad Simulator");
    EXPECT_EQ(DeviceHardware::modelNameForModelIdentifier("x86"), "iPad Simulator");
    device.reset();
}

TEST(DeviceHardware, PlatformIsTheKernelsMachineName) {
    struct utsname u {};
    ASSERT_EQ(uname(&u), 0);
    EXPECT_EQ(DeviceHardware::platform(), u.machine);
    EXPECT_EQ(DeviceHardware::modelName(), DeviceHardware::modelNameForModelIdentifier(u.machine));
}

}  // namespace
