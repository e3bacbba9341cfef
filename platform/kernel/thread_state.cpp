#include "platform/kernel/thread_state.h"
#include "platform/kernel/mach_ports.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

namespace kernel {

void thread_state_from_ucontext(const ucontext_t* context, machine_thread_state* out) {
    *out = machine_thread_state{};
#if defined(__x86_64__)
    const greg_t* g = context->uc_mcontext.gregs;
    out->flavor = x86_THREAD_STATE64;
    auto& s = out->x86_64;
    s.rax = g[REG_RAX];
    s.rbx = g[REG_RBX];
    s.rcx = g[REG_RCX];
    s.rdx = g[REG_RDX];
    s.rdi = g[REG_RDI];
    s.rsi = g[REG_RSI];
    s.rbp = g[REG_RBP];
    s.rsp = g[REG_RSP];
    s.r8 = g[REG_R8];
    s.r9 = g[REG_R9];
    s.r10 = g[REG_R10];
    s.r11 = g[REG_R11];
    s.r12 = g[REG_R12];
    s.r13 = g[REG_R13];
    s.r14 = g[REG_R14];
    s.r15 = g[REG_R15];
    s.rip = g[REG_RIP];
    s.rflags = g[REG_EFL];
    s.cs = static_cast<uint64_t>(g[REG_CSGSFS]) & 0xFFFF;
    s.gs = (static_cast<uint64_t>(g[REG_CSGSFS]) >> 16) & 0xFFFF;
    s.fs = (static_cast<uint64_t>(g[REG_CSGSFS]) >> 32) & 0xFFFF;
#elif defined(__aarch64__)
    const auto& m = context->uc_mcontext;
    out->flavor = ARM_THREAD_STATE64;
    auto& s = out->arm64;
    for (int i = 0; i < 29; ++i) s.x[i] = m.regs[i];
    s.fp = m.regs[29];
    s.lr = m.regs[30];
    s.sp = m.sp;
    s.pc = m.pc;
    s.cpsr = static_cast<uint32_t>(m.pstate);
#endif
}

namespace {

enum ParkState : int { kFree = 0, kRequested = 1, kParked = 2 };

struct Slot {
    std::atomic<int> tid{0};
    std::atomic<int> state{kFree};
    machine_thread_state registers;
};

Slot gSlots[kMaxThreads];
std::atomic<int> gSlotCount{0};
std::atomic<bool> gInstalled{false};

long parkFutex(std::atomic<int>* word, int op, int value, const timespec* timeout) {
    return ::syscall(SYS_futex, reinterpret_cast<int*>(word), op, value, timeout, nullptr, 0);
}

void stopHandler(int, siginfo_t*, void* raw) {
    const int savedErrno = errno;
    const thread_t self = thread_self();
    const int count = gSlotCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        Slot& slot = gSlots[i];
        if (slot.tid.load(std::memory_order_acquire) != self) continue;
        if (slot.state.load(std::memory_order_acquire) != kRequested) continue;
        thread_state_from_ucontext(static_cast<const ucontext_t*>(raw), &slot.registers);
        slot.state.store(kParked, std::memory_order_release);
        parkFutex(&slot.state, FUTEX_WAKE, 1, nullptr);
        // Stay parked until the stopper resets the slot; spurious wake-ups just loop.
        while (slot.state.load(std::memory_order_acquire) == kParked) {
            parkFutex(&slot.state, FUTEX_WAIT, kParked, nullptr);
        }
        break;
    }
    errno = savedErrno;
}

int64_t monotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct linux_dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

}  // namespace

int thread_stop_signal() { return SIGRTMAX - 3; }

bool thread_stop_install() {
    static std::mutex lock;
    std::lock_guard guard(lock);
    if (gInstalled.load()) return true;
    struct sigaction action {};
    action.sa_sigaction = &stopHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    if (::sigaction(thread_stop_signal(), &action, nullptr) != 0) return false;
    gInstalled.store(true);
    return true;
}

int task_threads(thread_t* out, int max) {
    int fd = static_cast<int>(::syscall(SYS_openat, AT_FDCWD, "/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd < 0) return -1;
    alignas(8) char buffer[2048];
    int count = 0;
    for (;;) {
        long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (long offset = 0; offset < n;) {
            auto* entry = reinterpret_cast<linux_dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] < '0' || name[0] > '9') continue;
            int64_t tid = 0;
            for (const char* p = name; *p >= '0' && *p <= '9'; ++p) tid = tid * 10 + (*p - '0');
            if (count < max) out[count++] = static_cast<thread_t>(tid);
        }
    }
    ::syscall(SYS_close, fd);
    return count;
}

int threads_stop(const thread_t* threads, int count, int timeoutMs) {
    if (!gInstalled.load(std::memory_order_acquire)) return 0;
    const thread_t self = thread_self();
    const pid_t pid = static_cast<pid_t>(::syscall(SYS_getpid));
    if (count > kMaxThreads) count = kMaxThreads;
    int used = 0;
    for (int i = 0; i < count; ++i) {
        if (threads[i] == self) continue;
        Slot& slot = gSlots[used++];
        slot.state.store(kRequested, std::memory_order_relaxed);
        slot.tid.store(threads[i], std::memory_order_release);
    }
    gSlotCount.store(used, std::memory_order_release);
    for (int i = 0; i < used; ++i) {
        if (::syscall(SYS_tgkill, pid, gSlots[i].tid.load(), thread_stop_signal()) != 0) {
            gSlots[i].state.store(kFree, std::memory_order_release);
        }
    }
    const int64_t deadline = monotonicNs() + static_cast<int64_t>(timeoutMs) * 1000000;
    int parked = 0;
    for (int i = 0; i < used; ++i) {
        Slot& slot = gSlots[i];
        for (;;) {
            int state = slot.state.load(std::memory_order_acquire);
            if (state != kRequested) {
                if (state == kParked) ++parked;
                break;
            }
            int64_t left = deadline - monotonicNs();
            if (left <= 0) break;
            timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
            parkFutex(&slot.state, FUTEX_WAIT, kRequested, &wait);
        }
    }
    return parked;
}

void threads_resume_all() {
    const int count = gSlotCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        gSlots[i].state.store(kFree, std::memory_order_release);
        parkFutex(&gSlots[i].state, FUTEX_WAKE, 1, nullptr);
    }
    gSlotCount.store(0, std::memory_order_release);
}

kern_return_t thread_get_state(thread_t thread, machine_thread_state* out) {
    // A thread waiting in an exception is reported at its fault, not inside the fault's handler.
    if (exception_thread_state(thread, out) == KERN_SUCCESS) return KERN_SUCCESS;
    const int count = gSlotCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
        if (gSlots[i].tid.load(std::memory_order_acquire) != thread) continue;
        if (gSlots[i].state.load(std::memory_order_acquire) != kParked) return KERN_FAILURE;
        *out = gSlots[i].registers;
        return KERN_SUCCESS;
    }
    return KERN_FAILURE;
}

}  // namespace kernel
