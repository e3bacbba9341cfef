// The Mach exception server: a dedicated thread receives exception requests on a port set (the
// server port and a notify port), hands each to a callback and replies with its result. The faulting
// thread waits for that reply. Also the mapping from an exception to a BSD signal and the message
// codec the thread uses, kept apart so they can be checked without a server.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <pthread.h>

#include "crashreporter/mach_exception_port_set.h"
#include "platform/foundation/error.h"
#include "platform/kernel/mach_ports.h"

using ZVCrashMachExceptionServerCallback = kernel::kern_return_t (*)(kernel::mach_port_t task,
                                                                     kernel::mach_port_t thread,
                                                                     kernel::exception_type_t exception,
                                                                     const kernel::mach_exception_data_type_t* codes,
                                                                     uint32_t codeCount, void* context);

struct zvcrash_mach_exception_server_context {
    kernel::mach_port_t server_thread;
    kernel::mach_port_t server_port;
    kernel::mach_port_t notify_port;
    kernel::mach_port_t port_set;
    ZVCrashMachExceptionServerCallback callback;
    void* callback_context;
    pthread_mutex_t lock;
    pthread_cond_t server_cond;
    std::atomic<uint8_t> server_should_stop;
    uint8_t server_stopped;  // guarded by lock
    bool thread_started;
};

// --- Message codec ---------------------------------------------------------------------------

inline constexpr size_t kZVCrashExceptionRequestMinSize = 76;
inline constexpr size_t kZVCrashExceptionReplySize = 36;
inline constexpr size_t kZVCrashTerminationMessageSize = 24;
inline constexpr int32_t kZVCrashTerminationMessageId = static_cast<int32_t>(0xDEADBEEFu);

struct zvcrash_exception_request {
    kernel::mach_msg_header_t header;
    kernel::mach_port_t thread;
    kernel::mach_port_t task;
    kernel::exception_type_t exception;
    uint32_t code_count;
    const uint8_t* codes;  // code_count 64-bit values, unaligned, in the message buffer
};

enum class zvcrash_exception_request_result {
    Request,    // parsed: call the callback
    TooShort,   // reply KERN_FAILURE
    Oversized,  // announced more codes than the buffer holds: drop without a reply
};

// Reads a request out of a received buffer of `bufferSize` bytes.
zvcrash_exception_request_result zvcrash_exception_request_parse(const uint8_t* buffer, size_t bufferSize,
                                                                 zvcrash_exception_request* out);
// The 36-byte reply to a request header.
void zvcrash_exception_reply_build(const kernel::mach_msg_header_t& request, kernel::kern_return_t result,
                                   uint8_t out[kZVCrashExceptionReplySize]);
void zvcrash_termination_message_build(kernel::mach_port_t notifyPort, uint8_t out[kZVCrashTerminationMessageSize]);

// --- Exception to signal ---------------------------------------------------------------------

struct zvcrash_mapped_signal {
    int signo;
    int code;
    uint64_t address;
};

// Maps an exception to this host's signal numbers; false when there is no mapping. Async-signal-safe.
bool zvcrash_exception_to_signal(kernel::exception_type_t exception, const kernel::mach_exception_data_type_t* codes,
                                 uint32_t codeCount, kernel::cpu_type_t cpuType, zvcrash_mapped_signal* out);

// --- Server ----------------------------------------------------------------------------------

class ZVCrashMachExceptionServer {
public:
    static foundation::Result<std::shared_ptr<ZVCrashMachExceptionServer>>
    initWithCallBack(ZVCrashMachExceptionServerCallback callback, void* context);
    ~ZVCrashMachExceptionServer();
    ZVCrashMachExceptionServer(const ZVCrashMachExceptionServer&) = delete;
    ZVCrashMachExceptionServer& operator=(const ZVCrashMachExceptionServer&) = delete;

    // A new send right for the server port; 0 with the error on failure.
    kernel::mach_port_t copySendRightForServerAndReturningError(foundation::Error* error);
    std::shared_ptr<ZVCrashMachExceptionPort> exceptionPortWithMask(kernel::exception_mask_t mask,
                                                                    foundation::Error* error);
    kernel::mach_port_t serverThread();

private:
    ZVCrashMachExceptionServer() = default;
    zvcrash_mach_exception_server_context* serverContext_ = nullptr;
};
