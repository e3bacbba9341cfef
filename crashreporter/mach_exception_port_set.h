// Exception port records, the set of ports that were in force before the reporter took them, its
// fixed-size form that crash-time code reads, and the forwarding of an exception to those ports.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/kernel/mach_ports.h"

// The previous ports as plain arrays, copied by value; the first `count` entries are used.
struct zvcrash_mach_exception_port_state_set {
    uint32_t count;
    kernel::exception_mask_t masks[kernel::EXC_TYPES_COUNT];
    kernel::mach_port_t ports[kernel::EXC_TYPES_COUNT];
    kernel::exception_behavior_t behaviors[kernel::EXC_TYPES_COUNT];
    kernel::thread_state_flavor_t flavors[kernel::EXC_TYPES_COUNT];
};

class ZVCrashMachExceptionPortSet;

class ZVCrashMachExceptionPort {
public:
    // Takes one send reference on a valid port; the object drops it when it goes.
    static std::shared_ptr<ZVCrashMachExceptionPort> initWithServerPort(kernel::mach_port_t port,
                                                                        kernel::exception_mask_t mask,
                                                                        kernel::exception_behavior_t behavior,
                                                                        kernel::thread_state_flavor_t flavor);
    ~ZVCrashMachExceptionPort();
    ZVCrashMachExceptionPort(const ZVCrashMachExceptionPort&) = delete;
    ZVCrashMachExceptionPort& operator=(const ZVCrashMachExceptionPort&) = delete;

    // Swaps the task's exception ports for this one; the previous entries land in `previousPortSet`.
    bool registerForTask(kernel::mach_port_t task, std::shared_ptr<ZVCrashMachExceptionPortSet>* previousPortSet,
                         foundation::Error* error) const;
    static std::shared_ptr<ZVCrashMachExceptionPortSet>
    exceptionPortsForTask(kernel::mach_port_t task, kernel::exception_mask_t mask, foundation::Error* error);

    kernel::mach_port_t server_port() const { return serverPort_; }
    kernel::exception_mask_t mask() const { return mask_; }
    kernel::exception_behavior_t behavior() const { return behavior_; }
    kernel::thread_state_flavor_t flavor() const { return flavor_; }

private:
    ZVCrashMachExceptionPort() = default;
    kernel::exception_mask_t mask_ = 0;
    kernel::mach_port_t serverPort_ = kernel::MACH_PORT_NULL;
    kernel::exception_behavior_t behavior_ = 0;
    kernel::thread_state_flavor_t flavor_ = 0;
};

class ZVCrashMachExceptionPortSet {
public:
    // Takes over the send references the swap handed out: one per valid entry.
    static std::shared_ptr<ZVCrashMachExceptionPortSet>
    initWithAsyncSafeRepresentation(const zvcrash_mach_exception_port_state_set& form);

    zvcrash_mach_exception_port_state_set asyncSafeRepresentation() const { return form_; }
    const std::vector<std::shared_ptr<ZVCrashMachExceptionPort>>& set() const { return set_; }
    auto begin() const { return set_.begin(); }
    auto end() const { return set_.end(); }

private:
    ZVCrashMachExceptionPortSet() = default;
    std::vector<std::shared_ptr<ZVCrashMachExceptionPort>> set_;
    zvcrash_mach_exception_port_state_set form_{};
};

// Offers an exception to the first previous port that takes its type. KERN_SUCCESS means that port
// handled it. Crash time: no lock, no allocation.
kernel::kern_return_t zvcrash_exception_port_forward(const zvcrash_mach_exception_port_state_set* ports,
                                                     kernel::mach_port_t task, kernel::mach_port_t thread,
                                                     kernel::exception_type_t exception,
                                                     const kernel::mach_exception_data_type_t* codes,
                                                     uint32_t codeCount);
