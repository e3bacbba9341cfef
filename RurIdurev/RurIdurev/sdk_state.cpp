#include "RurIdurev/RurIdurev/sdk_state.h"

#include <mutex>

namespace {

std::mutex& stateMutex() {
    static std::mutex m;
    return m;
}

std::weak_ptr<ZIVOSdkState>& stateSlot() {
    static std::weak_ptr<ZIVOSdkState> state;
    return state;
}

}  // namespace

std::shared_ptr<ZIVOSdkState> ZIVOSdkState::current() {
    std::lock_guard lock(stateMutex());
    return stateSlot().lock();
}

void ZIVOSdkState::setCurrent(std::shared_ptr<ZIVOSdkState> state) {
    std::lock_guard lock(stateMutex());
    stateSlot() = state;
}
