// A full disk for this process: while one lives, no file can grow past a few bytes, so writes
// fail as they do when the disk is full (EFBIG), and nothing else on the machine is touched.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace hxtest {

class FullDisk {
public:
    explicit FullDisk(rlim_t bytes = 16) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FullDisk() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

}  // namespace hxtest
