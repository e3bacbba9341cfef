// Mach-style ports and messages over futexes, and exception delivery of real faults.
//
// A port is an entry in a fixed table with a few pre-allocated message slots; a port set is an
// entry that receivers wait on for messages of its members. Sending and receiving touch only that
// static memory, atomics and futex system calls, so a signal handler can send. The task's exception
// ports are a table per exception type: when one is registered, the stand-in takes the synchronous
// fault signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP). A faulting thread holds its signal
// context where `thread_get_state` finds it, sends an exception request to the registered port and
// waits for the reply: success resumes the thread, anything else resets the signal to its default
// action and raises it again. A fault on the thread that serves the port goes straight to the
// default action, since nobody else would ever answer it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernel/mach.h"
#include "platform/kernel/thread_state.h"

namespace kernel {

using mach_port_t = uint32_t;
using mach_port_name_t = uint32_t;
using mach_port_right_t = uint32_t;
using mach_msg_type_name_t = uint32_t;
using mach_msg_option_t = int32_t;
using mach_msg_return_t = kern_return_t;
using exception_type_t = int32_t;
using exception_mask_t = uint32_t;
using exception_behavior_t = int32_t;
using thread_state_flavor_t = int32_t;
using mach_exception_data_type_t = int64_t;
using exception_data_type_t = int32_t;

inline constexpr mach_port_t MACH_PORT_NULL = 0;
inline constexpr mach_port_t MACH_PORT_DEAD = 0xFFFFFFFFu;

inline constexpr mach_port_right_t MACH_PORT_RIGHT_SEND = 0;
inline constexpr mach_port_right_t MACH_PORT_RIGHT_RECEIVE = 1;
inline constexpr mach_port_right_t MACH_PORT_RIGHT_PORT_SET = 3;

inline constexpr mach_msg_type_name_t MACH_MSG_TYPE_MOVE_SEND_ONCE = 18;
inline constexpr mach_msg_type_name_t MACH_MSG_TYPE_COPY_SEND = 19;
inline constexpr mach_msg_type_name_t MACH_MSG_TYPE_MAKE_SEND = 20;
inline constexpr mach_msg_type_name_t MACH_MSG_TYPE_MAKE_SEND_ONCE = 21;

inline constexpr mach_msg_option_t MACH_SEND_MSG = 1;
inline constexpr mach_msg_option_t MACH_RCV_MSG = 2;
inline constexpr mach_msg_option_t MACH_RCV_LARGE = 4;
inline constexpr mach_msg_option_t MACH_RCV_TIMEOUT = 0x100;

inline constexpr mach_msg_return_t MACH_MSG_SUCCESS = 0;
inline constexpr mach_msg_return_t MACH_SEND_INVALID_DEST = 0x10000003;
inline constexpr mach_msg_return_t MACH_SEND_NO_BUFFER = 0x1000000d;
inline constexpr mach_msg_return_t MACH_SEND_MSG_TOO_SMALL = 0x10000008;
inline constexpr mach_msg_return_t MACH_SEND_TOO_LARGE = 0x1000000a;
inline constexpr mach_msg_return_t MACH_RCV_INVALID_NAME = 0x10004002;
inline constexpr mach_msg_return_t MACH_RCV_TIMED_OUT = 0x10004003;
inline constexpr mach_msg_return_t MACH_RCV_TOO_LARGE = 0x10004004;
inline constexpr mach_msg_return_t MACH_RCV_INTERRUPTED = 0x10004005;

inline constexpr kern_return_t KERN_INVALID_NAME = 15;
inline constexpr kern_return_t KERN_INVALID_RIGHT = 17;
inline constexpr kern_return_t KERN_RESOURCE_SHORTAGE = 6;
inline constexpr kern_return_t KERN_UREFS_OVERFLOW = 19;

inline constexpr int32_t MACH_NOTIFY_NO_SENDERS = 70;

// The largest message a port slot holds.
inline constexpr size_t kMachMessageMax = 6144;

struct mach_msg_header_t {
    uint32_t msgh_bits;
    uint32_t msgh_size;
    mach_port_t msgh_remote_port;
    mach_port_t msgh_local_port;
    mach_port_t msgh_voucher_port;
    int32_t msgh_id;
};
static_assert(sizeof(mach_msg_header_t) == 24);

inline constexpr uint32_t MACH_MSGH_BITS(uint32_t remote, uint32_t local) { return remote | (local << 8); }
inline constexpr uint32_t MACH_MSGH_BITS_REMOTE(uint32_t bits) { return bits & 0x1F; }

// The NDR record every reply carries.
struct NDR_record_t {
    uint8_t mig_vers, if_vers, reserved1, mig_encoding, int_rep, char_rep, float_rep, reserved2;
};
extern const NDR_record_t NDR_record;

// --- Exceptions ------------------------------------------------------------------------------

inline constexpr exception_type_t EXC_BAD_ACCESS = 1;
inline constexpr exception_type_t EXC_BAD_INSTRUCTION = 2;
inline constexpr exception_type_t EXC_ARITHMETIC = 3;
inline constexpr exception_type_t EXC_EMULATION = 4;
inline constexpr exception_type_t EXC_SOFTWARE = 5;
inline constexpr exception_type_t EXC_BREAKPOINT = 6;
inline constexpr exception_type_t EXC_RESOURCE = 11;
inline constexpr exception_type_t EXC_GUARD = 12;
inline constexpr int EXC_TYPES_COUNT = 14;

inline constexpr exception_mask_t EXC_MASK_BAD_ACCESS = 1u << EXC_BAD_ACCESS;
inline constexpr exception_mask_t EXC_MASK_BAD_INSTRUCTION = 1u << EXC_BAD_INSTRUCTION;
inline constexpr exception_mask_t EXC_MASK_ARITHMETIC = 1u << EXC_ARITHMETIC;
inline constexpr exception_mask_t EXC_MASK_SOFTWARE = 1u << EXC_SOFTWARE;
inline constexpr exception_mask_t EXC_MASK_BREAKPOINT = 1u << EXC_BREAKPOINT;
inline constexpr exception_mask_t EXC_MASK_GUARD = 1u << EXC_GUARD;

inline constexpr exception_behavior_t EXCEPTION_DEFAULT = 1;
inline constexpr exception_behavior_t EXCEPTION_STATE = 2;
inline constexpr exception_behavior_t EXCEPTION_STATE_IDENTITY = 3;
inline constexpr exception_behavior_t MACH_EXCEPTION_CODES = static_cast<exception_behavior_t>(0x80000000u);

// Request ids: the 32-bit code forms and the 64-bit ones.
inline constexpr int32_t kExceptionRaiseId = 2401;
inline constexpr int32_t kExceptionRaiseStateId = 2402;
inline constexpr int32_t kExceptionRaiseStateIdentityId = 2403;
inline constexpr int32_t kMachExceptionRaiseId = 2405;

// Thread state as words for the state behaviours (1296 is the largest the kernel's flavours need).
inline constexpr uint32_t THREAD_STATE_MAX = 1296;

// --- Ports -----------------------------------------------------------------------------------

mach_port_t mach_task_self();
// The calling thread's port name (its kernel thread id).
mach_port_t mach_thread_self();

kern_return_t mach_port_allocate(mach_port_t task, mach_port_right_t right, mach_port_name_t* name);
kern_return_t mach_port_insert_right(mach_port_t task, mach_port_name_t name, mach_port_t poly,
                                     mach_msg_type_name_t polyPoly);
// Send-right references; dropping the last one of a port that asked for it sends the no-senders
// notification. A receive right or port set given -1 is destroyed.
kern_return_t mach_port_mod_refs(mach_port_t task, mach_port_name_t name, mach_port_right_t right, int32_t delta);
kern_return_t mach_port_mod_refs_count(mach_port_name_t name, uint32_t* sendRefs);
kern_return_t mach_port_move_member(mach_port_t task, mach_port_name_t member, mach_port_name_t after);
kern_return_t mach_port_request_notification(mach_port_t task, mach_port_name_t name, int32_t msgid, uint32_t sync,
                                             mach_port_t notify, mach_msg_type_name_t notifyPoly,
                                             mach_port_t* previous);

// Sends and/or receives. A receive waits for `timeoutMs` with MACH_RCV_TIMEOUT, else forever; a
// message bigger than `rcvSize` is kept and, with MACH_RCV_LARGE, its size is written into the
// buffer's header. Async-signal-safe.
mach_msg_return_t mach_msg(mach_msg_header_t* msg, mach_msg_option_t option, uint32_t sendSize, uint32_t rcvSize,
                           mach_port_name_t rcvName, uint32_t timeoutMs, mach_port_name_t notify);

kern_return_t vm_allocate(mach_port_t task, uint64_t* address, uint64_t size, int flags);
kern_return_t vm_deallocate(mach_port_t task, uint64_t address, uint64_t size);

// --- Exception ports -------------------------------------------------------------------------

// Sets the task's port for every exception type in `mask` and hands back the previous entries,
// grouped by identical (port, behaviour, flavor), at most `*count` of them (in: capacity, out:
// entries written). Each returned valid port carries one send reference for the caller.
kern_return_t task_swap_exception_ports(mach_port_t task, exception_mask_t mask, mach_port_t port,
                                        exception_behavior_t behavior, thread_state_flavor_t flavor,
                                        exception_mask_t* masks, uint32_t* count, mach_port_t* ports,
                                        exception_behavior_t* behaviors, thread_state_flavor_t* flavors);
kern_return_t task_get_exception_ports(mach_port_t task, exception_mask_t mask, exception_mask_t* masks,
                                       uint32_t* count, mach_port_t* ports, exception_behavior_t* behaviors,
                                       thread_state_flavor_t* flavors);

// Raises an exception to a port and waits for the handler's answer (the 32-bit code forms).
// Async-signal-safe.
kern_return_t exception_raise(mach_port_t port, mach_port_t thread, mach_port_t task, exception_type_t exception,
                              const exception_data_type_t* codes, uint32_t codeCount);
kern_return_t exception_raise_state(mach_port_t port, exception_type_t exception, const exception_data_type_t* codes,
                                    uint32_t codeCount, thread_state_flavor_t* flavor, const uint32_t* state,
                                    uint32_t stateCount, uint32_t* newState, uint32_t* newStateCount);
kern_return_t exception_raise_state_identity(mach_port_t port, mach_port_t thread, mach_port_t task,
                                             exception_type_t exception, const exception_data_type_t* codes,
                                             uint32_t codeCount, thread_state_flavor_t* flavor, const uint32_t* state,
                                             uint32_t stateCount, uint32_t* newState, uint32_t* newStateCount);

// The registers of a thread as words of a flavour (x86_THREAD_STATE64 or ARM_THREAD_STATE64): the
// fault context of a thread waiting in an exception, or a stopped thread's. Async-signal-safe.
kern_return_t thread_get_state_words(mach_port_t thread, thread_state_flavor_t flavor, uint32_t* state,
                                     uint32_t* count);

// The fault context of a thread waiting for an exception reply. Async-signal-safe.
kern_return_t exception_thread_state(thread_t thread, machine_thread_state* out);

}  // namespace kernel
