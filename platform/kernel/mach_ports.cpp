#include "platform/kernel/mach_ports.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <linux/futex.h>
#include <mutex>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kernel {

const NDR_record_t NDR_record = {0, 0, 0, 0, 1, 0, 0, 0};

namespace {

constexpr int kPortCount = 64;
constexpr int kSlotsPerPort = 4;
constexpr mach_port_t kFirstName = 0x103;
constexpr mach_port_t kTaskSelfName = 0x0F;

enum Kind : int { kFreePort = 0, kReserved = 1, kReceive = 2, kPortSet = 3 };
enum SlotState : int { kEmpty = 0, kWriting = 1, kFull = 2, kReading = 3 };

struct MessageSlot {
    std::atomic<int> state{kEmpty};
    uint64_t ticket = 0;
    uint32_t size = 0;
    alignas(8) uint8_t bytes[kMachMessageMax];
};

struct Port {
    std::atomic<int> kind{kFreePort};
    std::atomic<int> seq{0};    // futex word: bumped on every arrival
    std::atomic<int> freed{0};  // futex word: bumped whenever a slot empties
    std::atomic<int32_t> sendRefs{0};
    std::atomic<int> memberOf{-1};
    std::atomic<mach_port_t> noSendersNotify{MACH_PORT_NULL};
    std::atomic<int> receiver{0};  // the thread last waiting to receive here
    MessageSlot slots[kSlotsPerPort];
};

Port gPorts[kPortCount];
std::atomic<uint64_t> gNextTicket{1};  // arrival order across the members of a set

long futex(std::atomic<int>* word, int op, int value, const timespec* timeout) {
    return ::syscall(SYS_futex, reinterpret_cast<int*>(word), op, value, timeout, nullptr, 0);
}

int indexOf(mach_port_t name) {
    if (name < kFirstName || name >= kFirstName + kPortCount) return -1;
    return static_cast<int>(name - kFirstName);
}

Port* lookup(mach_port_t name, int kind) {
    const int i = indexOf(name);
    if (i < 0) return nullptr;
    if (gPorts[i].kind.load(std::memory_order_acquire) != kind) return nullptr;
    return &gPorts[i];
}

void bump(Port* port) {
    port->seq.fetch_add(1, std::memory_order_acq_rel);
    futex(&port->seq, FUTEX_WAKE, INT32_MAX, nullptr);
}

mach_msg_return_t send(const mach_msg_header_t* msg, uint32_t size) {
    if (size < sizeof(mach_msg_header_t)) return MACH_SEND_MSG_TOO_SMALL;
    if (size > kMachMessageMax) return MACH_SEND_TOO_LARGE;
    Port* port = lookup(msg->msgh_remote_port, kReceive);
    if (!port) return MACH_SEND_INVALID_DEST;
    // A full queue makes the sender wait for room, as a send without a time-out does.
    for (;;) {
        const int freed = port->freed.load(std::memory_order_acquire);
        for (MessageSlot& slot : port->slots) {
            int expected = kEmpty;
            if (!slot.state.compare_exchange_strong(expected, kWriting, std::memory_order_acq_rel)) continue;
            std::memcpy(slot.bytes, msg, size);
            // The receiver sees the message from its side: its own port is local, the reply port remote.
            auto* header = reinterpret_cast<mach_msg_header_t*>(slot.bytes);
            header->msgh_size = size;
            header->msgh_local_port = msg->msgh_remote_port;
            header->msgh_remote_port = msg->msgh_local_port;
            slot.size = size;
            slot.ticket = gNextTicket.fetch_add(1, std::memory_order_relaxed);
            slot.state.store(kFull, std::memory_order_release);
            bump(port);
            const int set = port->memberOf.load(std::memory_order_acquire);
            if (set >= 0) bump(&gPorts[set]);
            return MACH_MSG_SUCCESS;
        }
        const timespec wait{0, 20 * 1000000};
        futex(&port->freed, FUTEX_WAIT, freed, &wait);
        if (port->kind.load(std::memory_order_acquire) != kReceive) return MACH_SEND_INVALID_DEST;
    }
}

void slotEmptied(MessageSlot* slot) {
    slot->state.store(kEmpty, std::memory_order_release);
    for (Port& port : gPorts) {
        if (slot < port.slots || slot >= port.slots + kSlotsPerPort) continue;
        port.freed.fetch_add(1, std::memory_order_acq_rel);
        futex(&port.freed, FUTEX_WAKE, INT32_MAX, nullptr);
        return;
    }
}

// The oldest queued message among the ports a receive on `index` serves.
MessageSlot* oldest(int index) {
    MessageSlot* best = nullptr;
    auto consider = [&](Port& port) {
        for (MessageSlot& slot : port.slots) {
            if (slot.state.load(std::memory_order_acquire) != kFull) continue;
            if (!best || slot.ticket < best->ticket) best = &slot;
        }
    };
    if (gPorts[index].kind.load(std::memory_order_acquire) == kPortSet) {
        for (Port& port : gPorts) {
            if (port.kind.load(std::memory_order_acquire) == kReceive &&
                port.memberOf.load(std::memory_order_acquire) == index)
                consider(port);
        }
    } else {
        consider(gPorts[index]);
    }
    return best;
}

int64_t nowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

mach_msg_return_t receive(mach_msg_header_t* msg, mach_msg_option_t option, uint32_t rcvSize, mach_port_t name,
                          uint32_t timeoutMs) {
    const int index = indexOf(name);
    if (index < 0) return MACH_RCV_INVALID_NAME;
    Port& port = gPorts[index];
    const int kind = port.kind.load(std::memory_order_acquire);
    if (kind != kReceive && kind != kPortSet) return MACH_RCV_INVALID_NAME;
    port.receiver.store(thread_self(), std::memory_order_release);
    const int64_t deadline = nowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
    for (;;) {
        const int seq = port.seq.load(std::memory_order_acquire);
        if (port.kind.load(std::memory_order_acquire) != kind) return MACH_RCV_INVALID_NAME;
        if (MessageSlot* slot = oldest(index)) {
            if (slot->size > rcvSize) {
                if (option & MACH_RCV_LARGE) {
                    // Kept for a larger buffer; the caller learns the size from the header.
                    if (rcvSize >= sizeof(mach_msg_header_t)) msg->msgh_size = slot->size;
                    return MACH_RCV_TOO_LARGE;
                }
                int expected = kFull;
                if (slot->state.compare_exchange_strong(expected, kReading)) {
                    slotEmptied(slot);
                    return MACH_RCV_TOO_LARGE;
                }
                continue;
            }
            int expected = kFull;
            if (!slot->state.compare_exchange_strong(expected, kReading, std::memory_order_acq_rel)) continue;
            std::memcpy(msg, slot->bytes, slot->size);
            slotEmptied(slot);
            return MACH_MSG_SUCCESS;
        }
        timespec wait{};
        const timespec* timeout = nullptr;
        if (option & MACH_RCV_TIMEOUT) {
            const int64_t left = deadline - nowNs();
            if (left <= 0) return MACH_RCV_TIMED_OUT;
            wait = {static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
            timeout = &wait;
        }
        futex(&port.seq, FUTEX_WAIT, seq, timeout);
    }
}

void destroy(int index) {
    Port& port = gPorts[index];
    const int kind = port.kind.exchange(kReserved, std::memory_order_acq_rel);
    if (kind == kPortSet) {
        for (Port& member : gPorts) {
            int expected = index;
            member.memberOf.compare_exchange_strong(expected, -1);
        }
    }
    const int set = port.memberOf.exchange(-1);
    for (MessageSlot& slot : port.slots) slot.state.store(kEmpty, std::memory_order_release);
    port.freed.fetch_add(1);
    futex(&port.freed, FUTEX_WAKE, INT32_MAX, nullptr);  // a waiting sender finds the port gone
    port.sendRefs.store(0);
    port.noSendersNotify.store(MACH_PORT_NULL);
    port.receiver.store(0);
    bump(&port);  // a waiting receiver finds the name gone
    if (set >= 0) bump(&gPorts[set]);
    port.kind.store(kFreePort, std::memory_order_release);
}

void sendNoSenders(mach_port_t notify) {
    mach_msg_header_t message{MACH_MSGH_BITS(MACH_MSG_TYPE_MOVE_SEND_ONCE, 0),
                              sizeof(mach_msg_header_t),
                              notify,
                              MACH_PORT_NULL,
                              MACH_PORT_NULL,
                              MACH_NOTIFY_NO_SENDERS};
    send(&message, sizeof message);
}

// --- Exception delivery ---------------------------------------------------------------------

struct ExceptionEntry {
    std::atomic<mach_port_t> port{MACH_PORT_NULL};
    std::atomic<exception_behavior_t> behavior{0};
    std::atomic<thread_state_flavor_t> flavor{0};
};
ExceptionEntry gTaskPorts[EXC_TYPES_COUNT];
std::mutex gExceptionPortsLock;

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};
struct sigaction gPreviousActions[sizeof kFaultSignals / sizeof kFaultSignals[0]];
bool gFaultHandlersInstalled = false;  // guarded by gExceptionPortsLock

// Fault contexts of threads waiting for an exception reply.
constexpr int kHeldCount = 64;
struct HeldContext {
    std::atomic<int> tid{0};
    std::atomic<bool> ready{false};
    machine_thread_state registers;
};
HeldContext gHeld[kHeldCount];

HeldContext* holdContext(const ucontext_t* context) {
    const int self = thread_self();
    for (HeldContext& held : gHeld) {
        int expected = 0;
        if (!held.tid.compare_exchange_strong(expected, self, std::memory_order_acq_rel)) continue;
        thread_state_from_ucontext(context, &held.registers);
        held.ready.store(true, std::memory_order_release);
        return &held;
    }
    return nullptr;
}

void releaseContext(HeldContext* held) {
    if (!held) return;
    held->ready.store(false, std::memory_order_release);
    held->tid.store(0, std::memory_order_release);
}

void putU32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }
void putU64(uint8_t* at, uint64_t value) { std::memcpy(at, &value, 8); }

// Builds the request header and identity part shared by the request forms; returns the offset of
// the exception type field.
size_t requestPrologue(uint8_t* buffer, mach_port_t port, mach_port_t reply, int32_t id, bool identity,
                       mach_port_t thread, mach_port_t task) {
    auto* header = reinterpret_cast<mach_msg_header_t*>(buffer);
    header->msgh_bits =
        MACH_MSGH_BITS(MACH_MSG_TYPE_COPY_SEND, MACH_MSG_TYPE_MAKE_SEND_ONCE) | (identity ? 0x80000000u : 0u);
    header->msgh_remote_port = port;
    header->msgh_local_port = reply;
    header->msgh_voucher_port = MACH_PORT_NULL;
    header->msgh_id = id;
    size_t at = sizeof(mach_msg_header_t);
    if (identity) {
        putU32(buffer + at, 2);  // two port descriptors: thread, task
        at += 4;
        for (mach_port_t name : {thread, task}) {
            putU32(buffer + at, name);
            putU32(buffer + at + 4, 0);
            putU32(buffer + at + 8, static_cast<uint32_t>(MACH_MSG_TYPE_COPY_SEND) << 16);
            at += 12;
        }
    }
    std::memcpy(buffer + at, &NDR_record, sizeof NDR_record);
    return at + sizeof NDR_record;
}

// Sends a request on a reply port of its own and waits for the answer; the reply lands in `reply`.
kern_return_t exchange(uint8_t* request, uint32_t size, uint8_t* reply, uint32_t replySize) {
    mach_port_t replyPort = MACH_PORT_NULL;
    if (mach_port_allocate(mach_task_self(), MACH_PORT_RIGHT_RECEIVE, &replyPort) != KERN_SUCCESS)
        return KERN_RESOURCE_SHORTAGE;
    auto* header = reinterpret_cast<mach_msg_header_t*>(request);
    header->msgh_local_port = replyPort;
    header->msgh_size = size;
    kern_return_t kr = send(header, size);
    if (kr == MACH_MSG_SUCCESS) {
        kr = receive(reinterpret_cast<mach_msg_header_t*>(reply), 0, replySize, replyPort, 0);
        if (kr == MACH_MSG_SUCCESS) {
            const auto* answer = reinterpret_cast<const mach_msg_header_t*>(reply);
            int32_t code = KERN_FAILURE;
            if (answer->msgh_size >= 36) std::memcpy(&code, reply + 32, 4);
            kr = code;
        }
    }
    destroy(indexOf(replyPort));
    return kr;
}

kern_return_t raiseFault(mach_port_t port, exception_behavior_t behavior, exception_type_t type, const int64_t* codes,
                         uint32_t count) {
    const bool wide = (behavior & MACH_EXCEPTION_CODES) != 0;
    alignas(8) uint8_t request[128] = {};
    size_t at = requestPrologue(request, port, MACH_PORT_NULL, wide ? kMachExceptionRaiseId : kExceptionRaiseId, true,
                                mach_thread_self(), mach_task_self());
    putU32(request + at, static_cast<uint32_t>(type));
    putU32(request + at + 4, count);
    at += 8;
    for (uint32_t i = 0; i < count; ++i) {
        if (wide) {
            putU64(request + at, static_cast<uint64_t>(codes[i]));
            at += 8;
        } else {
            putU32(request + at, static_cast<uint32_t>(codes[i]));
            at += 4;
        }
    }
    alignas(8) uint8_t reply[64];
    return exchange(request, static_cast<uint32_t>(at), reply, sizeof reply);
}

void defaultAction(int signo) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(signo, &dfl, nullptr);
    // Pending while the handler runs; delivered, by the default action, as soon as it returns.
    ::syscall(SYS_tgkill, ::syscall(SYS_getpid), thread_self(), signo);
}

void passOn(int signo, siginfo_t* info, void* context) {
    for (size_t i = 0; i < sizeof kFaultSignals / sizeof kFaultSignals[0]; ++i) {
        if (kFaultSignals[i] != signo) continue;
        const struct sigaction& previous = gPreviousActions[i];
        if (previous.sa_flags & SA_SIGINFO) {
            if (previous.sa_sigaction) previous.sa_sigaction(signo, info, context);
            return;
        }
        if (previous.sa_handler == SIG_IGN) return;
        if (previous.sa_handler == SIG_DFL) return defaultAction(signo);
        previous.sa_handler(signo);
        return;
    }
}

bool faultToException(int signo, const siginfo_t* info, exception_type_t* type, int64_t codes[2]) {
    const auto address = static_cast<int64_t>(reinterpret_cast<uintptr_t>(info->si_addr));
    codes[1] = address;
    switch (signo) {
        case SIGSEGV:
            *type = EXC_BAD_ACCESS;
            codes[0] = info->si_code == SEGV_MAPERR ? KERN_INVALID_ADDRESS : KERN_PROTECTION_FAILURE;
            return true;
        case SIGBUS:
            *type = EXC_BAD_ACCESS;
            codes[0] = KERN_PROTECTION_FAILURE;
            return true;
        case SIGILL:
            *type = EXC_BAD_INSTRUCTION;
            codes[0] = info->si_code;
            return true;
        case SIGFPE:
            *type = EXC_ARITHMETIC;
            codes[0] = info->si_code;
            return true;
        case SIGTRAP:
            *type = EXC_BREAKPOINT;
            codes[0] = info->si_code;
            return true;
        default:
            return false;
    }
}

void faultHandler(int signo, siginfo_t* info, void* raw) {
    const int savedErrno = errno;
    exception_type_t type = 0;
    int64_t codes[2] = {0, 0};
    // Signals sent by a process (kill, raise) are not faults: they take their ordinary course.
    if (!info || info->si_code <= 0 || !faultToException(signo, info, &type, codes)) {
        passOn(signo, info, raw);
        errno = savedErrno;
        return;
    }
    const mach_port_t port = gTaskPorts[type].port.load(std::memory_order_acquire);
    const exception_behavior_t behavior = gTaskPorts[type].behavior.load(std::memory_order_acquire);
    Port* target = lookup(port, kReceive);
    bool served = target != nullptr && (behavior & ~MACH_EXCEPTION_CODES) == EXCEPTION_DEFAULT;
    if (served) {
        // The thread that serves the port would be waiting for itself.
        const int set = target->memberOf.load(std::memory_order_acquire);
        const int receiver = set >= 0 ? gPorts[set].receiver.load() : target->receiver.load();
        if (receiver == thread_self()) served = false;
    }
    kern_return_t kr = KERN_FAILURE;
    if (served) {
        HeldContext* held = holdContext(static_cast<const ucontext_t*>(raw));
        kr = raiseFault(port, behavior, type, codes, 2);
        releaseContext(held);
    }
    if (kr != KERN_SUCCESS) defaultAction(signo);
    errno = savedErrno;
}

bool installFaultHandlers() {
    if (gFaultHandlersInstalled) return true;
    for (size_t i = 0; i < sizeof kFaultSignals / sizeof kFaultSignals[0]; ++i) {
        struct sigaction action {};
        action.sa_sigaction = &faultHandler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        if (::sigaction(kFaultSignals[i], &action, &gPreviousActions[i]) != 0) return false;
    }
    gFaultHandlersInstalled = true;
    return true;
}

}  // namespace

mach_port_t mach_task_self() { return kTaskSelfName; }

mach_port_t mach_thread_self() { return static_cast<mach_port_t>(thread_self()); }

kern_return_t mach_port_allocate(mach_port_t task, mach_port_right_t right, mach_port_name_t* name) {
    if (task != kTaskSelfName || !name) return KERN_INVALID_ARGUMENT;
    if (right != MACH_PORT_RIGHT_RECEIVE && right != MACH_PORT_RIGHT_PORT_SET) return KERN_INVALID_RIGHT;
    for (int i = 0; i < kPortCount; ++i) {
        Port& port = gPorts[i];
        int expected = kFreePort;
        if (!port.kind.compare_exchange_strong(expected, kReserved, std::memory_order_acq_rel)) continue;
        port.sendRefs.store(0);
        port.memberOf.store(-1);
        port.noSendersNotify.store(MACH_PORT_NULL);
        port.receiver.store(0);
        for (MessageSlot& slot : port.slots) slot.state.store(kEmpty);
        port.kind.store(right == MACH_PORT_RIGHT_RECEIVE ? kReceive : kPortSet, std::memory_order_release);
        *name = kFirstName + static_cast<mach_port_t>(i);
        return KERN_SUCCESS;
    }
    return KERN_NO_SPACE;
}

kern_return_t mach_port_insert_right(mach_port_t task, mach_port_name_t name, mach_port_t poly,
                                     mach_msg_type_name_t polyPoly) {
    if (task != kTaskSelfName) return KERN_INVALID_ARGUMENT;
    if (polyPoly != MACH_MSG_TYPE_MAKE_SEND || poly != name) return KERN_INVALID_RIGHT;
    Port* port = lookup(name, kReceive);
    if (!port) return KERN_INVALID_NAME;
    if (port->sendRefs.fetch_add(1) == INT32_MAX) {
        port->sendRefs.fetch_sub(1);
        return KERN_UREFS_OVERFLOW;
    }
    return KERN_SUCCESS;
}

kern_return_t mach_port_mod_refs(mach_port_t task, mach_port_name_t name, mach_port_right_t right, int32_t delta) {
    if (task != kTaskSelfName) return KERN_INVALID_ARGUMENT;
    const int index = indexOf(name);
    if (index < 0) return KERN_INVALID_NAME;
    Port& port = gPorts[index];
    const int kind = port.kind.load(std::memory_order_acquire);
    if (right == MACH_PORT_RIGHT_SEND) {
        if (kind != kReceive) return KERN_INVALID_NAME;
        int32_t refs = port.sendRefs.load();
        do {
            if (refs + delta < 0) return KERN_INVALID_RIGHT;
        } while (!port.sendRefs.compare_exchange_weak(refs, refs + delta));
        if (refs > 0 && refs + delta == 0) {
            const mach_port_t notify = port.noSendersNotify.exchange(MACH_PORT_NULL);
            if (notify != MACH_PORT_NULL) sendNoSenders(notify);
        }
        return KERN_SUCCESS;
    }
    const int wanted = right == MACH_PORT_RIGHT_RECEIVE ? kReceive : right == MACH_PORT_RIGHT_PORT_SET ? kPortSet : -1;
    if (wanted < 0) return KERN_INVALID_RIGHT;
    if (kind != wanted) return KERN_INVALID_RIGHT;
    if (delta == 0) return KERN_SUCCESS;
    if (delta != -1) return KERN_INVALID_ARGUMENT;
    destroy(index);
    return KERN_SUCCESS;
}

kern_return_t mach_port_mod_refs_count(mach_port_name_t name, uint32_t* sendRefs) {
    Port* port = lookup(name, kReceive);
    if (!port || !sendRefs) return KERN_INVALID_NAME;
    *sendRefs = static_cast<uint32_t>(port->sendRefs.load());
    return KERN_SUCCESS;
}

kern_return_t mach_port_move_member(mach_port_t task, mach_port_name_t member, mach_port_name_t after) {
    if (task != kTaskSelfName) return KERN_INVALID_ARGUMENT;
    Port* port = lookup(member, kReceive);
    if (!port) return KERN_INVALID_NAME;
    int set = -1;
    if (after != MACH_PORT_NULL) {
        if (!lookup(after, kPortSet)) return KERN_INVALID_NAME;
        set = indexOf(after);
    }
    const int previous = port->memberOf.exchange(set);
    if (previous >= 0) bump(&gPorts[previous]);
    if (set >= 0) bump(&gPorts[set]);  // messages already queued become visible to the set's receiver
    return KERN_SUCCESS;
}

kern_return_t mach_port_request_notification(mach_port_t task, mach_port_name_t name, int32_t msgid, uint32_t,
                                             mach_port_t notify, mach_msg_type_name_t notifyPoly,
                                             mach_port_t* previous) {
    if (task != kTaskSelfName) return KERN_INVALID_ARGUMENT;
    if (msgid != MACH_NOTIFY_NO_SENDERS || notifyPoly != MACH_MSG_TYPE_MAKE_SEND_ONCE) return KERN_INVALID_ARGUMENT;
    Port* port = lookup(name, kReceive);
    if (!port || !lookup(notify, kReceive)) return KERN_INVALID_NAME;
    const mach_port_t old = port->noSendersNotify.exchange(notify);
    if (previous) *previous = old;
    return KERN_SUCCESS;
}

mach_msg_return_t mach_msg(mach_msg_header_t* msg, mach_msg_option_t option, uint32_t sendSize, uint32_t rcvSize,
                           mach_port_name_t rcvName, uint32_t timeoutMs, mach_port_name_t) {
    if (!msg) return MACH_SEND_INVALID_DEST;
    if (option & MACH_SEND_MSG) {
        const mach_msg_return_t kr = send(msg, sendSize);
        if (kr != MACH_MSG_SUCCESS) return kr;
    }
    if (option & MACH_RCV_MSG) return receive(msg, option, rcvSize, rcvName, timeoutMs);
    return MACH_MSG_SUCCESS;
}

kern_return_t vm_allocate(mach_port_t task, uint64_t* address, uint64_t size, int) {
    if (task != kTaskSelfName || !address || size == 0) return KERN_INVALID_ARGUMENT;
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return KERN_NO_SPACE;
    *address = reinterpret_cast<uintptr_t>(p);
    return KERN_SUCCESS;
}

kern_return_t vm_deallocate(mach_port_t task, uint64_t address, uint64_t size) {
    if (task != kTaskSelfName) return KERN_INVALID_ARGUMENT;
    if (size == 0) return KERN_SUCCESS;
    return ::munmap(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), size) == 0 ? KERN_SUCCESS
                                                                                         : KERN_INVALID_ADDRESS;
}

namespace {

// Groups the entries of `mask` by identical (port, behaviour, flavor). Called under the lock.
uint32_t collect(exception_mask_t mask, exception_mask_t* masks, uint32_t capacity, mach_port_t* ports,
                 exception_behavior_t* behaviors, thread_state_flavor_t* flavors, bool transferRefs) {
    uint32_t count = 0;
    for (int type = 1; type < EXC_TYPES_COUNT; ++type) {
        if (!(mask & (1u << type))) continue;
        const mach_port_t port = gTaskPorts[type].port.load();
        const exception_behavior_t behavior = gTaskPorts[type].behavior.load();
        const thread_state_flavor_t flavor = gTaskPorts[type].flavor.load();
        uint32_t i = 0;
        while (i < count && !(ports[i] == port && behaviors[i] == behavior && flavors[i] == flavor)) ++i;
        if (i < count) {
            masks[i] |= 1u << type;
            // One reference goes out per entry; the table's other references on it are dropped.
            if (transferRefs && port != MACH_PORT_NULL)
                mach_port_mod_refs(kTaskSelfName, port, MACH_PORT_RIGHT_SEND, -1);
            continue;
        }
        if (count == capacity) {
            if (transferRefs && port != MACH_PORT_NULL)
                mach_port_mod_refs(kTaskSelfName, port, MACH_PORT_RIGHT_SEND, -1);
            continue;
        }
        masks[count] = 1u << type;
        ports[count] = port;
        behaviors[count] = behavior;
        flavors[count] = flavor;
        if (!transferRefs && port != MACH_PORT_NULL)
            mach_port_insert_right(kTaskSelfName, port, port, MACH_MSG_TYPE_MAKE_SEND);
        ++count;
    }
    return count;
}

}  // namespace

kern_return_t task_swap_exception_ports(mach_port_t task, exception_mask_t mask, mach_port_t port,
                                        exception_behavior_t behavior, thread_state_flavor_t flavor,
                                        exception_mask_t* masks, uint32_t* count, mach_port_t* ports,
                                        exception_behavior_t* behaviors, thread_state_flavor_t* flavors) {
    if (task != kTaskSelfName || !count || !masks || !ports || !behaviors || !flavors) return KERN_INVALID_ARGUMENT;
    if (mask & ~((1u << EXC_TYPES_COUNT) - 2)) return KERN_INVALID_ARGUMENT;
    if (port != MACH_PORT_NULL && !lookup(port, kReceive)) return KERN_INVALID_NAME;
    std::lock_guard guard(gExceptionPortsLock);
    if (port != MACH_PORT_NULL && !installFaultHandlers()) return KERN_FAILURE;
    *count = collect(mask, masks, *count, ports, behaviors, flavors, true);
    for (int type = 1; type < EXC_TYPES_COUNT; ++type) {
        if (!(mask & (1u << type))) continue;
        if (port != MACH_PORT_NULL) mach_port_insert_right(kTaskSelfName, port, port, MACH_MSG_TYPE_MAKE_SEND);
        gTaskPorts[type].behavior.store(behavior);
        gTaskPorts[type].flavor.store(flavor);
        gTaskPorts[type].port.store(port, std::memory_order_release);
    }
    return KERN_SUCCESS;
}

kern_return_t task_get_exception_ports(mach_port_t task, exception_mask_t mask, exception_mask_t* masks,
                                       uint32_t* count, mach_port_t* ports, exception_behavior_t* behaviors,
                                       thread_state_flavor_t* flavors) {
    if (task != kTaskSelfName || !count || !masks || !ports || !behaviors || !flavors) return KERN_INVALID_ARGUMENT;
    std::lock_guard guard(gExceptionPortsLock);
    *count = collect(mask, masks, *count, ports, behaviors, flavors, false);
    return KERN_SUCCESS;
}

kern_return_t exception_raise(mach_port_t port, mach_port_t thread, mach_port_t task, exception_type_t exception,
                              const exception_data_type_t* codes, uint32_t codeCount) {
    if (codeCount > 32) return KERN_INVALID_ARGUMENT;
    alignas(8) uint8_t request[256] = {};
    size_t at = requestPrologue(request, port, MACH_PORT_NULL, kExceptionRaiseId, true, thread, task);
    putU32(request + at, static_cast<uint32_t>(exception));
    putU32(request + at + 4, codeCount);
    at += 8;
    for (uint32_t i = 0; i < codeCount; ++i, at += 4) putU32(request + at, static_cast<uint32_t>(codes[i]));
    alignas(8) uint8_t reply[64];
    return exchange(request, static_cast<uint32_t>(at), reply, sizeof reply);
}

namespace {

kern_return_t raiseState(mach_port_t port, bool identity, mach_port_t thread, mach_port_t task,
                         exception_type_t exception, const exception_data_type_t* codes, uint32_t codeCount,
                         thread_state_flavor_t* flavor, const uint32_t* state, uint32_t stateCount, uint32_t* newState,
                         uint32_t* newStateCount) {
    if (!flavor || codeCount > 64 || stateCount > THREAD_STATE_MAX) return KERN_INVALID_ARGUMENT;
    static_assert(kMachMessageMax >= 80 + 64 * 4 + THREAD_STATE_MAX * 4);
    alignas(8) uint8_t request[kMachMessageMax] = {};
    size_t at =
        requestPrologue(request, port, MACH_PORT_NULL,
                        identity ? kExceptionRaiseStateIdentityId : kExceptionRaiseStateId, identity, thread, task);
    putU32(request + at, static_cast<uint32_t>(exception));
    putU32(request + at + 4, codeCount);
    at += 8;
    for (uint32_t i = 0; i < codeCount; ++i, at += 4) putU32(request + at, static_cast<uint32_t>(codes[i]));
    putU32(request + at, static_cast<uint32_t>(*flavor));
    putU32(request + at + 4, stateCount);
    at += 8;
    std::memcpy(request + at, state, stateCount * 4);
    at += stateCount * 4;
    // Reply: header, NDR, return code, flavor, state count, state.
    alignas(8) uint8_t reply[kMachMessageMax];
    const kern_return_t kr = exchange(request, static_cast<uint32_t>(at), reply, sizeof reply);
    if (kr == KERN_SUCCESS && newState && newStateCount) {
        uint32_t replied = 0;
        std::memcpy(flavor, reply + 36, 4);
        std::memcpy(&replied, reply + 40, 4);
        const uint32_t n = replied < *newStateCount ? replied : *newStateCount;
        const auto* answer = reinterpret_cast<const mach_msg_header_t*>(reply);
        if (44 + static_cast<uint64_t>(n) * 4 <= answer->msgh_size) {
            std::memcpy(newState, reply + 44, n * 4);
            *newStateCount = n;
        } else {
            *newStateCount = 0;
        }
    }
    return kr;
}

}  // namespace

kern_return_t exception_raise_state(mach_port_t port, exception_type_t exception, const exception_data_type_t* codes,
                                    uint32_t codeCount, thread_state_flavor_t* flavor, const uint32_t* state,
                                    uint32_t stateCount, uint32_t* newState, uint32_t* newStateCount) {
    return raiseState(port, false, MACH_PORT_NULL, MACH_PORT_NULL, exception, codes, codeCount, flavor, state,
                      stateCount, newState, newStateCount);
}

kern_return_t exception_raise_state_identity(mach_port_t port, mach_port_t thread, mach_port_t task,
                                             exception_type_t exception, const exception_data_type_t* codes,
                                             uint32_t codeCount, thread_state_flavor_t* flavor, const uint32_t* state,
                                             uint32_t stateCount, uint32_t* newState, uint32_t* newStateCount) {
    return raiseState(port, true, thread, task, exception, codes, codeCount, flavor, state, stateCount, newState,
                      newStateCount);
}

kern_return_t exception_thread_state(thread_t thread, machine_thread_state* out) {
    for (HeldContext& held : gHeld) {
        if (held.tid.load(std::memory_order_acquire) != thread) continue;
        if (!held.ready.load(std::memory_order_acquire)) continue;
        *out = held.registers;
        return KERN_SUCCESS;
    }
    return KERN_FAILURE;
}

kern_return_t thread_get_state_words(mach_port_t thread, thread_state_flavor_t flavor, uint32_t* state,
                                     uint32_t* count) {
    if (!state || !count) return KERN_INVALID_ARGUMENT;
    machine_thread_state machine;
    if (thread_get_state(static_cast<thread_t>(thread), &machine) != KERN_SUCCESS) return KERN_FAILURE;
    if (flavor != machine.flavor) return KERN_INVALID_ARGUMENT;
    const size_t bytes = flavor == x86_THREAD_STATE64 ? sizeof machine.x86_64 : sizeof machine.arm64;
    if (*count * 4 < bytes) return KERN_INVALID_ARGUMENT;
    std::memcpy(state, &machine.x86_64, bytes);
    *count = static_cast<uint32_t>(bytes / 4);
    return KERN_SUCCESS;
}

}  // namespace kernel
