#include "RurIdurevCrashes/RurIdurevCrashes/Internals/application_forwarder.h"

#include <string>

#include "RurIdurev/RurIdurev/logger.h"
#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_log_tag.h"
#include "platform/foundation/bundle.h"

void ZIVOApplicationForwarder::registerForwarding() {
    const std::string key = "RurIdurevApplicationForwarderEnabled";
    foundation::Value value = foundation::Bundle::main().objectForInfoDictionaryKey(key);
    if (!value.isNull() && !value.boolValue())
        ZIVOLogDebug(kZIVOCrashesLogTag,
                     "Application forwarder for info.plist key '" + key + "' disabled. It won't use swizzling.");
    else
        ZIVOLogDebug(kZIVOCrashesLogTag,
                     "Application forwarder for info.plist key '" + key + "' enabled. It may use swizzling.");
}
