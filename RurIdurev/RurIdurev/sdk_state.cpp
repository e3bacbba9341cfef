#include "RurIdurev/RurIdurev/sdk_state.h"

#include <mutex>

namespace {

std::mutex& stateMutex() {
    static auto* m = new std::mutex;
    return *m;
}

std::weak_ptr<ZIVOSdkState>& stateSlot() {
    static auto* state = new std::weak_ptr<ZIVOSdkState>;
    return *state;
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
