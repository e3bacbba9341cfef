#include "crashreporter/mach_exception_server.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crashreporter/host_info.h"
#include "platform/dispatch/dispatch.h"

using namespace kernel;

namespace {

uint32_t readU32(const uint8_t* at) {
    uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

void putU32(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }

uint64_t roundToPage(uint64_t size) {
    const uint64_t page = vm_page_size();
    return (size + page - 1) / page * page;
}

void sendReply(const mach_msg_header_t& request, kern_return_t result) {
    alignas(8) uint8_t reply[kZVCrashExceptionReplySize];
    zvcrash_exception_reply_build(request, result, reply);
    mach_msg(reinterpret_cast<mach_msg_header_t*>(reply), MACH_SEND_MSG, sizeof reply, 0, MACH_PORT_NULL, 0,
             MACH_PORT_NULL);
}

void* serverLoop(void* raw) {
    auto* context = static_cast<zvcrash_mach_exception_server_context*>(raw);
    uint64_t size = roundToPage(kZVCrashExceptionRequestMinSize);
    uint64_t address = 0;
    kern_return_t kr = vm_allocate(mach_task_self(), &address, size, 1);
    if (kr != KERN_SUCCESS) {
        std::fprintf(stderr, "Unexpected error in vm_allocate(): %x\n", kr);
        return nullptr;
    }
    for (;;) {
        auto* buffer = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
        auto* header = reinterpret_cast<mach_msg_header_t*>(buffer);
        kr = mach_msg(header, MACH_RCV_MSG | MACH_RCV_LARGE, 0, static_cast<uint32_t>(size), context->port_set, 0,
                      MACH_PORT_NULL);
        if (kr == MACH_RCV_TOO_LARGE) {
            const uint64_t wanted = roundToPage(header->msgh_size);
            vm_deallocate(mach_task_self(), address, size);
            size = wanted;
            kr = vm_allocate(mach_task_self(), &address, size, 1);
            if (kr != KERN_SUCCESS) {
                std::fprintf(stderr, "Unexpected error in vm_allocate(): 0x%x\n", kr);
                return nullptr;
            }
            continue;
        }
        if (kr != MACH_MSG_SUCCESS) continue;

        if (header->msgh_local_port == context->notify_port) {
            if (header->msgh_id == MACH_NOTIFY_NO_SENDERS) continue;
            if (header->msgh_id == kZVCrashTerminationMessageId && context->server_should_stop.load()) {
                pthread_mutex_lock(&context->lock);
                context->server_stopped = 1;
                pthread_cond_signal(&context->server_cond);
                pthread_mutex_unlock(&context->lock);
                vm_deallocate(mach_task_self(), address, size);
                return nullptr;
            }
        }
        zvcrash_exception_request request{};
        switch (zvcrash_exception_request_parse(buffer, size, &request)) {
            case zvcrash_exception_request_result::TooShort:
                sendReply(*header, KERN_FAILURE);
                continue;
            case zvcrash_exception_request_result::Oversized:
                continue;
            case zvcrash_exception_request_result::Request:
                break;
        }
        // The codes sit unaligned at offset 68; the callback gets them aligned.
        constexpr uint32_t kMaxInline = 64;
        mach_exception_data_type_t inlineCodes[kMaxInline];
        mach_exception_data_type_t* codes = inlineCodes;
        std::unique_ptr<mach_exception_data_type_t[]> heapCodes;
        if (request.code_count > kMaxInline) {
            heapCodes.reset(new mach_exception_data_type_t[request.code_count]);
            codes = heapCodes.get();
        }
        if (request.code_count > 0) std::memcpy(codes, request.codes, request.code_count * sizeof(int64_t));
        const kern_return_t result = context->callback(request.task, request.thread, request.exception, codes,
                                                       request.code_count, context->callback_context);
        sendReply(*header, result);
    }
}

void releasePorts(zvcrash_mach_exception_server_context* context) {
    if (context->server_port != MACH_PORT_NULL)
        mach_port_mod_refs(mach_task_self(), context->server_port, MACH_PORT_RIGHT_RECEIVE, -1);
    if (context->notify_port != MACH_PORT_NULL)
        mach_port_mod_refs(mach_task_self(), context->notify_port, MACH_PORT_RIGHT_RECEIVE, -1);
    if (context->port_set != MACH_PORT_NULL)
        mach_port_mod_refs(mach_task_self(), context->port_set, MACH_PORT_RIGHT_PORT_SET, -1);
}

}  // namespace

zvcrash_exception_request_result zvcrash_exception_request_parse(const uint8_t* buffer, size_t bufferSize,
                                                                 zvcrash_exception_request* out) {
    if (bufferSize < sizeof(mach_msg_header_t)) {
        out->header = {};
        return zvcrash_exception_request_result::TooShort;
    }
    std::memcpy(&out->header, buffer, sizeof(mach_msg_header_t));
    if (out->header.msgh_size < kZVCrashExceptionRequestMinSize || bufferSize < kZVCrashExceptionRequestMinSize)
        return zvcrash_exception_request_result::TooShort;
    out->thread = readU32(buffer + 28);
    out->task = readU32(buffer + 40);
    out->exception = static_cast<exception_type_t>(readU32(buffer + 60));
    out->code_count = readU32(buffer + 64);
    // In 64 bits: a huge count must not wrap past the check and let the callback read beyond the buffer.
    if (static_cast<uint64_t>(out->code_count) * 8 > bufferSize - kZVCrashExceptionRequestMinSize)
        return zvcrash_exception_request_result::Oversized;
    out->codes = buffer + 68;
    return zvcrash_exception_request_result::Request;
}

namespace {

// A reply's id is its request's plus 100, in the 32 bits of the field: an id near the top of the
// range wraps as the field does rather than overflowing a signed sum.
int32_t replyId(int32_t requestId) { return static_cast<int32_t>(static_cast<uint32_t>(requestId) + 100u); }

}  // namespace

void zvcrash_exception_reply_build(const mach_msg_header_t& request, kern_return_t result,
                                   uint8_t out[kZVCrashExceptionReplySize]) {
    mach_msg_header_t header{MACH_MSGH_BITS_REMOTE(request.msgh_bits),
                             static_cast<uint32_t>(kZVCrashExceptionReplySize),
                             request.msgh_remote_port,
                             MACH_PORT_NULL,
                             MACH_PORT_NULL,
                             replyId(request.msgh_id)};
    std::memcpy(out, &header, sizeof header);
    std::memcpy(out + 24, &NDR_record, sizeof NDR_record);
    putU32(out + 32, static_cast<uint32_t>(result));
}

void zvcrash_termination_message_build(mach_port_t notifyPort, uint8_t out[kZVCrashTerminationMessageSize]) {
    mach_msg_header_t header{MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, MACH_MSG_TYPE_MAKE_SEND_ONCE),
                             static_cast<uint32_t>(kZVCrashTerminationMessageSize),
                             notifyPort,
                             MACH_PORT_NULL,
                             MACH_PORT_NULL,
                             kZVCrashTerminationMessageId};
    std::memcpy(out, &header, sizeof header);
}

bool zvcrash_exception_to_signal(exception_type_t exception, const mach_exception_data_type_t* codes,
                                 uint32_t codeCount, cpu_type_t, zvcrash_mapped_signal* out) {
    if (codeCount < 2 || !codes) return false;
    int signo = 0, code = 0;
    switch (exception) {
        case EXC_BAD_ACCESS:
            if (codes[0] == KERN_INVALID_ADDRESS) {
                signo = SIGSEGV;
                code = SEGV_MAPERR;
            } else {
                signo = SIGBUS;
                code = BUS_ADRERR;
            }
            break;
        case EXC_BAD_INSTRUCTION:
            signo = SIGILL;
            break;
        case EXC_ARITHMETIC:
            signo = SIGFPE;
            break;
        case EXC_EMULATION:
#ifdef SIGEMT
            signo = SIGEMT;
            break;
#else
            return false;  // this host has no emulator-trap signal
#endif
        case EXC_SOFTWARE:
            switch (codes[0]) {
                case 0x10000:
                    signo = SIGSYS;
                    break;
                case 0x10001:
                    signo = SIGPIPE;
                    break;
                case 0x10003:
                    signo = SIGKILL;
                    break;
                default:
                    signo = SIGABRT;
                    break;
            }
            break;
        case EXC_BREAKPOINT:
            signo = SIGTRAP;
            code = TRAP_BRKPT;
            break;
        default:
            return false;
    }
    out->signo = signo;
    out->code = code;
    out->address = static_cast<uint64_t>(codes[1]);
    return true;
}

foundation::Result<std::shared_ptr<ZVCrashMachExceptionServer>>
ZVCrashMachExceptionServer::initWithCallBack(ZVCrashMachExceptionServerCallback callback, void* context) {
    auto server = std::shared_ptr<ZVCrashMachExceptionServer>(new ZVCrashMachExceptionServer());
    auto* ctx = static_cast<zvcrash_mach_exception_server_context*>(
        std::calloc(1, sizeof(zvcrash_mach_exception_server_context)));
    if (!ctx) {
        foundation::Error error;
        zvcrash_populate_posix_error(&error, ENOMEM, "Failed to allocate exception server context");
        return error;
    }
    new (&ctx->server_should_stop) std::atomic<uint8_t>(0);
    ctx->callback = callback;
    ctx->callback_context = context;
    foundation::Error error;
    if (int rc = pthread_mutex_init(&ctx->lock, nullptr); rc != 0) {
        std::free(ctx);
        zvcrash_populate_posix_error(&error, rc, "Mutex initialization failed");
        return error;
    }
    if (int rc = pthread_cond_init(&ctx->server_cond, nullptr); rc != 0) {
        pthread_mutex_destroy(&ctx->lock);
        std::free(ctx);
        zvcrash_populate_posix_error(&error, rc, "Condition initialization failed");
        return error;
    }
    // From here the destructor releases whatever exists.
    server->serverContext_ = ctx;
    const mach_port_t task = mach_task_self();
    kern_return_t kr = mach_port_allocate(task, MACH_PORT_RIGHT_RECEIVE, &ctx->server_port);
    if (kr == KERN_SUCCESS) kr = mach_port_allocate(task, MACH_PORT_RIGHT_RECEIVE, &ctx->notify_port);
    if (kr != KERN_SUCCESS) {
        zvcrash_populate_mach_error(&error, kr, "Failed to allocate exception server's port");
        return error;
    }
    kr = mach_port_insert_right(task, ctx->notify_port, ctx->notify_port, MACH_MSG_TYPE_MAKE_SEND);
    if (kr != KERN_SUCCESS) {
        zvcrash_populate_mach_error(&error, kr, "Failed to add send right to exception server's port");
        return error;
    }
    mach_port_t previous = MACH_PORT_NULL;
    kr = mach_port_request_notification(task, ctx->server_port, MACH_NOTIFY_NO_SENDERS, 1, ctx->notify_port,
                                        MACH_MSG_TYPE_MAKE_SEND_ONCE, &previous);
    if (kr != KERN_SUCCESS) {
        zvcrash_populate_mach_error(&error, kr,
                                    "Failed to request MACH_NOTIFY_NO_SENDERS on the exception server's port");
        return error;
    }
    kr = mach_port_allocate(task, MACH_PORT_RIGHT_PORT_SET, &ctx->port_set);
    if (kr != KERN_SUCCESS) {
        zvcrash_populate_mach_error(&error, kr, "Failed to allocate exception server's port set");
        return error;
    }
    kr = mach_port_move_member(task, ctx->server_port, ctx->port_set);
    if (kr != KERN_SUCCESS) {
        zvcrash_populate_mach_error(&error, kr, "Failed to add exception server port to port set");
        return error;
    }
    kr = mach_port_move_member(task, ctx->notify_port, ctx->port_set);
    if (kr != KERN_SUCCESS) {
        zvcrash_populate_mach_error(&error, kr, "Failed to add exception server notify port to port set");
        return error;
    }
    pthread_attr_t attr;
    if (int rc = pthread_attr_init(&attr); rc != 0) {
        zvcrash_populate_posix_error(&error, rc, "Failed to initialize pthread_attr");
        return error;
    }
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    // Held across the start so that `serverThread` never reads a port the thread hasn't recorded.
    pthread_mutex_lock(&ctx->lock);
    const int rc = pthread_create(
        &thread, &attr,
        [](void* raw) -> void* {
            auto* c = static_cast<zvcrash_mach_exception_server_context*>(raw);
            dispatch::installThreadAltStack();
            pthread_mutex_lock(&c->lock);
            c->server_thread = mach_thread_self();
            pthread_cond_broadcast(&c->server_cond);
            pthread_mutex_unlock(&c->lock);
            return serverLoop(raw);
        },
        ctx);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        pthread_mutex_unlock(&ctx->lock);
        zvcrash_populate_posix_error(&error, rc, "Failed to create exception server thread");
        return error;
    }
    ctx->thread_started = true;
    while (ctx->server_thread == MACH_PORT_NULL) pthread_cond_wait(&ctx->server_cond, &ctx->lock);
    pthread_mutex_unlock(&ctx->lock);
    return server;
}

ZVCrashMachExceptionServer::~ZVCrashMachExceptionServer() {
    auto* ctx = serverContext_;
    if (!ctx) return;
    if (!ctx->thread_started) {
        releasePorts(ctx);
        pthread_cond_destroy(&ctx->server_cond);
        pthread_mutex_destroy(&ctx->lock);
        std::free(ctx);
        return;
    }
    ctx->server_should_stop.store(1);
    alignas(8) uint8_t message[kZVCrashTerminationMessageSize];
    zvcrash_termination_message_build(ctx->notify_port, message);
    const kern_return_t kr = mach_msg(reinterpret_cast<mach_msg_header_t*>(message), MACH_SEND_MSG, sizeof message, 0,
                                      MACH_PORT_NULL, 0, MACH_PORT_NULL);
    if (kr != MACH_MSG_SUCCESS) {
        // The thread may still use the context: it stays allocated.
        zvcrash_log("[ZVCrashReporter] Unexpected error sending termination message to background thread: %d", kr);
        return;
    }
    pthread_mutex_lock(&ctx->lock);
    while (!ctx->server_stopped) pthread_cond_wait(&ctx->server_cond, &ctx->lock);
    pthread_mutex_unlock(&ctx->lock);
    releasePorts(ctx);
    pthread_cond_destroy(&ctx->server_cond);
    pthread_mutex_destroy(&ctx->lock);
    std::free(ctx);
}

mach_port_t ZVCrashMachExceptionServer::copySendRightForServerAndReturningError(foundation::Error* error) {
    pthread_mutex_lock(&serverContext_->lock);
    const mach_port_t port = serverContext_->server_port;
    const kern_return_t kr = mach_port_insert_right(mach_task_self(), port, port, MACH_MSG_TYPE_MAKE_SEND);
    pthread_mutex_unlock(&serverContext_->lock);
    if (kr != KERN_SUCCESS) {
        zvcrash_populate_mach_error(error, kr, "Failed to insert Mach send right");
        return MACH_PORT_NULL;
    }
    return port;
}

std::shared_ptr<ZVCrashMachExceptionPort> ZVCrashMachExceptionServer::exceptionPortWithMask(exception_mask_t mask,
                                                                                            foundation::Error* error) {
    const mach_port_t port = copySendRightForServerAndReturningError(error);
    if (port == MACH_PORT_NULL || port == MACH_PORT_DEAD) return nullptr;
    auto object = ZVCrashMachExceptionPort::initWithServerPort(port, mask, EXCEPTION_DEFAULT | MACH_EXCEPTION_CODES, 1);
    const kern_return_t kr = mach_port_mod_refs(mach_task_self(), port, MACH_PORT_RIGHT_SEND, -1);
    if (kr != KERN_SUCCESS) zvcrash_log("[ZVCrashReporter] Unexpected error decrementing mach port reference: %d", kr);
    return object;
}

mach_port_t ZVCrashMachExceptionServer::serverThread() {
    pthread_mutex_lock(&serverContext_->lock);
    const mach_port_t thread = serverContext_->server_thread;
    pthread_mutex_unlock(&serverContext_->lock);
    return thread;
}
