#include "crashreporter/mach_exception_port_set.h"

#include <cstdio>
#include <cstdlib>

#include "crashreporter/host_info.h"

using namespace kernel;

namespace {

bool validPort(mach_port_t port) { return port != MACH_PORT_NULL && port != MACH_PORT_DEAD; }

}  // namespace

std::shared_ptr<ZVCrashMachExceptionPort> ZVCrashMachExceptionPort::initWithServerPort(mach_port_t port,
                                                                                       exception_mask_t mask,
                                                                                       exception_behavior_t behavior,
                                                                                       thread_state_flavor_t flavor) {
    auto object = std::shared_ptr<ZVCrashMachExceptionPort>(new ZVCrashMachExceptionPort());
    object->serverPort_ = port;
    object->mask_ = mask;
    object->behavior_ = behavior;
    object->flavor_ = flavor;
    if (validPort(port)) {
        const kern_return_t kr = mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_SEND, 1);
        if (kr != KERN_SUCCESS)
            zvcrash_log("[ZVCrashReporter] Unexpected error incrementing mach port reference: %d", kr);
    }
    return object;
}

ZVCrashMachExceptionPort::~ZVCrashMachExceptionPort() {
    if (!validPort(serverPort_)) return;
    const kern_return_t kr = mach_port_mod_refs(mach_task_self(), serverPort_, MACH_PORT_RIGHT_SEND, -1);
    if (kr != KERN_SUCCESS) zvcrash_log("[ZVCrashReporter] Unexpected error decrementing mach port reference: %d", kr);
}

bool ZVCrashMachExceptionPort::registerForTask(mach_port_t task,
                                               std::shared_ptr<ZVCrashMachExceptionPortSet>* previousPortSet,
                                               foundation::Error* error) const {
    zvcrash_mach_exception_port_state_set previous{};
    previous.count = EXC_TYPES_COUNT;
    const kern_return_t kr =
        task_swap_exception_ports(task, mask_, serverPort_, behavior_, flavor_, previous.masks, &previous.count,
                                  previous.ports, previous.behaviors, previous.flavors);
    if (kr != KERN_SUCCESS) {
        zvcrash_populate_mach_error(error, kr, "Failed to swap mach exception ports");
        return false;
    }
    // Without a taker the swapped-out references still have to go.
    auto set = ZVCrashMachExceptionPortSet::initWithAsyncSafeRepresentation(previous);
    if (previousPortSet) *previousPortSet = std::move(set);
    return true;
}

std::shared_ptr<ZVCrashMachExceptionPortSet>
ZVCrashMachExceptionPort::exceptionPortsForTask(mach_port_t task, exception_mask_t mask, foundation::Error* error) {
    zvcrash_mach_exception_port_state_set current{};
    current.count = EXC_TYPES_COUNT;
    const kern_return_t kr = task_get_exception_ports(task, mask, current.masks, &current.count, current.ports,
                                                      current.behaviors, current.flavors);
    if (kr != KERN_SUCCESS) {
        zvcrash_populate_mach_error(error, kr, "Failed to fetch mach exception ports");
        return nullptr;
    }
    return ZVCrashMachExceptionPortSet::initWithAsyncSafeRepresentation(current);
}

std::shared_ptr<ZVCrashMachExceptionPortSet>
ZVCrashMachExceptionPortSet::initWithAsyncSafeRepresentation(const zvcrash_mach_exception_port_state_set& form) {
    if (form.count > static_cast<uint32_t>(EXC_TYPES_COUNT)) {
        std::fprintf(stderr, "Count of %lu exceeds EXC_TYPES_COUNT (%lu)\n", static_cast<unsigned long>(form.count),
                     static_cast<unsigned long>(EXC_TYPES_COUNT));
        std::abort();
    }
    auto object = std::shared_ptr<ZVCrashMachExceptionPortSet>(new ZVCrashMachExceptionPortSet());
    object->form_ = form;
    for (uint32_t i = 0; i < form.count; ++i) {
        object->set_.push_back(ZVCrashMachExceptionPort::initWithServerPort(form.ports[i], form.masks[i],
                                                                            form.behaviors[i], form.flavors[i]));
        // The port object now holds its own reference; the one the caller handed in is released.
        if (validPort(form.ports[i])) {
            const kern_return_t kr = mach_port_mod_refs(mach_task_self(), form.ports[i], MACH_PORT_RIGHT_SEND, -1);
            if (kr != KERN_SUCCESS)
                zvcrash_log("[ZVCrashReporter] Unexpected error decrementing mach port reference: %d", kr);
        }
    }
    return object;
}

kern_return_t zvcrash_exception_port_forward(const zvcrash_mach_exception_port_state_set* ports, mach_port_t task,
                                             mach_port_t thread, exception_type_t exception,
                                             const mach_exception_data_type_t* codes, uint32_t codeCount) {
    if (!ports || ports->count == 0) return KERN_FAILURE;
    if (exception < 0 || exception >= 32) return KERN_FAILURE;
    const exception_mask_t bit = 1u << exception;
    const uint32_t count = ports->count < static_cast<uint32_t>(EXC_TYPES_COUNT) ? ports->count : EXC_TYPES_COUNT;
    int found = -1;
    for (uint32_t i = 0; i < count; ++i) {
        if (!validPort(ports->ports[i]) || !(ports->masks[i] & bit)) continue;
        found = static_cast<int>(i);
        break;
    }
    if (found < 0) return KERN_FAILURE;
    // The forwarded forms carry 32-bit codes; a request can't hold more than the stack buffer.
    constexpr uint32_t kMaxCodes = 32;
    if (codeCount > kMaxCodes) codeCount = kMaxCodes;
    exception_data_type_t narrow[kMaxCodes];
    for (uint32_t i = 0; i < codeCount; ++i) narrow[i] = static_cast<exception_data_type_t>(codes[i]);

    const mach_port_t port = ports->ports[found];
    thread_state_flavor_t flavor = ports->flavors[found];
    const exception_behavior_t behavior = ports->behaviors[found];
    if (behavior & MACH_EXCEPTION_CODES) return KERN_FAILURE;
    switch (behavior) {
        case EXCEPTION_DEFAULT:
            return exception_raise(port, thread, task, exception, narrow, codeCount);
        case EXCEPTION_STATE:
        case EXCEPTION_STATE_IDENTITY: {
            uint32_t state[THREAD_STATE_MAX];
            uint32_t stateCount = THREAD_STATE_MAX;
            kern_return_t kr = thread_get_state_words(thread, flavor, state, &stateCount);
            if (kr != KERN_SUCCESS) return kr;
            uint32_t newState[THREAD_STATE_MAX];
            uint32_t newStateCount = THREAD_STATE_MAX;
            if (behavior == EXCEPTION_STATE)
                return exception_raise_state(port, exception, narrow, codeCount, &flavor, state, stateCount, newState,
                                             &newStateCount);
            return exception_raise_state_identity(port, thread, task, exception, narrow, codeCount, &flavor, state,
                                                  stateCount, newState, &newStateCount);
        }
        default:
            return KERN_FAILURE;
    }
}
