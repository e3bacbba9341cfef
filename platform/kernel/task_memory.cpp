#include "platform/kernel/mach.h"

#include <cerrno>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kernel {
namespace {

const size_t gPageSize = static_cast<size_t>(::sysconf(_SC_PAGESIZE));

kern_return_t readSelf(const Task*, uint64_t address, void* destination, size_t length) {
    if (length == 0) return KERN_SUCCESS;
    // Asked every time: a cached id would read the parent's memory after a fork.
    const pid_t self = static_cast<pid_t>(::syscall(SYS_getpid));
    auto* out = static_cast<uint8_t*>(destination);
    size_t done = 0;
    while (done < length) {
        iovec local{out + done, length - done};
        iovec remote{reinterpret_cast<void*>(static_cast<uintptr_t>(address + done)), length - done};
        ssize_t n = ::process_vm_readv(self, &local, 1, &remote, 1, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EFAULT) return KERN_INVALID_ADDRESS;
            if (errno == EPERM) return KERN_PROTECTION_FAILURE;
            return KERN_FAILURE;
        }
        if (n == 0) return KERN_INVALID_ADDRESS;  // a partial read stopped at an unmapped page
        done += static_cast<size_t>(n);
    }
    return KERN_SUCCESS;
}

const Task gSelf{&readSelf, nullptr};

}  // namespace

const Task* task_self() { return &gSelf; }

kern_return_t vm_read_overwrite(const Task* task, uint64_t address, size_t length, void* destination) {
    if (!task || !task->read) return KERN_INVALID_ARGUMENT;
    if (address + length < address) return KERN_INVALID_ADDRESS;
    return task->read(task, address, destination, length);
}

size_t vm_page_size() { return gPageSize; }

thread_t thread_self() { return static_cast<thread_t>(::syscall(SYS_gettid)); }

}  // namespace kernel
