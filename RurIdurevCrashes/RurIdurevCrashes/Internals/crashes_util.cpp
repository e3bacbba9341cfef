#include "RurIdurevCrashes/RurIdurevCrashes/Internals/crashes_util.h"

#include <atomic>
#include <mutex>

#include "RurIdurev/RurIdurev/Internals/Util/utility.h"

namespace {

struct Guard {
    std::mutex mutex;
    bool done = false;
};

std::string ensure(Guard& guard, const char* name) {
    std::lock_guard lock(guard.mutex);
    if (!guard.done) {
        ZIVOUtility::createDirectoryForPathComponent(name);
        guard.done = true;
    }
    return name;
}

Guard crashesGuard, bufferGuard, wrapperGuard;

}  // namespace

std::string ZIVOCrashesUtil::crashesDir() { return ensure(crashesGuard, "crashes"); }
std::string ZIVOCrashesUtil::logBufferDir() { return ensure(bufferGuard, "crasheslogbuffer"); }
std::string ZIVOCrashesUtil::wrapperExceptionsDir() { return ensure(wrapperGuard, "crasheswrapperexceptions"); }

void ZIVOCrashesUtil::resetDirectory() {
    for (Guard* guard : {&crashesGuard, &bufferGuard, &wrapperGuard}) {
        std::lock_guard lock(guard->mutex);
        guard->done = false;
    }
}
