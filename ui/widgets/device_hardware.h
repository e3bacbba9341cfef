// The hardware model of the device: the raw machine identifier ("hw.machine") and a readable
// model name for it.
#pragma once

#include <string>
#include <string_view>

namespace DeviceHardware {

// The kernel's machine identifier ("iPhone12,8"; on this platform the host's machine name).
std::string platform();
// modelNameForModelIdentifier(platform()).
std::string modelName();
// The readable name of a model identifier; a simulator's ("i386", "x86_64", or ending in "86")
// by the main screen's width; an unknown identifier comes back unchanged.
std::string modelNameForModelIdentifier(std::string_view identifier);

}  // namespace DeviceHardware
