#include "platform/kernel/sysctl.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/utsname.h>
#include <unistd.h>

#include "platform/kernel/mach.h"

namespace kernel {
namespace {

int answerString(const std::string& value, void* oldp, size_t* oldlenp) {
    if (!oldlenp) {
        errno = EINVAL;
        return -1;
    }
    const size_t needed = value.size() + 1;
    if (!oldp) {
        *oldlenp = needed;
        return 0;
    }
    if (*oldlenp < needed) {
        errno = ENOMEM;
        return -1;
    }
    std::memcpy(oldp, value.c_str(), needed);
    *oldlenp = needed;
    return 0;
}

int answerInt(int32_t value, void* oldp, size_t* oldlenp) {
    if (!oldlenp) {
        errno = EINVAL;
        return -1;
    }
    if (!oldp) {
        *oldlenp = sizeof value;
        return 0;
    }
    if (*oldlenp < sizeof value) {
        errno = ENOMEM;
        return -1;
    }
    std::memcpy(oldp, &value, sizeof value);
    *oldlenp = sizeof value;
    return 0;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace

int sysctlbyname(const char* name, void* oldp, size_t* oldlenp) {
    if (!name) {
        errno = EINVAL;
        return -1;
    }
    std::string n = name;
    utsname u{};
    if (n == "kern.osrelease" || n == "kern.osversion" || n == "hw.machine") {
        if (::uname(&u) != 0) return -1;
        if (n == "kern.osrelease") return answerString(u.release, oldp, oldlenp);
        if (n == "kern.osversion") return answerString(u.version, oldp, oldlenp);
        return answerString(u.machine, oldp, oldlenp);
    }
    if (n == "hw.cputype") return answerInt(kHostCpuType, oldp, oldlenp);
    if (n == "hw.cpusubtype") return answerInt(kHostCpuSubtype, oldp, oldlenp);
    if (n == "hw.physicalcpu_max")
        return answerInt(static_cast<int32_t>(::sysconf(_SC_NPROCESSORS_CONF)), oldp, oldlenp);
    if (n == "hw.logicalcpu_max")
        return answerInt(static_cast<int32_t>(::sysconf(_SC_NPROCESSORS_ONLN)), oldp, oldlenp);
    if (n == "sysctl.proc_native") return answerInt(1, oldp, oldlenp);
    errno = ENOENT;
    return -1;
}

bool proc_info(int32_t pid, kinfo_proc* out) {
    const std::string dir = "/proc/" + std::to_string(pid);
    const std::string stat = readFile(dir + "/stat");
    if (stat.empty()) {
        errno = ESRCH;
        return false;
    }
    // The command name sits in parentheses and may itself hold ") "; the fields follow the last ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        errno = EINVAL;
        return false;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    std::string values[20];
    for (int i = 0; i < 20 && (fields >> field); ++i) values[i] = field;
    // After the name: state(3) ppid(4) ... starttime(22), i.e. index 0 is field 3.
    *out = kinfo_proc{};
    out->pid = pid;
    out->ppid = static_cast<int32_t>(std::strtol(values[1].c_str(), nullptr, 10));
    const unsigned long long startTicks = std::strtoull(values[19].c_str(), nullptr, 10);

    std::string comm = readFile(dir + "/comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    std::memcpy(out->comm, comm.data(), std::min(comm.size(), sizeof out->comm));

    long long bootTime = 0;
    std::istringstream procStat(readFile("/proc/stat"));
    for (std::string line; std::getline(procStat, line);) {
        if (line.rfind("btime ", 0) == 0) bootTime = std::strtoll(line.c_str() + 6, nullptr, 10);
    }
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (ticks > 0) {
        out->start.tv_sec = static_cast<time_t>(bootTime + static_cast<long long>(startTicks / ticks));
        out->start.tv_usec = static_cast<suseconds_t>((startTicks % ticks) * 1000000 / ticks);
    }

    std::istringstream status(readFile(dir + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("TracerPid:", 0) == 0) out->traced = std::strtol(line.c_str() + 10, nullptr, 10) != 0;
    }
    return true;
}

std::string executable_path() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace kernel
