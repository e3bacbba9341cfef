// Host and process facts under the names the crash capture asks for, answered from uname,
// sysconf and /proc. Normal context only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/time.h>

namespace kernel {

// Supported names: "kern.osrelease" and "kern.osversion" (uname release and version),
// "hw.machine" (uname machine), "hw.cputype" and "hw.cpusubtype" (this host's Mach CPU type,
// int32), "hw.physicalcpu_max" and "hw.logicalcpu_max" (configured and online processors,
// int32), "sysctl.proc_native" (int32, 1). Strings are NUL-terminated. Same contract as the
// system call: with a null `oldp` the needed size goes to `*oldlenp`; a buffer that is too
// small fails with ENOMEM; an unknown name fails with ENOENT. Returns 0 or -1 with errno set.
int sysctlbyname(const char* name, void* oldp, size_t* oldlenp);

// The process record that the crash capture reads (the stand-in for kinfo_proc).
struct kinfo_proc {
    int32_t pid = 0;
    int32_t ppid = 0;
    char comm[16] = {};  // the kernel's command name, NUL-padded
    timeval start{};     // process start, seconds since 1970
    bool traced = false;
};

// Reads /proc/<pid>; false with errno set when the process can't be read.
bool proc_info(int32_t pid, kinfo_proc* out);

// The executable's real path (readlink of /proc/self/exe); empty when unknown.
std::string executable_path();

}  // namespace kernel
