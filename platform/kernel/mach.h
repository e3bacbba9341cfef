// The kernel vocabulary the crash capture is written against: result codes, CPU types, tasks and
// threads. On Linux a task is a readable address space (this process, or a fake one that tests and
// fuzzers build over a buffer) and a thread is a kernel thread id.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kernel {

using kern_return_t = int;
inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_INVALID_ADDRESS = 1;
inline constexpr kern_return_t KERN_PROTECTION_FAILURE = 2;
inline constexpr kern_return_t KERN_NO_SPACE = 3;
inline constexpr kern_return_t KERN_INVALID_ARGUMENT = 4;
inline constexpr kern_return_t KERN_FAILURE = 5;

using cpu_type_t = int32_t;
using cpu_subtype_t = int32_t;
inline constexpr cpu_type_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr cpu_type_t CPU_TYPE_X86 = 7;
inline constexpr cpu_type_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
inline constexpr cpu_type_t CPU_TYPE_ARM = 12;
inline constexpr cpu_type_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
inline constexpr cpu_type_t CPU_TYPE_POWERPC = 18;
inline constexpr cpu_type_t CPU_TYPE_POWERPC64 = CPU_TYPE_POWERPC | CPU_ARCH_ABI64;
inline constexpr cpu_subtype_t CPU_SUBTYPE_X86_ALL = 3;
inline constexpr cpu_subtype_t CPU_SUBTYPE_X86_64_ALL = 3;
inline constexpr cpu_subtype_t CPU_SUBTYPE_ARM_V6 = 6;
inline constexpr cpu_subtype_t CPU_SUBTYPE_ARM_V7 = 9;
inline constexpr cpu_subtype_t CPU_SUBTYPE_POWERPC_ALL = 0;
inline constexpr cpu_subtype_t CPU_SUBTYPE_ARM64_ALL = 0;
inline constexpr cpu_subtype_t CPU_SUBTYPE_ARM64E = 2;

#if defined(__x86_64__)
inline constexpr cpu_type_t kHostCpuType = CPU_TYPE_X86_64;
inline constexpr cpu_subtype_t kHostCpuSubtype = CPU_SUBTYPE_X86_64_ALL;
#elif defined(__aarch64__)
inline constexpr cpu_type_t kHostCpuType = CPU_TYPE_ARM64;
inline constexpr cpu_subtype_t kHostCpuSubtype = CPU_SUBTYPE_ARM64_ALL;
#else
#error "the crash capture supports x86-64 and arm64 hosts"
#endif

// A readable address space. `read` copies `length` bytes at `address` into `destination` and must
// be async-signal-safe; it answers KERN_INVALID_ADDRESS for unmapped memory.
struct Task {
    kern_return_t (*read)(const Task* task, uint64_t address, void* destination, size_t length) = nullptr;
    const void* context = nullptr;
};

// This process, read through process_vm_readv so that a bad address is an error, not a fault.
const Task* task_self();

// Copies task memory (the stand-in for vm_read_overwrite). Async-signal-safe.
kern_return_t vm_read_overwrite(const Task* task, uint64_t address, size_t length, void* destination);

// The page size, cached at load time so crash-time code never asks the C library.
size_t vm_page_size();

using thread_t = int32_t;

// The calling thread's kernel id (raw system call; async-signal-safe).
thread_t thread_self();

}  // namespace kernel
