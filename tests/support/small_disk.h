// A real file system with little room, for the tests of what a full disk does to the app: a tmpfs
// of a given size mounted over a directory, in a mount namespace of the test's own thread, so the
// host never sees it and it goes with the process. Mounting needs root (or the namespace
// capability); where it is not allowed, available() is false and why() says so, for a skip.
#pragma once

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace hxtest {

class SmallDisk {
public:
    SmallDisk(const std::filesystem::path& directory, size_t bytes) : directory_(directory) {
        std::error_code ec;
        std::filesystem::create_directories(directory, ec);
        if (!privateMounts()) return;
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (::mount("tmpfs", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            why_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(directory_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool available() const { return mounted_; }
    const std::string& why() const { return why_; }
    // Takes the tmpfs away again, leaving the directory as it was (room again).
    void unmount() {
        if (mounted_) ::umount2(directory_.c_str(), MNT_DETACH);
        mounted_ = false;
    }

private:
    // Once per thread: a mount namespace of its own whose mounts do not propagate to the host.
    bool privateMounts() {
        static thread_local int state = 0;  // 0 not tried, 1 done, -1 refused
        static thread_local std::string refusal;
        if (state == 0) {
            if (::unshare(CLONE_NEWNS) != 0) {
                refusal = std::string("no mount namespace of its own: ") + std::strerror(errno);
                state = -1;
            } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
                refusal = std::string("cannot make the mounts private: ") + std::strerror(errno);
                state = -1;
            } else {
                state = 1;
            }
        }
        why_ = refusal;
        return state == 1;
    }

    std::filesystem::path directory_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace hxtest
